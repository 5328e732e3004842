// hpprobe.exe: looks at and drives a running Hushpane from another process,
// the way a user or another program on the same desktop could. Each command
// prints what it observed on one line; waits poll with a deadline.
#include "check/readout.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

TaskbarState ReadPrimary()
{
    return ReadTaskbar(FindWindowW(L"Shell_TrayWnd", nullptr));
}

void PrintTaskbar(const TaskbarState& state)
{
    if (state.window == nullptr) {
        std::printf("taskbar=none\n");
        return;
    }
    std::printf("taskbar=%p layered=%d alpha=%d flags=%lu\n", static_cast<void*>(state.window), state.layered ? 1 : 0,
                state.alphaKnown ? state.alpha : -1, state.flags);
}

// Polls until the taskbar is layered with alpha A (LWA_ALPHA), or MS pass;
// returns the state last read.
TaskbarState AwaitAlpha(int alpha, DWORD timeout)
{
    const DWORD start = GetTickCount();
    TaskbarState state = ReadPrimary();
    while (!HasAlpha(state, alpha) && GetTickCount() - start < timeout) {
        Sleep(POLL_MS);
        state = ReadPrimary();
    }
    return state;
}

// wait-alpha A MS: until the taskbar is layered with alpha A (LWA_ALPHA), or MS pass.
int WaitAlpha(int alpha, DWORD timeout)
{
    const DWORD start = GetTickCount();
    const TaskbarState state = AwaitAlpha(alpha, timeout);
    std::printf("after=%lums ", GetTickCount() - start);
    PrintTaskbar(state);
    return HasAlpha(state, alpha) ? 0 : 1;
}

// keep-alpha A MS: the alpha stays A for the whole of MS.
int KeepAlpha(int alpha, DWORD duration)
{
    const DWORD start = GetTickCount();
    TaskbarState state = ReadPrimary();
    while (HasAlpha(state, alpha) && GetTickCount() - start < duration) {
        Sleep(POLL_MS);
        state = ReadPrimary();
    }
    std::printf("after=%lums ", GetTickCount() - start);
    PrintTaskbar(state);
    return HasAlpha(state, alpha) ? 0 : 1;
}

// reset: the taskbar as the shell made it, not layered and fully opaque.
int Reset()
{
    TaskbarState state = ReadPrimary();
    if (state.window == nullptr) {
        PrintTaskbar(state);
        return 1;
    }
    SetLayeredWindowAttributes(state.window, 0, 255, LWA_ALPHA);
    SetWindowLongPtrW(state.window, GWL_EXSTYLE, GetWindowLongPtrW(state.window, GWL_EXSTYLE) & ~WS_EX_LAYERED);
    state = ReadPrimary();
    PrintTaskbar(state);
    return state.layered ? 1 : 0;
}

// show: alpha 255 on the taskbar, keeping whatever style it has.
int Show()
{
    TaskbarState state = ReadPrimary();
    if (state.window != nullptr) {
        SetLayeredWindowAttributes(state.window, 0, 255, LWA_ALPHA);
    }
    PrintTaskbar(ReadPrimary());
    return state.window != nullptr ? 0 : 1;
}

// press KEY...: real keyboard input; "ctrl+0" holds Ctrl while 0 goes down and up.
int Press(const wchar_t* name)
{
    if (std::wcscmp(name, L"ctrl+0") == 0) {
        PressCtrl0();
    } else {
        const WORD key = std::wcscmp(name, L"down") == 0     ? VK_DOWN
                         : std::wcscmp(name, L"enter") == 0  ? VK_RETURN
                         : std::wcscmp(name, L"escape") == 0 ? VK_ESCAPE
                                                             : 0;
        if (key == 0) {
            std::printf("unknown key\n");
            return 2;
        }
        TapKey(key);
    }
    std::printf("pressed\n");
    return 0;
}

LRESULT CALLBACK KeepAliveProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// keepalive: a GUI process that holds the desktop (and its taskbar) up.
int KeepAlive()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = KeepAliveProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HushpaneE2EKeepAlive";
    RegisterClassW(&windowClass);
    CreateWindowExW(0, windowClass.lpszClassName, L"keepalive", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                    windowClass.hInstance, nullptr);
    std::printf("keepalive\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}

// hidden: the program's message-only window, its title and process.
int Hidden()
{
    HWND hidden = FindHushpaneWindow(0);
    if (hidden == nullptr) {
        std::printf("hidden=none\n");
        return 1;
    }
    wchar_t title[128] = {};
    GetWindowTextW(hidden, title, 128);
    DWORD pid = 0;
    GetWindowThreadProcessId(hidden, &pid);
    std::printf("hidden=%p title=%ls pid=%lu\n", static_cast<void*>(hidden), title, pid);
    return 0;
}

// click left|right: the icon's callback, sent the way the shell sends it.
int Click(const wchar_t* button)
{
    HWND hidden = FindHushpaneWindow(0);
    if (hidden == nullptr) {
        std::printf("hidden=none\n");
        return 1;
    }
    const LPARAM mouse = std::wcscmp(button, L"left") == 0 ? WM_LBUTTONUP : WM_RBUTTONUP;
    SendNotifyMessageW(hidden, WM_TRAYICON, 1, mouse);
    std::printf("clicked\n");
    return 0;
}

// Waits for a visible top-level window of that class; null when none came.
HWND WaitForVisible(const wchar_t* className, DWORD timeout)
{
    const DWORD start = GetTickCount();
    HWND found = FindVisibleWindow(className, 0);
    while (found == nullptr && GetTickCount() - start < timeout) {
        Sleep(POLL_MS);
        found = FindVisibleWindow(className, 0);
    }
    return found;
}

// find CLASS MS: waits for a visible top-level window of that class (an open
// menu is #32768, a tooltip tooltips_class32) and prints where it is.
int Find(const wchar_t* className, DWORD timeout)
{
    HWND found = WaitForVisible(className, timeout);
    if (found == nullptr) {
        std::printf("found=none\n");
        return 1;
    }
    RECT rect = {};
    GetWindowRect(found, &rect);
    std::printf("found=%p rect=%ld,%ld,%ld,%ld\n", static_cast<void*>(found), rect.left, rect.top, rect.right,
                rect.bottom);
    return 0;
}

// Waits until no visible top-level window of that class is left.
bool WaitForNone(const wchar_t* className, DWORD timeout)
{
    const DWORD start = GetTickCount();
    while (WaitForVisible(className, 0) != nullptr) {
        if (GetTickCount() - start >= timeout) {
            return false;
        }
        Sleep(POLL_MS);
    }
    return true;
}

// no-menu MS: waits until no popup menu is open.
int NoMenu(DWORD timeout)
{
    const bool closed = WaitForNone(L"#32768", timeout);
    std::printf(closed ? "menu=closed\n" : "menu=open\n");
    return closed ? 0 : 1;
}

double Milliseconds(const LARGE_INTEGER& from)
{
    LARGE_INTEGER now = {};
    LARGE_INTEGER frequency = {};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// launch EXE MS [EVENT|window=CLASS]: starts EXE and times its first sign
// of life: the named event set when EVENT is given; a message-only window of
// CLASS, which a program of ours creates at the end of its start-up, just
// before it adds its icon; the taskbar hidden otherwise. The program is ended
// afterwards. For benchmarks.
int Launch(const wchar_t* exe, DWORD timeout, const wchar_t* sign)
{
    const wchar_t* windowClass = sign != nullptr && std::wcsncmp(sign, L"window=", 7) == 0 ? sign + 7 : nullptr;
    HANDLE event = sign != nullptr && windowClass == nullptr ? CreateEventW(nullptr, TRUE, FALSE, sign) : nullptr;
    std::wstring commandLine = L"\"" + std::wstring(exe) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER start = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(exe, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("launch=failed error=%lu\n", GetLastError());
        return 1;
    }
    bool alive = false;
    if (event != nullptr) {
        alive = WaitForSingleObject(event, timeout) == WAIT_OBJECT_0;
    } else {
        auto signOfLife = [&] {
            return windowClass != nullptr ? FindWindowExW(HWND_MESSAGE, nullptr, windowClass, nullptr) != nullptr
                                          : HasAlpha(ReadPrimary(), 0);
        };
        while (!(alive = signOfLife()) && Milliseconds(start) < timeout) {
            Sleep(1);
        }
    }
    const double elapsed = Milliseconds(start);
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (event != nullptr) {
        CloseHandle(event);
    }
    std::printf("alive=%d ms=%.2f\n", alive ? 1 : 0, elapsed);
    return alive ? 0 : 1;
}

// press-wait-alpha A MS: Ctrl+0, then times until the taskbar has alpha A.
int PressWaitAlpha(int alpha, DWORD timeout)
{
    PressKey(VK_CONTROL, false);
    INPUT zero = {};
    zero.type = INPUT_KEYBOARD;
    zero.ki.wVk = '0';
    zero.ki.wScan = static_cast<WORD>(MapVirtualKeyW('0', MAPVK_VK_TO_VSC));
    LARGE_INTEGER start = {};
    QueryPerformanceCounter(&start);
    SendInput(1, &zero, sizeof(zero));
    zero.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &zero, sizeof(zero));
    PressKey(VK_CONTROL, true);
    bool reached = false;
    while (!(reached = HasAlpha(ReadPrimary(), alpha)) && Milliseconds(start) < timeout) {
        Sleep(1);
    }
    std::printf("reached=%d ms=%.2f\n", reached ? 1 : 0, Milliseconds(start));
    return reached ? 0 : 1;
}

// One use of the icon as a user makes it: a menu opened and dismissed, a box
// opened and closed, or Pause chosen (and the taskbar's alpha flipped by it).
bool UseIconOnce(const wchar_t* kind)
{
    HWND hidden = FindHushpaneWindow(0);
    const bool box = std::wcscmp(kind, L"box") == 0;
    if (hidden == nullptr || !SendNotifyMessageW(hidden, WM_TRAYICON, 1, box ? WM_LBUTTONUP : WM_RBUTTONUP)) {
        return false;
    }
    if (box) {
        HWND shown = WaitForVisible(L"#32770", 5000);
        return shown != nullptr && PostMessageW(shown, WM_COMMAND, IDOK, 0) && WaitForNone(L"#32770", 5000);
    }
    if (WaitForVisible(L"#32768", 5000) == nullptr) {
        return false;
    }
    if (std::wcscmp(kind, L"pause") != 0) {
        TapKey(VK_ESCAPE);
        return WaitForNone(L"#32768", 5000);
    }
    const int wanted = HasAlpha(ReadPrimary(), 0) ? 255 : 0;
    TapKey(VK_DOWN);
    TapKey(VK_RETURN);
    return HasAlpha(AwaitAlpha(wanted, 3000), wanted);
}

// use-icon menu|box|pause N: that use of the icon N times, one after another.
int UseIcon(const wchar_t* kind, unsigned long times)
{
    for (unsigned long done = 0; done < times; ++done) {
        if (!UseIconOnce(kind)) {
            std::printf("used=%lu failed\n", done);
            return 1;
        }
    }
    std::printf("used=%lu\n", times);
    return 0;
}

struct WindowCount {
    DWORD pid;
    int count;
};

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM data)
{
    auto* windows = reinterpret_cast<WindowCount*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == windows->pid) {
        ++windows->count;
        EnumChildWindows(window, CountOwnWindow, data);
    }
    return TRUE;
}

// objects PID: the kernel handles that process holds (found by trying to
// duplicate each handle value, since Wine reads GetProcessHandleCount as 0)
// and the windows it owns, message-only ones and children included.
int Objects(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
    if (process == nullptr) {
        std::printf("objects=none error=%lu\n", GetLastError());
        return 1;
    }
    int handles = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            ++handles;
            CloseHandle(copy);
        }
    }
    CloseHandle(process);
    WindowCount windows = {pid, 0};
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;) {
        CountOwnWindow(window, reinterpret_cast<LPARAM>(&windows));
    }
    std::printf("handles=%d windows=%d\n", handles, windows.count);
    return 0;
}

int Usage()
{
    std::printf("usage: hpprobe taskbar | wait-alpha A MS | keep-alpha A MS | reset | show | press KEY | keepalive |"
                " hidden | click left|right | find CLASS MS | no-menu MS | launch EXE MS [EVENT|window=CLASS] |"
                " press-wait-alpha A MS | use-icon menu|box|pause N | objects PID\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];
    auto number = [&](int i) { return i < argc ? std::wcstoul(argv[i], nullptr, 0) : 0UL; };
    int result = 2;
    if (command == L"taskbar") {
        PrintTaskbar(ReadPrimary());
        result = 0;
    } else if (command == L"wait-alpha") {
        result = WaitAlpha(static_cast<int>(number(2)), number(3));
    } else if (command == L"keep-alpha") {
        result = KeepAlpha(static_cast<int>(number(2)), number(3));
    } else if (command == L"reset") {
        result = Reset();
    } else if (command == L"show") {
        result = Show();
    } else if (command == L"press" && argc > 2) {
        result = Press(argv[2]);
    } else if (command == L"keepalive") {
        result = KeepAlive();
    } else if (command == L"hidden") {
        result = Hidden();
    } else if (command == L"click" && argc > 2) {
        result = Click(argv[2]);
    } else if (command == L"launch" && argc > 3) {
        result = Launch(argv[2], number(3), argc > 4 ? argv[4] : nullptr);
    } else if (command == L"press-wait-alpha") {
        result = PressWaitAlpha(static_cast<int>(number(2)), number(3));
    } else if (command == L"find" && argc > 2) {
        result = Find(argv[2], number(3));
    } else if (command == L"no-menu") {
        result = NoMenu(number(2));
    } else if (command == L"use-icon" && argc > 3) {
        result = UseIcon(argv[2], number(3));
    } else if (command == L"objects") {
        result = Objects(number(2));
    } else {
        result = Usage();
    }
    std::fflush(stdout);
    return result;
}
