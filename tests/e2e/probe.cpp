// hpprobe.exe: looks at and drives a running Hushpane from another process,
// the way a user or another program on the same desktop could, and makes
// what Wine's shell lacks for that (secondary taskbars). Each command says
// what it observed, a line per taskbar; waits poll with a deadline. `serve`
// takes one command after another on standard input, so that a test suite
// pays one Wine start for all its reads.
#include "check/readout.h"

#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

std::string g_said;  // what the command has said so far: printed once it returns

#ifdef __GNUC__
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Tell(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

void Say(const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    g_said += line;
}

// At once: for the commands that run until they are ended, whose lines a caller waits for.
void Tell(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

// The taskbars a command looks at: the primary one, or those that the
// command's last arguments name: "all" for every taskbar found now, or
// window handles as `taskbars` prints them.
struct Taskbars {
    HWND windows[MAX_TASKBARS];
    int count;
};

Taskbars g_watched = {{nullptr}, 0};

void Watch(int argc, wchar_t** argv, int first)
{
    if (first < argc && std::wcscmp(argv[first], L"all") == 0) {
        g_watched.count = FindTaskbars(g_watched.windows, MAX_TASKBARS);
        return;
    }
    for (int i = first; i < argc && g_watched.count < MAX_TASKBARS; ++i) {
        g_watched.windows[g_watched.count++] = reinterpret_cast<HWND>(std::wcstoull(argv[i], nullptr, 16));
    }
}

TaskbarState ReadPrimary()
{
    return ReadTaskbar(FindWindowW(L"Shell_TrayWnd", nullptr));
}

void PrintTaskbar(const TaskbarState& state)
{
    if (state.window == nullptr) {
        Say("taskbar=none\n");
        return;
    }
    Say("taskbar=%p layered=%d alpha=%d flags=%lu\n", static_cast<void*>(state.window), state.layered ? 1 : 0,
        state.alphaKnown ? state.alpha : -1, state.flags);
}

// Every watched taskbar has that alpha; prints them all, one line each.
bool AllHaveAlpha(int alpha, bool print)
{
    if (g_watched.count == 0) {
        const TaskbarState state = ReadPrimary();
        if (print) {
            PrintTaskbar(state);
        }
        return HasAlpha(state, alpha);
    }
    bool all = true;
    for (int i = 0; i < g_watched.count; ++i) {
        const TaskbarState state = ReadTaskbar(g_watched.windows[i]);
        all = all && HasAlpha(state, alpha);
        if (print) {
            PrintTaskbar(state);
        }
    }
    return all;
}

// Polls until the taskbars are layered with alpha A (LWA_ALPHA), or MS pass.
bool AwaitAlpha(int alpha, DWORD timeout)
{
    const DWORD start = GetTickCount();
    while (!AllHaveAlpha(alpha, false) && GetTickCount() - start < timeout) {
        Sleep(POLL_MS);
    }
    return AllHaveAlpha(alpha, false);
}

// wait-alpha A MS [all|HWND...]: until the taskbars have alpha A, or MS pass.
int WaitAlpha(int alpha, DWORD timeout)
{
    const DWORD start = GetTickCount();
    AwaitAlpha(alpha, timeout);
    Say("after=%lums ", GetTickCount() - start);
    return AllHaveAlpha(alpha, true) ? 0 : 1;
}

// keep-alpha A MS [all|HWND...]: the alpha stays A for the whole of MS.
int KeepAlpha(int alpha, DWORD duration)
{
    const DWORD start = GetTickCount();
    while (AllHaveAlpha(alpha, false) && GetTickCount() - start < duration) {
        Sleep(POLL_MS);
    }
    Say("after=%lums ", GetTickCount() - start);
    return AllHaveAlpha(alpha, true) ? 0 : 1;
}

// taskbars: each taskbar found now, the primary first, with its class and place.
int ListTaskbars()
{
    HWND windows[MAX_TASKBARS];
    const int count = FindTaskbars(windows, MAX_TASKBARS);
    for (int i = 0; i < count; ++i) {
        wchar_t className[64] = {};
        GetClassNameW(windows[i], className, 64);
        RECT rect = {};
        GetWindowRect(windows[i], &rect);
        Say("class=%ls rect=%ld,%ld,%ld,%ld ", className, rect.left, rect.top, rect.right, rect.bottom);
        PrintTaskbar(ReadTaskbar(windows[i]));
    }
    return count > 0 ? 0 : 1;
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

INPUT KeyInput(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Real keyboard input, as if typed: the key down and up, with Ctrl held
// around it when `control` says so, in one SendInput call.
bool Type(WORD key, bool control)
{
    INPUT inputs[] = {KeyInput(VK_CONTROL, false), KeyInput(key, false), KeyInput(key, true),
                      KeyInput(VK_CONTROL, true)};
    const UINT count = control ? 4 : 2;
    const bool sent = SendInput(count, control ? inputs : inputs + 1, sizeof(INPUT)) == count;
    Sleep(20);
    return sent;
}

// press KEY: real keyboard input; "ctrl+0" holds Ctrl while 0 goes down and up.
int Press(const wchar_t* name)
{
    const bool control = std::wcscmp(name, L"ctrl+0") == 0;
    const WORD key = control                             ? '0'
                     : std::wcscmp(name, L"down") == 0   ? VK_DOWN
                     : std::wcscmp(name, L"enter") == 0  ? VK_RETURN
                     : std::wcscmp(name, L"escape") == 0 ? VK_ESCAPE
                                                         : 0;
    if (key == 0) {
        Say("unknown key\n");
        return 2;
    }
    Type(key, control);
    Say("pressed\n");
    return 0;
}

constexpr UINT_PTR ICON_TIMER = 1;

// A notification-area icon of the keep-alive's own; false until the shell
// has a notification area to take it.
bool AddOwnIcon(HWND window)
{
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
    lstrcpynW(icon.szTip, L"keepalive", ARRAYSIZE(icon.szTip));
    return Shell_NotifyIconW(NIM_ADD, &icon) != FALSE;
}

LRESULT CALLBACK KeepAliveProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER && wParam == ICON_TIMER && AddOwnIcon(window)) {
        KillTimer(window, ICON_TIMER);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Registers a class whose windows close only when told to; its background
// is drawn in that system colour.
const wchar_t* RegisterProbeClass(const wchar_t* name, int colour)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = KeepAliveProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(colour);
    windowClass.lpszClassName = name;
    RegisterClassW(&windowClass);
    return name;
}

// Tells the caller that the windows are made (a line it can wait for), then
// serves them until they are closed or the process is ended.
int ServeWindows(const char* ready)
{
    Tell("%s%s\n", g_said.c_str(), ready);  // with what the command said before
    g_said.clear();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}

// keepalive [icon]: a GUI process that holds the desktop (and its taskbar)
// up; with "icon", it also keeps an icon in the notification area, as other
// programs do on a user's desktop.
int KeepAlive(bool icon)
{
    HWND window = CreateWindowExW(0, RegisterProbeClass(L"HushpaneE2EKeepAlive", COLOR_WINDOW), L"keepalive",
                                  WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (icon) {
        SetTimer(window, ICON_TIMER, 250, nullptr);
    }
    return ServeWindows("keepalive");
}

constexpr int TASKBAR_HEIGHT = 30;

// show-tray: Wine's explorer without a virtual desktop keeps its
// Shell_TrayWnd hidden and 0x0. Placed along the bottom of the primary
// monitor and shown, it is a shell taskbar on the screen, as on Windows.
int ShowTray()
{
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& screen = monitor.rcMonitor;
    SetWindowPos(tray, HWND_TOPMOST, screen.left, screen.bottom - TASKBAR_HEIGHT, screen.right - screen.left,
                 TASKBAR_HEIGHT, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    Say("visible=%d ", IsWindowVisible(tray) ? 1 : 0);
    PrintTaskbar(ReadTaskbar(tray));
    return tray != nullptr && IsWindowVisible(tray) ? 0 : 1;
}

// secondary-taskbars L,T,R,B...: what the shell makes for each secondary
// monitor (Wine makes none): a top-most tool window of class
// Shell_SecondaryTrayWnd along the bottom of each monitor rectangle given.
// Runs until it is ended; its windows go with it.
int SecondaryTaskbars(int argc, wchar_t** argv)
{
    const wchar_t* className = RegisterProbeClass(L"Shell_SecondaryTrayWnd", COLOR_3DDKSHADOW);
    for (int i = 2; i < argc; ++i) {
        RECT screen = {};
        if (std::swscanf(argv[i], L"%ld,%ld,%ld,%ld", &screen.left, &screen.top, &screen.right, &screen.bottom) != 4) {
            Say("not a rectangle: %ls\n", argv[i]);
            return 2;
        }
        HWND taskbar = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, className, L"", WS_POPUP | WS_VISIBLE,
                                       screen.left, screen.bottom - TASKBAR_HEIGHT, screen.right - screen.left,
                                       TASKBAR_HEIGHT, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        Say("secondary=%p ", static_cast<void*>(taskbar));
    }
    return ServeWindows("taskbars");
}

constexpr UINT_PTR RAISE_TIMER = 1;
constexpr UINT RAISE_MS = 20;
HWND g_covers[MAX_TASKBARS];
int g_coverCount = 0;

LRESULT CALLBACK CoverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == RAISE_TIMER) {
        for (int i = 0; i < g_coverCount; ++i) {
            SetWindowPos(g_covers[i], HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        return 0;
    }
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) {
        Tell("pressed %d,%d\n", static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    } else if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) {
        Tell("key %u\n", static_cast<unsigned>(wParam));
    }
    return message == WM_CLOSE ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

// cover L,T,R,B...: what lies above every top-most window on Windows (a
// toast, Start, the notification centre): top-most windows of another
// program over those rectangles, raised above all others again every 20 ms,
// the first activated as a program the user has just opened. Prints each
// press and key they get; runs until it is ended.
int Cover(int argc, wchar_t** argv)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CoverProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_HIGHLIGHT);
    windowClass.lpszClassName = L"HushpaneE2ECover";
    RegisterClassW(&windowClass);
    for (int i = 2; i < argc && g_coverCount < MAX_TASKBARS; ++i) {
        RECT rect = {};
        if (std::swscanf(argv[i], L"%ld,%ld,%ld,%ld", &rect.left, &rect.top, &rect.right, &rect.bottom) != 4) {
            Say("not a rectangle: %ls\n", argv[i]);
            return 2;
        }
        g_covers[g_coverCount++] = CreateWindowExW(
            WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"cover", WS_POPUP | WS_VISIBLE, rect.left,
            rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    if (g_coverCount == 0) {
        return 2;
    }
    SetForegroundWindow(g_covers[0]);
    SetTimer(g_covers[0], RAISE_TIMER, RAISE_MS, nullptr);
    return ServeWindows("covers");
}

// What reaches the desktop's input: one line each, "injected" for what a program sent
// with SendInput (keys typed through the X server, and the pointer moves that Wine makes
// of its own when a window under the pointer goes away, are not).
LRESULT CALLBACK HeardMouse(int code, WPARAM message, LPARAM data)
{
    if (code == HC_ACTION) {
        const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
        Tell("mouse %#x at %ld,%ld%s\n", static_cast<unsigned>(message), mouse->pt.x, mouse->pt.y,
             (mouse->flags & LLMHF_INJECTED) != 0 ? " injected" : "");
    }
    return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK HeardKey(int code, WPARAM message, LPARAM data)
{
    if (code == HC_ACTION) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        Tell("key %#x of %lu%s\n", static_cast<unsigned>(message), key->vkCode,
             (key->flags & LLKHF_INJECTED) != 0 ? " injected" : "");
    }
    return CallNextHookEx(nullptr, code, message, data);
}

// watch-windows: each message-only window, box and menu of any Hushpane, one line the
// moment it is first seen (polled every 5 ms), until it is ended: what opened when.
int WatchWindows()
{
    Tell("watching\n");
    const char* const kinds[] = {"window", "menu", "box"};
    HWND seen[3] = {};
    for (;;) {
        const HWND now[] = {FindHushpaneWindow(0), FindVisibleWindow(L"#32768", 0), FindVisibleWindow(L"#32770", 0)};
        for (int i = 0; i < 3; ++i) {
            const DWORD pid = WindowProcess(now[i]);
            if (now[i] != nullptr && now[i] != seen[i] && FindHushpaneWindow(pid) != nullptr) {
                Tell("%s %p of process %lu\n", kinds[i], static_cast<void*>(now[i]), pid);
            }
            seen[i] = now[i];
        }
        Sleep(5);
    }
}

// watch-input: every mouse and keyboard event, as low-level hooks see it
// (which sampling the pointer's position would miss); runs until it is ended.
int WatchInput()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (SetWindowsHookExW(WH_MOUSE_LL, HeardMouse, instance, 0) == nullptr ||
        SetWindowsHookExW(WH_KEYBOARD_LL, HeardKey, instance, 0) == nullptr) {
        Say("no hook (error %lu)\n", GetLastError());
        return 1;
    }
    return ServeWindows("watching");
}

// in-job breakaway|no-breakaway COMMAND...: runs the command in a job that
// ends every process in it when the job's last handle closes (this
// process's, when it is ended), as a CI step's time-out does; "breakaway"
// lets a process in it start others outside it. Its status is the command's.
int InJob(int argc, wchar_t** argv)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
        (std::wcscmp(argv[2], L"breakaway") == 0 ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    std::wstring commandLine;
    for (int i = 3; i < argc; ++i) {
        commandLine += (i > 3 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process) ||
        !AssignProcessToJobObject(job, process.hProcess)) {
        Say("could not start it in a job (error %lu)\n", GetLastError());
        return 2;
    }
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}

// hidden: the program's message-only window, its title and process.
int Hidden()
{
    HWND hidden = FindHushpaneWindow(0);
    if (hidden == nullptr) {
        Say("hidden=none\n");
        return 1;
    }
    wchar_t title[128] = {};
    GetWindowTextW(hidden, title, 128);
    DWORD pid = 0;
    GetWindowThreadProcessId(hidden, &pid);
    Say("hidden=%p title=%ls pid=%lu\n", static_cast<void*>(hidden), title, pid);
    return 0;
}

// click left|right: the icon's callback, sent the way the shell sends it.
int Click(const wchar_t* button)
{
    HWND hidden = FindHushpaneWindow(0);
    if (hidden == nullptr) {
        Say("hidden=none\n");
        return 1;
    }
    const LPARAM mouse = std::wcscmp(button, L"left") == 0 ? WM_LBUTTONUP : WM_RBUTTONUP;
    SendNotifyMessageW(hidden, WM_TRAYICON, 1, mouse);
    Say("clicked\n");
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
        Say("found=none\n");
        return 1;
    }
    RECT rect = {};
    GetWindowRect(found, &rect);
    Say("found=%p rect=%ld,%ld,%ld,%ld\n", static_cast<void*>(found), rect.left, rect.top, rect.right, rect.bottom);
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
    Say(closed ? "menu=closed\n" : "menu=open\n");
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
        Say("launch=failed error=%lu\n", GetLastError());
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
    Say("alive=%d ms=%.2f\n", alive ? 1 : 0, elapsed);
    return alive ? 0 : 1;
}

// await-sign EVENT|window=CLASS MS: waits for the sign of life of a program started once
// this has said "waiting" (the event is made first, for the program to set), as launch
// does; alive=1 once it is seen. For benchmarks.
int AwaitSign(const wchar_t* sign, DWORD timeout)
{
    const bool window = std::wcsncmp(sign, L"window=", 7) == 0;
    HANDLE event = window ? nullptr : CreateEventW(nullptr, TRUE, FALSE, sign);
    Tell("waiting\n");
    auto alive = [&] {
        if (window) {
            return FindWindowExW(HWND_MESSAGE, nullptr, sign + 7, nullptr) != nullptr;
        }
        return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    };
    const DWORD start = GetTickCount();
    while (!alive() && GetTickCount() - start < timeout) {
        Sleep(1);
    }
    Say("alive=%d\n", alive() ? 1 : 0);
    return alive() ? 0 : 1;
}

// press-wait-alpha A MS: Ctrl+0, then times until the taskbar has alpha A.
int PressWaitAlpha(int alpha, DWORD timeout)
{
    LARGE_INTEGER start = {};
    QueryPerformanceCounter(&start);
    Type('0', true);
    bool reached = false;
    while (!(reached = HasAlpha(ReadPrimary(), alpha)) && Milliseconds(start) < timeout) {
        Sleep(1);
    }
    Say("reached=%d ms=%.2f\n", reached ? 1 : 0, Milliseconds(start));
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
        Type(VK_ESCAPE, false);
        return WaitForNone(L"#32768", 5000);
    }
    const int wanted = HasAlpha(ReadPrimary(), 0) ? 255 : 0;
    Type(VK_DOWN, false);
    Type(VK_RETURN, false);
    return AwaitAlpha(wanted, 3000);
}

// use-icon menu|box|pause N: that use of the icon N times, one after another.
int UseIcon(const wchar_t* kind, unsigned long times)
{
    for (unsigned long done = 0; done < times; ++done) {
        if (!UseIconOnce(kind)) {
            Say("used=%lu failed\n", done);
            return 1;
        }
    }
    Say("used=%lu\n", times);
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
        Say("objects=none error=%lu\n", GetLastError());
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
    Say("handles=%d windows=%d\n", handles, windows.count);
    return 0;
}

int Usage()
{
    Say("usage: hpprobe taskbar | taskbars | wait-alpha A MS [all|HWND...] | keep-alpha A MS [all|HWND...] |"
        " reset | show | show-tray | secondary-taskbars L,T,R,B... | press KEY | keepalive [icon] |"
        " hidden | click left|right | find CLASS MS | no-menu MS | launch EXE MS [EVENT|window=CLASS] |"
        " await-sign EVENT|window=CLASS MS | press-wait-alpha A MS | use-icon menu|box|pause N | objects PID | "
        "cover L,T,R,B... | watch-input | watch-windows | in-job breakaway|no-breakaway COMMAND... | serve\n");
    return 2;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];
    auto number = [&](int i) { return i < argc ? std::wcstoul(argv[i], nullptr, 0) : 0UL; };
    g_watched = {{nullptr}, 0};
    if (command == L"taskbar") {
        PrintTaskbar(ReadPrimary());
        return 0;
    }
    if (command == L"taskbars") {
        return ListTaskbars();
    }
    if (command == L"wait-alpha") {
        Watch(argc, argv, 4);
        return WaitAlpha(static_cast<int>(number(2)), number(3));
    }
    if (command == L"keep-alpha") {
        Watch(argc, argv, 4);
        return KeepAlpha(static_cast<int>(number(2)), number(3));
    }
    if (command == L"show-tray") {
        return ShowTray();
    }
    if (command == L"secondary-taskbars") {
        return SecondaryTaskbars(argc, argv);
    }
    if (command == L"reset") {
        return Reset();
    }
    if (command == L"show") {
        return Show();
    }
    if (command == L"press" && argc > 2) {
        return Press(argv[2]);
    }
    if (command == L"keepalive") {
        return KeepAlive(argc > 2 && std::wcscmp(argv[2], L"icon") == 0);
    }
    if (command == L"cover") {
        return Cover(argc, argv);
    }
    if (command == L"watch-input") {
        return WatchInput();
    }
    if (command == L"watch-windows") {
        return WatchWindows();
    }
    if (command == L"in-job" && argc > 3) {
        return InJob(argc, argv);
    }
    if (command == L"hidden") {
        return Hidden();
    }
    if (command == L"click" && argc > 2) {
        return Click(argv[2]);
    }
    if (command == L"launch" && argc > 3) {
        return Launch(argv[2], number(3), argc > 4 ? argv[4] : nullptr);
    }
    if (command == L"await-sign" && argc > 3) {
        return AwaitSign(argv[2], number(3));
    }
    if (command == L"press-wait-alpha") {
        return PressWaitAlpha(static_cast<int>(number(2)), number(3));
    }
    if (command == L"find" && argc > 2) {
        return Find(argv[2], number(3));
    }
    if (command == L"no-menu") {
        return NoMenu(number(2));
    }
    if (command == L"use-icon" && argc > 3) {
        return UseIcon(argv[2], number(3));
    }
    if (command == L"objects") {
        return Objects(number(2));
    }
    return Usage();
}

// serve: a command a line on standard input, in UTF-8, its arguments quoted as on a command
// line; each answered with one line: its status, a space, and what it said, its lines
// joined by " | ". Until the input ends. The commands that run until they are ended are
// for processes of their own.
int Serve()
{
    char bytes[4096];
    while (std::fgets(bytes, sizeof(bytes), stdin) != nullptr) {
        bytes[std::strcspn(bytes, "\r\n")] = '\0';
        wchar_t line[4096] = L"hpprobe ";
        const int prefix = static_cast<int>(std::wcslen(line));
        MultiByteToWideChar(CP_UTF8, 0, bytes, -1, line + prefix, 4096 - prefix);
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(line, &argc);
        const int status = argv != nullptr ? Run(argc, argv) : Usage();
        LocalFree(argv);
        std::string answer;
        for (const char c : g_said) {
            answer += c == '\n' ? std::string(" | ") : std::string(1, c);
        }
        if (answer.size() >= 3 && answer.compare(answer.size() - 3, 3, " | ") == 0) {
            answer.resize(answer.size() - 3);
        }
        std::printf("%d %s\n", status, answer.c_str());
        std::fflush(stdout);
        g_said.clear();
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wcscmp(argv[1], L"serve") == 0) {
        return Serve();
    }
    const int status = Run(argc, argv);
    std::fputs(g_said.c_str(), stdout);
    std::fflush(stdout);
    return status;
}
