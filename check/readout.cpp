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
