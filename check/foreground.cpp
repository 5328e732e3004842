// The foreground as the shell has it when the user clicks an icon, and who
// holds it. A click on the icon makes the shell the foreground, so the shell
// may grant the clicked program the right to take it (Hushpane needs it for
// its menu). The check takes it the same way, with a real click on a window
// of its own: a click activates a window whatever the foreground lock, where
// a program's own request may be refused.
#include "check/check.h"

bool g_checkHeldForeground = false;

namespace {

// The window's place: the corner of the primary monitor's work area farthest
// from the pointer, where the menu or box that a callback opens (at the
// pointer) will not be.
RECT CheckWindowPlace()
{
    POINT pointer = {};
    GetCursorPos(&pointer);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const SIZE size = CheckWindowSize();
    const LONG margin = size.cy;
    const LONG left = pointer.x < (work.left + work.right) / 2 ? work.right - margin - size.cx : work.left + margin;
    const LONG top = pointer.y < (work.top + work.bottom) / 2 ? work.bottom - margin - size.cy : work.top + margin;
    return {left, top, left + size.cx, top + size.cy};
}

DWORD HushpaneThread(const Copy& copy)
{
    return GetWindowThreadProcessId(FindHushpaneWindow(copy.pid), nullptr);
}

bool OfThread(HWND window, DWORD thread)
{
    return window != nullptr && GetWindowThreadProcessId(window, nullptr) == thread;
}

// A process's integrity level (its token's mandatory label); 0 where it cannot be read.
DWORD IntegrityOf(HANDLE process)
{
    DWORD level = 0;
    HANDLE token = nullptr;
    if (process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token)) {
        alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
            PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
            level = *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1U);
        }
        CloseHandle(token);
    }
    return level;
}

}  // namespace

bool ClickAndPutBack(POINT point, ULONGLONG* clicked)
{
    POINT was = {};
    GetCursorPos(&was);
    const bool sent = ClickAt(point);
    *clicked = GetTickCount64();
    return MoveMouse(was) && sent;
}

std::string BlockedInput()
{
    std::string why =
        Format("the input was blocked: SendInput took fewer events than it was given (error %lu)", g_inputError);
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) {
        return why + Format("; there is no input desktop now (error %lu): the workstation is locked, or the "
                            "secure desktop (a UAC prompt, Ctrl+Alt+Del) is shown",
                            GetLastError());
    }
    CloseDesktop(input);
    // Windows keeps the input of a program from one that runs with higher rights (UIPI).
    HWND foreground = GetForegroundWindow();
    HANDLE holder = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, WindowProcess(foreground));
    if (IntegrityOf(holder) > IntegrityOf(GetCurrentProcess())) {
        why += Format("; the foreground window (process %lu, class %s) belongs to a program that runs with higher "
                      "rights than the check, such as one run as administrator, and Windows keeps input from it",
                      WindowProcess(foreground), WindowClass(foreground).c_str());
    }
    if (holder != nullptr) {
        CloseHandle(holder);
    }
    return why;
}

bool ClickCheckWindow(std::string* detail)
{
    HWND window = CheckWindow();
    if (!IsWindowVisible(window)) {
        const RECT place = CheckWindowPlace();
        SetWindowPos(window, HWND_TOPMOST, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
    }
    RECT rect = {};
    GetWindowRect(window, &rect);
    const POINT middle = Middle(rect);
    ULONGLONG clicked = 0;
    const bool sent = ClickAndPutBack(middle, &clicked);
    *detail += Format("a click on the check's own window at %s", PointText(middle).c_str());
    if (!sent) {
        *detail += " (" + BlockedInput() + ")";
    }
    return sent;
}

std::string TakeForeground()
{
    // Placed anew each time: the pointer, and so the next menu, may have moved.
    ShowWindow(CheckWindow(), SW_HIDE);
    std::string detail;
    ClickCheckWindow(&detail);
    g_checkHeldForeground = WaitFor([] { return GetForegroundWindow() == CheckWindow(); }, 1000);
    if (g_checkHeldForeground) {
        return "the check held the foreground (" + detail + ")";
    }
    HWND holder = GetForegroundWindow();
    return "the check did not hold the foreground: after " + detail + " it was held by " +
           (holder == nullptr ? std::string("no window")
                              : Format("process %lu, class %s", WindowProcess(holder), WindowClass(holder).c_str()));
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
        text += Format("another program's, process %lu, class %s", pid, WindowClass(window).c_str());
    }
    GUITHREADINFO hushpane = {};
    hushpane.cbSize = sizeof(hushpane);
    const bool inMenu = GetGUIThreadInfo(HushpaneThread(copy), &hushpane) &&
                        (hushpane.flags & GUI_POPUPMENUMODE) != 0 &&
                        hushpane.hwndMenuOwner == FindHushpaneWindow(copy.pid);
    return text + (HushpaneHoldsForeground(copy) ? "; Hushpane's thread holds it" : "; Hushpane's thread does not") +
           (inMenu ? " (its thread is in its popup menu)" : "");
}
