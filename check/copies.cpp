// Hushpane used as the shell and a user use it: started, its icon clicked, its menu's items
// clicked (a click reaches a menu whoever holds the foreground), and ended.
#include "check/check.h"

#include <shellapi.h>

const char DESKTOP_STOPPED[] = "the desktop, not Hushpane, stopped this check";
const char* const ITEM_NAMES[] = {"Pause", "Exit"};
constexpr int ITEM_COUNT = 2;
constexpr Millis WINDOW_WITHIN_MS = 2000;  // its message-only window, once it runs
constexpr Millis MENU_WITHIN_MS = 3000;    // a menu or a box opened, or closed
constexpr DWORD KILLED_WITHIN_MS = 5000;

std::wstring g_exe;
Copy g_copies[MAX_COPIES];
int g_copyCount = 0;

// Run only once the guard holds it: no kill of the check leaves a Hushpane that nobody ends.
static std::string Start(HANDLE output, PROCESS_INFORMATION* started)
{
    if (!Launch(L"\"" + g_exe + L"\"", CREATE_SUSPENDED, nullptr, output, started)) {
        return Format("could not start %s (error %lu)", Utf8(g_exe).c_str(), GetLastError());
    }
    const std::string refused = HandOver(started->hProcess);
    if (refused.empty()) {
        ResumeThread(started->hThread);
        return {};
    }
    TerminateProcess(started->hProcess, 255);
    CloseHandle(started->hProcess);
    return "the check ended the Hushpane it started, before it ran: its guard could not take it (" +
           refused + "), and a Hushpane that nobody ends leaves the taskbars hidden";
}

Copy* StartHushpane(Facts* facts)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (g_copyCount == MAX_COPIES || !CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        facts->push_back(Format("no pipe for a new Hushpane's output (error %lu)", GetLastError()));
        return nullptr;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION started = {};
    std::string problem = "not started: the check was stopped";
    UnlessStopped([&] { problem = Start(writeEnd, &started); });
    CloseHandle(writeEnd);
    if (started.hThread != nullptr) {
        CloseHandle(started.hThread);
    }
    if (!problem.empty()) {
        CloseHandle(readEnd);
        facts->push_back(problem);
        return nullptr;
    }
    g_copies[g_copyCount] = {started.hProcess, started.dwProcessId, readEnd, {}};
    return &g_copies[g_copyCount++];
}

bool Running(const Copy& copy)
{
    return WaitForSingleObject(copy.process, 0) == WAIT_TIMEOUT;
}

std::string EndedHow(const Copy& copy)
{
    DWORD status = 0;
    GetExitCodeProcess(copy.process, &status);
    return Format("Hushpane ended with status %ld", static_cast<long>(status));
}

std::string ReadOutput(Copy& copy)
{
    char bytes[512];
    DWORD count = 0;
    while (PeekNamedPipe(copy.output, nullptr, 0, nullptr, &count, nullptr) && count > 0 &&
           ReadFile(copy.output, bytes, sizeof(bytes), &count, nullptr) && count > 0) {
        copy.written.append(bytes, count);
    }
    return copy.written;
}

HWND AwaitHushpaneWindow(const Copy& copy)
{
    HWND window = nullptr;
    auto found = [&] {
        return (window = FindHushpaneWindow(copy.pid)) != nullptr || !Running(copy);
    };
    WaitFor(found, WINDOW_WITHIN_MS, true);
    return window;
}

// As its own menu ends it, with messages only: an open box or menu closed, then Exit posted.
static void EndCopy(const Copy& copy)
{
    if (HWND box = FindVisibleWindow(L"#32770", copy.pid)) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindowVisible(box); }, MENU_WITHIN_MS, true);
    }
    HWND window = AwaitHushpaneWindow(copy);
    if (window != nullptr) {
        if (FindVisibleWindow(L"#32768", copy.pid) != nullptr) {
            PostMessageW(window, WM_CANCELMODE, 0, 0);  // DefWindowProcW ends its thread's menu
            AwaitNoMenu(copy, true);
        }
        PostMessageW(window, WM_COMMAND, EXIT_ITEM, 0);
    }
    if (WaitForSingleObject(copy.process, static_cast<DWORD>(EXIT_PATIENCE_MS)) != WAIT_OBJECT_0) {
        TerminateProcess(copy.process, 255);
        WaitForSingleObject(copy.process, KILLED_WITHIN_MS);
        Note(Format("Hushpane (process %lu) had not ended %lld s after Exit's command: the check "
                    "ended it",
                    copy.pid, EXIT_PATIENCE_MS / 1000));
    }
}

void EndCopies()
{
    for (int i = 0; i < g_copyCount; ++i) {
        if (Running(g_copies[i])) {
            EndCopy(g_copies[i]);
        }
    }
}

bool IconPresent(HWND window, std::string* how)
{
    NOTIFYICONIDENTIFIER icon = {sizeof(icon), window, TRAY_ICON_ID, {}};
    RECT rect = {};
    const HRESULT result = Shell_NotifyIconGetRect(&icon, &rect);
    if (SUCCEEDED(result)) {
        *how = "Shell_NotifyIconGetRect " + RectText(rect) + (result == S_OK ? "" : ", S_FALSE");
        return true;
    }
    // No rectangle (Wine, or an icon that Windows 11 keeps behind the overflow arrow): a
    // NIM_MODIFY that changes nothing is TRUE only for a known icon.
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    const bool known = Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    *how = Format("Shell_NotifyIconGetRect answered 0x%08lX%s; an empty NIM_MODIFY answered %s",
                  static_cast<unsigned long>(result),
                  result == E_NOTIMPL ? " (not implemented)" : "", known ? "TRUE" : "FALSE");
    return known;
}

std::string Foreground(const Copy& copy, bool* held)
{
    bool inMenu = false;
    HWND window = FindHushpaneWindow(copy.pid);
    *held = ThreadHoldsForeground(GetWindowThreadProcessId(window, nullptr), &inMenu);
    return "foreground: " + WindowText(GetForegroundWindow()) +
           (*held ? "; Hushpane's thread holds it" : "; Hushpane's thread does not");
}

std::string NotMade(const Gesture& gesture, const Copy& copy)
{
    if (gesture.inTheWay != nullptr && WindowProcess(gesture.inTheWay) == copy.pid) {
        return "Hushpane's own window was in the way: that is Hushpane's doing";
    }
    return DESKTOP_STOPPED;
}

bool ClickIcon(const Copy& copy, LPARAM mouseMessage, Facts* facts)
{
    std::string refused;
    const bool sent = UnlessStopped([&] {
        if (!AllowSetForegroundWindow(copy.pid)) {
            refused = Format("AllowSetForegroundWindow failed (error %lu)", GetLastError());
        }
        SendNotifyMessageW(FindHushpaneWindow(copy.pid), WM_TRAYICON, TRAY_ICON_ID, mouseMessage);
    });
    facts->push_back(refused);
    const char* message = mouseMessage == WM_LBUTTONUP ? "WM_LBUTTONUP" : "WM_RBUTTONUP";
    facts->push_back(message + std::string(sent ? " sent" : " not sent: the check was stopped"));
    return sent;
}

HWND OpenMenu(const Copy& copy, Facts* facts)
{
    HWND menu = nullptr;
    auto opened = [&] { return (menu = FindVisibleWindow(L"#32768", copy.pid)) != nullptr; };
    if (!ClickIcon(copy, WM_RBUTTONUP, facts)) {
        return nullptr;
    }
    const bool open = WaitFor(opened, MENU_WITHIN_MS);
    bool held = false;
    facts->push_back(open ? "its menu opened (" + Foreground(copy, &held) + ")"
                          : "no menu of Hushpane's " + Within(MENU_WITHIN_MS));
    return menu;
}

bool AwaitNoMenu(const Copy& copy, bool throughStop)
{
    return WaitFor([&] { return FindVisibleWindow(L"#32768", copy.pid) == nullptr; },
                   MENU_WITHIN_MS, throughStop);
}

bool ChooseFromMenu(const Copy& copy, WPARAM item, Facts* facts, Millis* chosen)
{
    HWND menu = FindVisibleWindow(L"#32768", copy.pid);
    if (menu == nullptr) {
        TakeForeground(facts);
        menu = OpenMenu(copy, facts);
    }
    if (menu == nullptr) {
        return false;
    }
    const int row = static_cast<int>(item) - 1;
    RECT whole = {};
    GetWindowRect(menu, &whole);
    const POINT middle = Middle(SplitRow(whole, row, ITEM_COUNT));
    POINT was = {};
    GetCursorPos(&was);
    *chosen = Now();
    const Gesture click = ClickOn(menu, "Hushpane's menu", middle, was);
    facts->push_back(Format("%s %s %s (row %d of %d of the menu window %s, %u dpi)",
                            ITEM_NAMES[row], click.sent ? "clicked at" : "aimed at",
                            PointText(middle).c_str(), row + 1, ITEM_COUNT, RectText(whole).c_str(),
                            GetDpiForWindow(menu)));
    if (!click.sent) {
        facts->push_back(click.why);
        facts->push_back(NotMade(click, copy));
        return false;
    }
    const bool closed = AwaitNoMenu(copy);
    facts->push_back(closed ? "" : "the menu stayed open after the click");
    return closed;
}
