// The foreground as the shell has it when the user clicks an icon, and who
// holds it. A click on the icon makes the shell the foreground, so the shell
// may grant the clicked program the right to take it (Hushpane needs it for
// its menu). The check takes it the same way, with a real click on a window
// of its own: a click activates a window whatever the foreground lock, where
// a program's own request may be refused.
#include "check/check.h"

bool g_checkHeldForeground = false;

namespace {

// Where the check's window may go, as fractions of the primary work area,
// in the order tried: the top corners first, then the middles of the edges,
// the bottom corners last, since toasts, flyouts, Start and search open at
// the bottom.
const POINT PLACES[] = {{0, 0}, {2, 0}, {1, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
constexpr DWORD SETTLE_MS = 250;  // for a window that keeps itself above others to come back

RECT PlaceOf(POINT fraction, const RECT& work, SIZE size)
{
    const LONG margin = size.cy;
    const LONG left = work.left + margin + (work.right - work.left - 2 * margin - size.cx) * fraction.x / 2;
    const LONG top = work.top + margin + (work.bottom - work.top - 2 * margin - size.cy) * fraction.y / 2;
    return {left, top, left + size.cx, top + size.cy};
}

// The window's middle and corners lie under nothing else; else `blocked` is
// the first point that does.
bool Uncovered(HWND window, const RECT& rect, POINT* blocked)
{
    const POINT points[] = {Middle(rect),
                            {rect.left + 1, rect.top + 1},
                            {rect.right - 2, rect.top + 1},
                            {rect.left + 1, rect.bottom - 2},
                            {rect.right - 2, rect.bottom - 2}};
    for (const POINT point : points) {
        if (TopLevelAt(point) != window) {
            *blocked = point;
            return false;
        }
    }
    return true;
}

// Shows the check's window at the first free place of the primary work
// area away from the pointer, where a menu or box opens, and from `avoid`;
// false, with the window hidden and `detail` saying what covered each
// place, when there is none.
bool PlaceCheckWindow(const RECT& avoid, std::string* detail)
{
    HWND window = CheckWindow();
    POINT pointer = {};
    GetCursorPos(&pointer);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const SIZE size = CheckWindowSize();
    const LONG reach = 4 * size.cy;  // about a menu's size, which opens at the pointer
    const RECT nearPointer = {pointer.x - reach, pointer.y - reach, pointer.x + reach, pointer.y + reach};
    std::string covered;
    for (const POINT fraction : PLACES) {
        const RECT place = PlaceOf(fraction, monitor.rcWork, size);
        RECT overlap = {};
        if (IntersectRect(&overlap, &place, &nearPointer) || IntersectRect(&overlap, &place, &avoid)) {
            continue;
        }
        SetWindowPos(window, HWND_TOPMOST, place.left, place.top, size.cx, size.cy, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        Sleep(SETTLE_MS);
        POINT blocked = {};
        if (Uncovered(window, place, &blocked)) {
            return true;
        }
        const std::string what = WindowText(TopLevelAt(blocked));
        if (covered.find(what) == std::string::npos) {
            covered += (covered.empty() ? "" : "; ") + what;
        }
    }
    ShowWindow(window, SW_HIDE);
    *detail += "no free place for the check's window in the work area " + RectText(monitor.rcWork) +
               (covered.empty() ? std::string(" away from the pointer") : ", where lies " + covered);
    return false;
}

DWORD HushpaneThread(const Copy& copy)
{
    return GetWindowThreadProcessId(FindHushpaneWindow(copy.pid), nullptr);
}

bool OfThread(HWND window, DWORD thread)
{
    return window != nullptr && GetWindowThreadProcessId(window, nullptr) == thread;
}

}  // namespace

PressOutcome ClickCheckWindow(const RECT& avoid, std::string* detail)
{
    if (!PlaceCheckWindow(avoid, detail)) {
        return PRESS_REFUSED;
    }
    RECT rect = {};
    GetWindowRect(CheckWindow(), &rect);
    const POINT middle = Middle(rect);
    ULONGLONG when = 0;
    std::string pressed;
    const PressOutcome outcome = PressOn(CheckWindow(), "the check's own window", middle, &when, &pressed);
    *detail += Format("a click %s the check's own window at %s", outcome == PRESS_MADE ? "on" : "aimed at",
                      PointText(middle).c_str()) +
               pressed;
    return outcome;
}

HWND TakeForeground(std::string* click)
{
    if (ClickCheckWindow({}, click) == PRESS_MADE) {
        WaitFor([] { return GetForegroundWindow() == CheckWindow(); }, 1000);
    } else {
        *click += "; the check goes on without that click";
    }
    return GetForegroundWindow();
}

std::string HeldText(HWND holder, const std::string& click)
{
    if (holder == CheckWindow()) {
        return "the check held the foreground (" + click + ")";
    }
    return "the check did not hold the foreground (" + click + "; it was held by " + WindowText(holder) + ")";
}

bool HushpaneHoldsForeground(const Copy& copy)
{
    const DWORD thread = HushpaneThread(copy);
    if (thread == 0) {
        return false;
    }
    if (OfThread(GetForegroundWindow(), thread)) {
        return true;
    }
    // Activation follows the switch of the foreground queue, so the
    // foreground window may still be null while Hushpane's thread holds the
    // foreground; the foreground thread's own state then names its windows.
    GUITHREADINFO foreground = {};
    foreground.cbSize = sizeof(foreground);
    if (!GetGUIThreadInfo(0, &foreground)) {
        return false;
    }
    return OfThread(foreground.hwndMenuOwner, thread) || OfThread(foreground.hwndCapture, thread) ||
           OfThread(foreground.hwndActive, thread) || OfThread(foreground.hwndFocus, thread);
}

bool KeysReachOnlyUs(const Copy& copy)
{
    return HushpaneHoldsForeground(copy) || GetForegroundWindow() == CheckWindow();
}

std::string Foreground(const Copy& copy)
{
    HWND window = GetForegroundWindow();
    const DWORD pid = WindowProcess(window);
    std::string text = "foreground: ";
    if (window == nullptr) {
        text += "no window";
    } else if (pid == copy.pid) {
        text += "Hushpane's window of class " + WindowClass(window);
    } else if (pid == GetCurrentProcessId()) {
        text += "the check's own window";
    } else {
        text += "another program's, " + WindowText(window);
    }
    GUITHREADINFO hushpane = {};
    hushpane.cbSize = sizeof(hushpane);
    const bool inMenu = GetGUIThreadInfo(HushpaneThread(copy), &hushpane) &&
                        (hushpane.flags & GUI_POPUPMENUMODE) != 0 &&
                        hushpane.hwndMenuOwner == FindHushpaneWindow(copy.pid);
    return text + (HushpaneHoldsForeground(copy) ? "; Hushpane's thread holds it" : "; Hushpane's thread does not") +
           (inMenu ? " (its thread is in its popup menu)" : "");
}
