#include "check/readout.h"

int FindTaskbars(HWND* taskbars, int capacity)
{
    int count = 0;
    HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (primary != nullptr && count < capacity) {
        taskbars[count++] = primary;
    }
    for (HWND after = nullptr;
         count < capacity &&
         (after = FindWindowExW(nullptr, after, L"Shell_SecondaryTrayWnd", nullptr)) != nullptr;) {
        taskbars[count++] = after;
    }
    return count;
}

TaskbarState ReadTaskbar(HWND taskbar)
{
    TaskbarState state = {};
    if (taskbar == nullptr || !IsWindow(taskbar)) {
        return state;
    }
    state.window = taskbar;
    state.visible = IsWindowVisible(taskbar) != FALSE;
    state.exStyle = GetWindowLongPtrW(taskbar, GWL_EXSTYLE);
    state.layered = (state.exStyle & WS_EX_LAYERED) != 0;
    state.alphaKnown =
        GetLayeredWindowAttributes(taskbar, &state.key, &state.alpha, &state.flags) != FALSE;
    return state;
}

DWORD WindowProcess(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

// A window of that class (null: any) under `parent` (null: the desktop), of that process (0: any).
static HWND FindOf(HWND parent, const wchar_t* className, DWORD pid, bool visible)
{
    for (HWND window = nullptr;
         (window = FindWindowExW(parent, window, className, nullptr)) != nullptr;) {
        if ((!visible || IsWindowVisible(window)) && (pid == 0 || WindowProcess(window) == pid)) {
            return window;
        }
    }
    return nullptr;
}

HWND FindHushpaneWindow(DWORD pid)
{
    return FindOf(HWND_MESSAGE, L"TrayIconApp", pid, false);
}

HWND FindVisibleWindow(const wchar_t* className, DWORD pid)
{
    return FindOf(nullptr, className, pid, true);
}

HWND TopLevelAt(POINT point)
{
    return GetAncestor(WindowFromPoint(point), GA_ROOT);
}

bool ThreadHoldsForeground(DWORD thread, bool* inMenu)
{
    auto ofThread = [thread](HWND window) {
        return window != nullptr && GetWindowThreadProcessId(window, nullptr) == thread;
    };
    GUITHREADINFO foreground = {};
    foreground.cbSize = sizeof(foreground);
    const bool read = thread != 0 && GetGUIThreadInfo(0, &foreground);
    // A menu's owner is the window that opened it (Wine names the menu's own window).
    const bool menuMode = (foreground.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE)) != 0;
    *inMenu = read && menuMode && ofThread(foreground.hwndMenuOwner);
    if (ofThread(GetForegroundWindow())) {
        return true;
    }
    return read && (ofThread(foreground.hwndMenuOwner) || ofThread(foreground.hwndCapture) ||
                    ofThread(foreground.hwndActive) || ofThread(foreground.hwndFocus));
}
