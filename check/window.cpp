// The check's own windows, on a thread of their own so that a click activates them while the
// main thread waits: the backdrops, and the one it clicks to hold the foreground as the shell
// does (a click activates a window whatever the foreground lock).
#include "check/check.h"

#include <algorithm>

const wchar_t CHECK_TEXT[] = L"hushpane-check is running: touch the mouse or keyboard to stop it";
// Places for its window, in the primary work area: bottom corners last (toasts, Start).
const POINT PLACES[] = {{0, 0}, {2, 0}, {1, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
constexpr DWORD SETTLE_MS = 250;  // for a window that keeps itself above others to come back
constexpr Millis FOREGROUND_WITHIN_MS = 1000;  // after the click that activates the window
constexpr LONG MENU_REACH = 4;                 // a menu's size, in heights of the check's window

HWND g_checkWindow = nullptr;
HWND g_backdrops[MAX_TASKBARS] = {};
static HANDLE g_thread = nullptr;
static DWORD g_threadId = 0;
static bool g_hooked = false;  // the touch hooks are set, on the windows' thread

static DWORD WINAPI ServeOwnWindows(void* made)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // Top-most tool windows, with no taskbar button; a static control draws its text, and with
    // SS_NOTIFY it is what lies under a click.
    g_checkWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"STATIC", CHECK_TEXT,
                                    WS_POPUP | WS_BORDER | SS_CENTER | SS_CENTERIMAGE | SS_NOTIFY,
                                    0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    WNDCLASSW backdrop = {};
    backdrop.lpfnWndProc = DefWindowProcW;
    backdrop.hInstance = instance;
    backdrop.hbrBackground = CreateSolidBrush(BACKDROP_COLOUR);
    backdrop.lpszClassName = L"HushpaneCheckBackdrop";
    RegisterClassW(&backdrop);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_backdrops[i] =
            CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, backdrop.lpszClassName, L"",
                            WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    }
    g_hooked = HookTouches();
    SetEvent(made);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}

std::string OpenOwnWindows()
{
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_thread = CreateThread(nullptr, 0, ServeOwnWindows, made, 0, &g_threadId);
    const bool served = g_thread != nullptr && WaitForSingleObject(made, 5000) == WAIT_OBJECT_0;
    CloseHandle(made);
    if (!served || !g_hooked) {
        return "the check could not listen to the keyboard and mouse (SetWindowsHookExW "
               "failed), so a touch of yours could not stop it";
    }
    return {};
}

void CloseOwnWindows()
{
    if (g_thread != nullptr) {
        PostThreadMessageW(g_threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(g_thread, 3000);
    }
}

// What lies over its middle or one of its corners, if anything does.
static HWND Over(const RECT& place)
{
    const LONG x[] = {place.left + 1, place.right - 2};
    const LONG y[] = {place.top + 1, place.bottom - 2};
    const POINT points[] = {Middle(place), {x[0], y[0]}, {x[1], y[0]}, {x[0], y[1]}, {x[1], y[1]}};
    HWND under = nullptr;  // each point asked once: two asks could get two answers
    auto covered = [&under](POINT point) { return (under = TopLevelAt(point)) != g_checkWindow; };
    return std::any_of(std::begin(points), std::end(points), covered) ? under : nullptr;
}

// Shows the check's window at the first place off `avoid` that nothing covers a while after.
static bool PlaceCheckWindow(const RECT& work, const RECT& avoid, RECT* place, HWND* over,
                             Facts* seen)
{
    HDC dc = GetDC(g_checkWindow);
    RECT text = {};
    DrawTextW(dc, CHECK_TEXT, -1, &text, DT_CALCRECT | DT_SINGLELINE);
    ReleaseDC(g_checkWindow, dc);
    const LONG margin = MulDiv(16, static_cast<int>(GetDpiForWindow(g_checkWindow)), 96);
    const SIZE size = {text.right + 2 * margin, text.bottom + 2 * margin};
    const LONG across = work.right - work.left - 2 * size.cy - size.cx;
    const LONG down = work.bottom - work.top - 3 * size.cy;
    for (const POINT at : PLACES) {
        const LONG left = work.left + size.cy + across * at.x / 2;
        const LONG top = work.top + size.cy + down * at.y / 2;
        *place = {left, top, left + size.cx, top + size.cy};
        RECT overlap = {};
        if (IntersectRect(&overlap, place, &avoid)) {
            continue;
        }
        SetWindowPos(g_checkWindow, HWND_TOPMOST, left, top, size.cx, size.cy,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
        Sleep(SETTLE_MS);
        HWND lying = Over(*place);
        if (lying == nullptr) {
            return true;
        }
        if (*over == nullptr) {
            *over = lying;  // the first that lay over a place
        }
    }
    ShowWindow(g_checkWindow, SW_HIDE);
    const std::string where =
        *over == nullptr ? " beside the menu" : ", under " + WindowText(*over);
    seen->push_back("no free place for the check's window in the work area " + RectText(work) +
                    where);
    return false;
}

Gesture ClickCheckWindow(const RECT& avoid, Facts* seen)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT place = {};
    HWND over = nullptr;
    if (!PlaceCheckWindow(monitor.rcWork, avoid, &place, &over, seen)) {
        return {false, "no free place", over};
    }
    // Hushpane opens its menu at the pointer: it rests where it was, or, where a menu there
    // could cover the window, as far across the work area.
    POINT rest = {};
    GetCursorPos(&rest);
    const POINT middle = Middle(place);
    const LONG reach = MENU_REACH * (place.bottom - place.top);
    const RECT menu = {rest.x - reach, rest.y - reach, rest.x + reach, rest.y + reach};
    RECT overlap = {};
    const bool away = IntersectRect(&overlap, &menu, &place) != FALSE;
    if (away) {
        const POINT centre = Middle(monitor.rcWork);
        rest = {2 * centre.x - middle.x, 2 * centre.y - middle.y};
    }
    Gesture click = ClickOn(g_checkWindow, "the check's own window", middle, rest);
    seen->push_back((click.sent ? "a click on" : "a click aimed at") +
                    (" the check's own window at " + PointText(middle)));
    seen->push_back(click.why);
    if (click.sent && away && PointerAt(rest)) {
        seen->push_back("the pointer moved away from it to " + PointText(rest));
    }
    return click;
}

bool TakeForeground(Facts* seen)
{
    Facts click;
    const bool clicked = ClickCheckWindow({}, &click).sent;
    WaitFor([=] { return !clicked || GetForegroundWindow() == g_checkWindow; },
            FOREGROUND_WITHIN_MS);
    click.push_back(clicked ? "" : "the check goes on without that click");
    HWND holder = GetForegroundWindow();  // sampled right before what needs it
    const bool held = holder == g_checkWindow;
    click.push_back(held ? "" : "it was held by " + WindowText(holder));
    seen->push_back((held ? "the check held" : "the check did not hold") +
                    (" the foreground (" + Join(click) + ")"));
    return held;
}
