// The check's own windows, served by a thread of their own so that a click
// activates them while the main thread waits, and gone with the process: the
// backdrops behind the taskbars, and the one it clicks to hold the foreground
// as the shell does (a click activates a window whatever the foreground lock).
#include "check/check.h"

const wchar_t CHECK_TEXT[] = L"hushpane-check is running: leave the mouse and keyboard alone";
// Where the check's window may go, as fractions of the primary work area:
// bottom corners last, since toasts, flyouts, Start and search open there.
const POINT PLACES[] = {{0, 0}, {2, 0}, {1, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
constexpr DWORD SETTLE_MS = 250;  // for a window that keeps itself above others to come back

static HANDLE g_thread = nullptr;
static DWORD g_threadId = 0;

static DWORD WINAPI ServeOwnWindows(void* made)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // Top-most, so that nothing covers it; tool windows, with no taskbar button. A static
    // control draws its text, and with SS_NOTIFY it is what lies under a click on it.
    g_checkWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"STATIC", CHECK_TEXT,
                                    WS_POPUP | WS_BORDER | SS_CENTER | SS_CENTERIMAGE | SS_NOTIFY, 0, 0, 1, 1, nullptr,
                                    nullptr, instance, nullptr);
    WNDCLASSW backdrop = {};
    backdrop.lpfnWndProc = DefWindowProcW;
    backdrop.hInstance = instance;
    backdrop.hbrBackground = CreateSolidBrush(BACKDROP_COLOUR);
    backdrop.lpszClassName = L"HushpaneCheckBackdrop";
    RegisterClassW(&backdrop);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_backdrops[i] = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, backdrop.lpszClassName, L"", WS_POPUP, 0,
                                         0, 1, 1, nullptr, nullptr, instance, nullptr);
    }
    SetEvent(made);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}

// Shows the check's window at the first place away from `avoid` where, a while after, nothing
// lies over its middle and corners; else hides it, and says what covered each place.
static bool PlaceCheckWindow(const RECT& work, const RECT& avoid, RECT* place, std::string* detail)
{
    HDC dc = GetDC(g_checkWindow);
    RECT text = {};
    DrawTextW(dc, CHECK_TEXT, -1, &text, DT_CALCRECT | DT_SINGLELINE);
    ReleaseDC(g_checkWindow, dc);
    const LONG margin = MulDiv(16, static_cast<int>(GetDpiForWindow(g_checkWindow)), 96);
    const SIZE size = {text.right + 2 * margin, text.bottom + 2 * margin};
    std::string covered;
    for (const POINT at : PLACES) {
        const LONG left = work.left + size.cy + (work.right - work.left - 2 * size.cy - size.cx) * at.x / 2;
        const LONG top = work.top + size.cy + (work.bottom - work.top - 3 * size.cy) * at.y / 2;
        *place = {left, top, left + size.cx, top + size.cy};
        RECT overlap = {};
        if (IntersectRect(&overlap, place, &avoid)) {
            continue;
        }
        SetWindowPos(g_checkWindow, HWND_TOPMOST, left, top, size.cx, size.cy, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        Sleep(SETTLE_MS);
        HWND over = nullptr;
        for (int i = 0; i < 5 && over == nullptr; ++i) {  // its middle, then its corners
            const POINT point =
                i == 0 ? Middle(*place)
                       : POINT{i % 2 == 1 ? left + 1 : place->right - 2, i < 3 ? top + 1 : place->bottom - 2};
            HWND under = TopLevelAt(point);
            over = under != g_checkWindow ? under : nullptr;
        }
        if (over == nullptr) {
            return true;
        }
        const std::string what = WindowText(over);
        covered += covered.find(what) != std::string::npos ? "" : (covered.empty() ? "" : "; ") + what;
    }
    ShowWindow(g_checkWindow, SW_HIDE);
    *detail += "no free place for the check's window in the work area " + RectText(work) +
               (covered.empty() ? std::string(" beside the menu") : ", where lies " + covered);
    return false;
}

HWND g_checkWindow = nullptr;
HWND g_backdrops[MAX_TASKBARS] = {};

void OpenOwnWindows()
{
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_thread = CreateThread(nullptr, 0, ServeOwnWindows, made, 0, &g_threadId);
    WaitForSingleObject(made, 5000);
    CloseHandle(made);
}

void CloseOwnWindows()
{
    if (g_thread != nullptr) {
        PostThreadMessageW(g_threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(g_thread, 3000);
    }
}

bool ClickCheckWindow(const RECT& avoid, std::string* detail)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT place = {};
    if (!PlaceCheckWindow(monitor.rcWork, avoid, &place, detail)) {
        return false;
    }
    POINT was = {};
    GetCursorPos(&was);
    const POINT middle = Middle(place);
    std::string how;
    const bool clicked = ClickOn(g_checkWindow, "the check's own window", middle, &how);
    *detail +=
        "a click " + std::string(clicked ? "on" : "aimed at") + " the check's own window at " + PointText(middle) + how;
    // A menu opens at the pointer: it rests where it was, or else as far across the work area.
    const LONG reach = 4 * (place.bottom - place.top);  // about a menu's size
    const RECT menu = {was.x - reach, was.y - reach, was.x + reach, was.y + reach};
    RECT overlap = {};
    if (IntersectRect(&overlap, &menu, &place)) {
        const POINT across = {2 * Middle(monitor.rcWork).x - middle.x, 2 * Middle(monitor.rcWork).y - middle.y};
        std::string moved;
        *detail += MovePointer(across, &moved) ? "; the pointer moved away from it to " + PointText(across) : moved;
    }
    return clicked;
}

bool TakeForeground(std::string* detail)
{
    std::string click;
    if (ClickCheckWindow({}, &click)) {
        WaitFor([] { return GetForegroundWindow() == g_checkWindow; }, 1000);
    } else {
        click += "; the check goes on without that click";
    }
    HWND holder = GetForegroundWindow();  // sampled right before what needs it
    *detail += holder == g_checkWindow
                   ? "the check held the foreground (" + click + ")"
                   : "the check did not hold the foreground (" + click + "; it was held by " + WindowText(holder) + ")";
    return holder == g_checkWindow;
}
