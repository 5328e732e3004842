// Windows, classes, extended styles, layered alpha and monitors.
#include "platform/simulated/state.h"

#include <stdexcept>

namespace {

constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;

HWND AddWindow(SimWindow window)
{
    Sim().windows.push_back(std::move(window));
    return SimHandle(Sim().windows.size() - 1);
}

bool Matches(const SimWindow& window, LPCWSTR className, LPCWSTR windowName)
{
    return window.alive && !window.messageOnly && (className == nullptr || window.className == className) &&
           (windowName == nullptr || window.title == windowName);
}

HWND FindTopLevel(std::size_t start, LPCWSTR className, LPCWSTR windowName)
{
    for (std::size_t i = start; i < Sim().windows.size(); ++i) {
        if (Matches(Sim().windows[i], className, windowName)) {
            return SimHandle(i);
        }
    }
    return nullptr;
}

SimWindow& Existing(HWND window)
{
    SimWindow* found = SimLookup(window);
    if (found == nullptr) {
        throw std::logic_error("no such window in the simulated desktop");
    }
    return *found;
}

// The window whose extended style is read or written; null, with the last
// error set, for a handle that names no window.
SimWindow* ExStyleOf(HWND window, int index)
{
    if (index != GWL_EXSTYLE) {
        throw std::logic_error("the simulated desktop models only GWL_EXSTYLE");
    }
    SimWindow* found = SimLookup(window);
    if (found == nullptr) {
        SimFail(ERROR_INVALID_WINDOW_HANDLE);
    }
    return found;
}

}  // namespace

HWND SimAddShellWindow(const wchar_t* className, LONG_PTR exStyle)
{
    SimWindow window;
    window.className = className;
    window.exStyle = exStyle;
    return AddWindow(window);
}

void SimCloseShellWindow(HWND window)
{
    Existing(window).alive = false;
}

void SimSetMonitorCount(int count)
{
    Sim().monitorCount = count;
}

void SimFailStyleRead(HWND window)
{
    Existing(window).styleReadFails = true;
}

const SimWindow& SimWindowState(HWND window)
{
    const auto value = reinterpret_cast<std::uintptr_t>(window);
    const std::size_t index = value / 0x10 - 1;
    if (value == 0 || value % 0x10 != 0 || index >= Sim().windows.size()) {
        throw std::logic_error("no such window in the simulated desktop");
    }
    return Sim().windows[index];
}

HWND SimFindOurWindow(const wchar_t* className)
{
    for (std::size_t i = 0; i < Sim().windows.size(); ++i) {
        const SimWindow& window = Sim().windows[i];
        if (window.ours && window.alive && window.className == className) {
            return SimHandle(i);
        }
    }
    return nullptr;
}

const WNDCLASSEXW* SimRegisteredClass(const wchar_t* className)
{
    auto found = Sim().classes.find(className);
    return found == Sim().classes.end() ? nullptr : &found->second;
}

HWND SimForeground()
{
    return Sim().foreground;
}

HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName)
{
    SimLog("FindWindowW", nullptr);
    return FindTopLevel(0, className, windowName);
}

HWND WINAPI FindWindowExW(HWND parent, HWND after, LPCWSTR className, LPCWSTR windowName)
{
    SimLog("FindWindowExW", after);
    if (parent != nullptr) {
        throw std::logic_error("the simulated desktop searches top-level windows only");
    }
    // Handles encode creation order, which is the order windows are found in.
    const std::size_t start = after == nullptr ? 0 : reinterpret_cast<std::uintptr_t>(after) / 0x10;
    return FindTopLevel(start, className, windowName);
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index)
{
    SimLog("GetWindowLongPtrW", window, index);
    SimWindow* found = ExStyleOf(window, index);
    if (found == nullptr) {
        return 0;
    }
    if (found->styleReadFails) {
        SimFail(ERROR_ACCESS_DENIED);
        return 0;
    }
    return found->exStyle;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND window, int index, LONG_PTR value)
{
    SimLog("SetWindowLongPtrW", window, index, value);
    SimWindow* found = ExStyleOf(window, index);
    if (found == nullptr) {
        return 0;
    }
    const LONG_PTR previous = found->exStyle;
    found->exStyle = value;
    return previous;
}

BOOL WINAPI SetLayeredWindowAttributes(HWND window, DWORD colourKey, unsigned char alpha, DWORD flags)
{
    SimLog("SetLayeredWindowAttributes", window, alpha, flags, colourKey);
    SimWindow* found = SimLookup(window);
    if (found == nullptr) {
        SimFail(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Like Windows: only a window that has the layered style takes an alpha.
    if ((found->exStyle & WS_EX_LAYERED) == 0) {
        SimFail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    found->alpha = alpha;
    found->layeredFlags = flags;
    return TRUE;
}

BOOL WINAPI EnumDisplayMonitors(HDC, LPCRECT, MONITORENUMPROC callback, LPARAM data)
{
    SimLog("EnumDisplayMonitors", nullptr);
    for (int i = 0; i < Sim().monitorCount; ++i) {
        auto monitor = reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(0x1000 + i));
        if (!callback(monitor, nullptr, nullptr, data)) {
            break;
        }
    }
    return TRUE;
}

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* windowClass)
{
    SimLog("RegisterClassExW", nullptr);
    if (windowClass->cbSize != sizeof(WNDCLASSEXW) || windowClass->lpszClassName == nullptr) {
        SimFail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!Sim().classes.emplace(windowClass->lpszClassName, *windowClass).second) {
        SimFail(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    return static_cast<ATOM>(0xC000 + Sim().classes.size());
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD, int, int, int, int,
                            HWND parent, HMENU, HINSTANCE, LPVOID)
{
    SimLog("CreateWindowExW", parent);
    auto windowClass = Sim().classes.find(className);
    if (windowClass == Sim().classes.end()) {
        SimFail(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    SimWindow window;
    window.className = className;
    window.title = windowName == nullptr ? L"" : windowName;
    window.exStyle = exStyle;
    window.proc = windowClass->second.lpfnWndProc;
    window.messageOnly = parent == HWND_MESSAGE;
    window.ours = true;
    HWND handle = AddWindow(window);
    // As on Windows, a procedure that refuses WM_NCCREATE or WM_CREATE
    // (by not leaving them to DefWindowProcW) gets no window.
    if (window.proc(handle, WM_NCCREATE, 0, 0) == 0 || window.proc(handle, WM_CREATE, 0, 0) == -1) {
        Existing(handle).alive = false;
        return nullptr;
    }
    return handle;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    SimLog("DestroyWindow", window);
    SimWindow* found = SimLookup(window);
    if (found == nullptr) {
        SimFail(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!found->ours) {
        SimFail(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    found->proc(window, WM_DESTROY, 0, 0);
    Existing(window).alive = false;
    return TRUE;
}

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    SimLog("DefWindowProcW", window, message);
    static_cast<void>(wParam);
    static_cast<void>(lParam);
    if (message == WM_NCCREATE) {
        return TRUE;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    }
    return 0;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    SimLog("SetForegroundWindow", window);
    if (SimLookup(window) == nullptr) {
        return FALSE;
    }
    Sim().foreground = window;
    return TRUE;
}
