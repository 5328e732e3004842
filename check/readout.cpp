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
    state.alphaKnown = GetLayeredWindowAttributes(taskbar, &state.key, &state.alpha, &state.flags) != FALSE;
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

DWORD g_inputError = 0;

namespace {

bool Send(INPUT& input)
{
    if (SendInput(1, &input, sizeof(input)) == 1) {
        return true;
    }
    g_inputError = GetLastError();
    return false;
}

}  // namespace

bool PressKey(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    const bool sent = Send(input);
    Sleep(20);
    return sent;
}

bool TapKey(WORD key)
{
    const bool down = PressKey(key, false);
    return PressKey(key, true) && down;
}

bool PressCtrl0()
{
    const bool control = PressKey(VK_CONTROL, false);
    const bool zero = TapKey('0');
    return PressKey(VK_CONTROL, true) && control && zero;
}

bool MoveMouse(POINT point)
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
    const bool sent = Send(input);
    Sleep(50);
    return sent;
}

bool PressLeftButton()
{
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const bool sent = SendInput(2, inputs, sizeof(INPUT)) == 2;
    if (!sent) {
        g_inputError = GetLastError();
    }
    Sleep(100);
    return sent;
}

bool ClickAt(POINT point)
{
    const bool moved = MoveMouse(point);
    return PressLeftButton() && moved;
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
    return GetMenuItemCount(menu) > item && GetMenuItemRect(nullptr, menu, static_cast<UINT>(item), rect);
}

RECT SplitMenuItemRect(HWND menuWindow, int item, int count)
{
    RECT whole = {};
    GetWindowRect(menuWindow, &whole);
    return SplitRow(whole, item, count);
}
