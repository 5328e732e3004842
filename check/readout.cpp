#include "check/readout.h"

#include <cwchar>

int FindTaskbars(HWND* taskbars, int capacity)
{
    int count = 0;
    HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (primary != nullptr && count < capacity) {
        taskbars[count++] = primary;
    }
    for (HWND after = nullptr;
         count < capacity && (after = FindWindowExW(nullptr, after, L"Shell_SecondaryTrayWnd", nullptr)) != nullptr;) {
        taskbars[count++] = after;
    }
    return count;
}

TaskbarState ReadTaskbar(HWND taskbar)
{
    TaskbarState state = {};
    state.window = taskbar;
    if (taskbar == nullptr || !IsWindow(taskbar)) {
        return state;
    }
    state.visible = IsWindowVisible(taskbar) != FALSE;
    state.exStyle = GetWindowLongPtrW(taskbar, GWL_EXSTYLE);
    state.layered = (state.exStyle & WS_EX_LAYERED) != 0;
    COLORREF key = 0;
    state.alphaKnown = GetLayeredWindowAttributes(taskbar, &key, &state.alpha, &state.flags) != FALSE;
    return state;
}

bool HasAlpha(const TaskbarState& state, int alpha)
{
    return state.window != nullptr && state.layered && state.alphaKnown && state.alpha == alpha &&
           (state.flags & LWA_ALPHA) != 0;
}

DWORD WindowProcess(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

HWND FindHushpaneWindow(DWORD pid)
{
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, L"TrayIconApp", nullptr)) != nullptr;) {
        if (pid == 0 || WindowProcess(window) == pid) {
            return window;
        }
    }
    return nullptr;
}

namespace {

struct ClassSearch {
    const wchar_t* className;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisibleOfClass(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<ClassSearch*>(data);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if ((search->className == nullptr || std::wcscmp(className, search->className) == 0) && IsWindowVisible(window) &&
        (search->pid == 0 || WindowProcess(window) == search->pid)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindVisibleWindow(const wchar_t* className, DWORD pid)
{
    ClassSearch search = {className, pid, nullptr};
    EnumWindows(FindVisibleOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void PressKey(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
    Sleep(20);
}

void TapKey(WORD key)
{
    PressKey(key, false);
    PressKey(key, true);
}

void PressCtrl0()
{
    PressKey(VK_CONTROL, false);
    TapKey('0');
    PressKey(VK_CONTROL, true);
}

void MoveMouse(POINT point)
{
    // Absolute positions run from 0 to 65535 across the whole virtual screen.
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(point.x - left, 65535, width > 1 ? width - 1 : 1);
    input.mi.dy = MulDiv(point.y - top, 65535, height > 1 ? height - 1 : 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    SendInput(1, &input, sizeof(input));
    Sleep(50);
}

void ClickAt(POINT point)
{
    MoveMouse(point);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, &input, sizeof(input));
    Sleep(50);
    input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof(input));
    Sleep(50);
}

HMENU MenuOfWindow(HWND menuWindow)
{
    DWORD_PTR menu = 0;
    SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 1000, &menu);
    return reinterpret_cast<HMENU>(menu);
}

bool ReadMenuItemRect(HWND menuWindow, int item, RECT* rect)
{
    HMENU menu = MenuOfWindow(menuWindow);
    if (GetMenuItemCount(menu) <= item || !GetMenuItemRect(nullptr, menu, static_cast<UINT>(item), rect)) {
        return false;
    }
    RECT window = {};
    GetWindowRect(menuWindow, &window);
    return rect->left < rect->right && rect->top < rect->bottom && rect->left >= window.left &&
           rect->right <= window.right && rect->top >= window.top && rect->bottom <= window.bottom;
}

RECT SplitMenuItemRect(HWND menuWindow, int item, int count)
{
    RECT inside = {};
    GetClientRect(menuWindow, &inside);
    MapWindowPoints(menuWindow, nullptr, reinterpret_cast<POINT*>(&inside), 2);
    const LONG height = inside.bottom - inside.top;
    RECT rect = inside;
    rect.top = inside.top + height * item / count;
    rect.bottom = inside.top + height * (item + 1) / count;
    return rect;
}

POINT Middle(const RECT& rect)
{
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}
