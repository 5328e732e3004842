// The notification area, icons, popup menus, message boxes and strings.
#include "platform/simulated/state.h"

#include <stdexcept>

namespace {

constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007AL);
constexpr HRESULT STRSAFE_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057L);
constexpr std::uintptr_t APP_ICON = 0x7001;
constexpr std::uintptr_t FIRST_MENU = 0x9000;

SimMenu* FindMenu(HMENU menu)
{
    const auto value = reinterpret_cast<std::uintptr_t>(menu);
    if (value < FIRST_MENU || value - FIRST_MENU >= Sim().menus.size()) {
        return nullptr;
    }
    SimMenu& found = Sim().menus[value - FIRST_MENU];
    return found.destroyed ? nullptr : &found;
}

}  // namespace

void SimRemoveIconResource()
{
    Sim().iconResourcePresent = false;
}

void SimSetCursor(int x, int y)
{
    Sim().cursor = POINT{x, y};
}

void SimScriptMenuChoice(UINT_PTR id)
{
    Sim().menuChoices.push_back(id);
}

bool SimClickIcon(UINT mouseMessage)
{
    if (Sim().icons.empty()) {
        return false;
    }
    // The shell sends the callback with the icon's identifier in wParam and
    // the mouse message itself in lParam (no NIM_SETVERSION was asked for).
    const NOTIFYICONDATAW& icon = Sim().icons.begin()->second;
    SimSend(icon.hWnd, icon.uCallbackMessage, icon.uID, static_cast<LPARAM>(mouseMessage));
    return true;
}

const std::map<std::pair<HWND, UINT>, NOTIFYICONDATAW>& SimIcons()
{
    return Sim().icons;
}

const std::vector<SimBox>& SimBoxes()
{
    return Sim().boxes;
}

const std::vector<SimShownMenu>& SimShownMenus()
{
    return Sim().shownMenus;
}

int SimMenusNotDestroyed()
{
    int count = 0;
    for (const SimMenu& menu : Sim().menus) {
        count += menu.destroyed ? 0 : 1;
    }
    return count;
}

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name)
{
    SimLog("LoadIconW", nullptr, reinterpret_cast<LONG_PTR>(instance), reinterpret_cast<LONG_PTR>(name));
    if (instance == GetModuleHandleW(nullptr) && name == MAKEINTRESOURCEW(101) && Sim().iconResourcePresent) {
        return reinterpret_cast<HICON>(APP_ICON);
    }
    SimFail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    SimLog("MessageBoxW", owner, static_cast<LONG_PTR>(type));
    Sim().boxes.push_back({owner, text, caption, type, Sim().now});
    return IDOK;
}

BOOL WINAPI Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data)
{
    SimLog("Shell_NotifyIconW", data->hWnd, message, data->uID);
    const auto key = std::make_pair(data->hWnd, data->uID);
    if (message == NIM_ADD) {
        if (data->cbSize != sizeof(NOTIFYICONDATAW) || !Sim().icons.emplace(key, *data).second) {
            return FALSE;
        }
        return TRUE;
    }
    if (message == NIM_DELETE) {
        return Sim().icons.erase(key) == 1 ? TRUE : FALSE;
    }
    throw std::logic_error("the simulated notification area models NIM_ADD and NIM_DELETE only");
}

HMENU WINAPI CreatePopupMenu()
{
    SimLog("CreatePopupMenu", nullptr);
    Sim().menus.emplace_back();
    return reinterpret_cast<HMENU>(FIRST_MENU + Sim().menus.size() - 1);
}

BOOL WINAPI AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text)
{
    SimLog("AppendMenuW", nullptr, static_cast<LONG_PTR>(id), flags);
    SimMenu* found = FindMenu(menu);
    if (found == nullptr) {
        SimFail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    found->items.push_back({flags, id, text});
    return TRUE;
}

BOOL WINAPI GetCursorPos(POINT* point)
{
    SimLog("GetCursorPos", nullptr);
    *point = Sim().cursor;
    return TRUE;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*)
{
    SimLog("TrackPopupMenu", owner, x, y, flags);
    SimMenu* found = FindMenu(menu);
    if (found == nullptr || SimLookup(owner) == nullptr) {
        SimFail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    UINT_PTR chosen = 0;
    if (!Sim().menuChoices.empty()) {
        chosen = Sim().menuChoices.front();
        Sim().menuChoices.pop_front();
    }
    Sim().shownMenus.push_back({menu, found->items, x, y, flags, owner, Sim().foreground, chosen});
    if (chosen != 0) {
        bool offered = false;
        for (const SimMenuItem& item : found->items) {
            offered = offered || item.id == chosen;
        }
        if (!offered) {
            throw std::logic_error("the scripted choice is not an item of the menu");
        }
        SimPost(owner, WM_COMMAND, chosen, 0);
    }
    return TRUE;
}

BOOL WINAPI DestroyMenu(HMENU menu)
{
    SimLog("DestroyMenu", nullptr);
    SimMenu* found = FindMenu(menu);
    if (found == nullptr) {
        SimFail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    found->destroyed = true;
    return TRUE;
}

HRESULT StringCchCopyW(LPWSTR destination, std::size_t capacity, LPCWSTR source)
{
    if (capacity == 0) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    std::size_t i = 0;
    for (; i + 1 < capacity && source[i] != L'\0'; ++i) {
        destination[i] = source[i];
    }
    destination[i] = L'\0';
    return source[i] == L'\0' ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}
