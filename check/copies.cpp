// Hushpane used as the shell and a user use it: started, its icon clicked, its menu's items
// clicked (a click reaches a menu whoever holds the foreground), and ended.
#include "check/check.h"

#include <shellapi.h>

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
    std::string refused = HandOver(started->hProcess);
    if (!refused.empty()) {
        refused = "its guard could not take it (" + refused +
                  "), and a Hushpane that nobody ends leaves the taskbars hidden";
    } else if (ResumeThread(started->hThread) == static_cast<DWORD>(-1)) {
        refused =
            Format("it could not be let run (ResumeThread failed with error %lu)", GetLastError());
    } else {
        return {};
    }
    TerminateProcess(started->hProcess, 255);
    CloseHandle(started->hProcess);
    return "the check ended the Hushpane it started, before it ran: " + refused;
}

Copy* StartHushpane(Finding* finding)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (g_copyCount == MAX_COPIES || !CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        Skip(finding, Format("no pipe for a new Hushpane's output (error %lu)", GetLastError()));
        return nullptr;
    }
    PROCESS_INFORMATION started = {};
    std::string problem = "not started: the check was stopped";
    UnlessStopped([&] { problem = Start(writeEnd, &started); });
    CloseHandle(writeEnd);
    if (started.hThread != nullptr) {
        CloseHandle(started.hThread);
    }
    if (!problem.empty()) {
        CloseHandle(readEnd);
        Skip(finding, problem);
        return nullptr;
    }
    g_copies[g_copyCount] = {started.hProcess,    readEnd, {},   nullptr, 0,
                             started.dwProcessId, 0,       false};
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

bool AwaitWindow(Copy& copy)
{
    auto found = [&] {
        copy.window = FindHushpaneWindow(copy.pid);
        return copy.window != nullptr || !Running(copy);
    };
    if (copy.window == nullptr) {
        WaitFor(found, WINDOW_WITHIN_MS, true);
        copy.thread = GetWindowThreadProcessId(copy.window, nullptr);
    }
    return copy.window != nullptr;
}

HWND MenuOf(const Copy& copy)
{
    return FindVisibleWindow(L"#32768", copy.pid);
}

HWND BoxOf(const Copy& copy)
{
    return FindVisibleWindow(L"#32770", copy.pid);
}

// Closes a box or menu of its own that is open; true when none is.
static bool NoneOpen(const Copy& copy)
{
    HWND box = BoxOf(copy);
    if (box != nullptr) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    const bool menu = MenuOf(copy) != nullptr;
    if (menu) {
        PostMessageW(copy.window, WM_CANCELMODE, 0, 0);  // DefWindowProcW ends its thread's menu
    }
    return box == nullptr && !menu;
}

// As its own menu ends it, with messages only: Exit posted once nothing of its own is open
// (or a while after), and whatever opens meanwhile (a last callback is taken up to a loop
// later) closed, until it ends.
static void EndCopy(Copy& copy)
{
    const Millis exitBy = Now() + MENU_WITHIN_MS;
    bool posted = false;
    auto ended = [&] {
        const bool clear = NoneOpen(copy);
        if (!posted && copy.window != nullptr && (clear || Now() >= exitBy)) {
            posted = PostMessageW(copy.window, WM_COMMAND, EXIT_ITEM, 0) != FALSE;
        }
        return !Running(copy);
    };
    AwaitWindow(copy);
    if (WaitFor(ended, EXIT_PATIENCE_MS, true)) {
        return;
    }
    TerminateProcess(copy.process, 255);
    WaitForSingleObject(copy.process, KILLED_WITHIN_MS);
    const std::string after = posted
                                  ? Format("%lld s after Exit's command", EXIT_PATIENCE_MS / 1000)
                                  : "and no Exit could be posted to it";
    Note(Format("Hushpane (process %lu) had not ended ", copy.pid) + after +
         ": the check ended it");
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
    *held = ThreadHoldsForeground(copy.thread, &inMenu);
    const char* thread = *held ? "; Hushpane's thread holds it" : "; Hushpane's thread does not";
    return "foreground: " + WindowText(GetForegroundWindow()) + thread;
}

void NotMade(const Gesture& gesture, const Copy& copy, const std::string& what, Finding* finding)
{
    if (BlockedVerdict(WindowProcess(gesture.inTheWay), copy.pid) == FAIL) {
        Want(finding, false, what + " made",
             gesture.why + ": Hushpane's own window was in the way");
    } else {
        Skip(finding, what + " " + gesture.why);
    }
}

bool ClickIcon(Copy& copy, LPARAM mouseMessage, Finding* finding)
{
    const bool held = TakeForeground(&finding->seen);
    bool granted = false;
    DWORD refused = 0;
    DWORD undelivered = 0;
    const bool went = UnlessStopped([&] {
        granted = AllowSetForegroundWindow(copy.pid) != FALSE;
        refused = GetLastError();
        const bool sent = SendNotifyMessageW(copy.window, WM_TRAYICON, TRAY_ICON_ID, mouseMessage);
        undelivered = sent ? 0 : GetLastError();
        copy.calledAt = Now();
    });
    copy.handed = held && granted;
    if (!went) {
        return false;
    }
    if (!granted) {
        finding->seen.push_back(Format("AllowSetForegroundWindow failed (error %lu)", refused));
    }
    const std::string message = mouseMessage == WM_LBUTTONUP ? "WM_LBUTTONUP" : "WM_RBUTTONUP";
    return Want(finding, undelivered == 0, message + " delivered to its window", message + " sent",
                message + Format(" not sent: SendNotifyMessageW failed (error %lu)", undelivered));
}

HWND OpenMenu(Copy& copy, Finding* finding)
{
    HWND menu = nullptr;
    if (!ClickIcon(copy, WM_RBUTTONUP, finding)) {
        return nullptr;
    }
    const bool open = WaitFor([&] { return (menu = MenuOf(copy)) != nullptr; }, MENU_WITHIN_MS);
    bool held = false;
    const std::string holder = Foreground(copy, &held);
    Want(finding, open, "a menu of Hushpane's " + Within(MENU_WITHIN_MS),
         "its menu opened (" + holder + ")", "no menu");
    // Input between the grant and Hushpane's taking of the callback withdraws the grant
    // (Microsoft's SetForegroundWindow page); the check sends none before the menu is open.
    copy.handed = copy.handed && LastInputAt() < copy.calledAt;
    if (open && copy.handed && !held) {
        finding->seen.push_back("the check held the foreground and allowed Hushpane to take it, "
                                "yet with its menu open Hushpane's thread does not hold it");
    }
    return menu;
}

bool AwaitNoMenu(const Copy& copy, bool throughStop)
{
    return WaitFor([&] { return MenuOf(copy) == nullptr; }, MENU_WITHIN_MS, throughStop);
}

Millis ChooseFromMenu(Copy& copy, WPARAM item, Finding* finding)
{
    HWND menu = MenuOf(copy);
    if (menu == nullptr && (menu = OpenMenu(copy, finding)) == nullptr) {
        return 0;
    }
    const int row = static_cast<int>(item) - 1;
    RECT whole = {};
    GetWindowRect(menu, &whole);
    const POINT middle = Middle(SplitRow(whole, row, ITEM_COUNT));
    POINT was = {};
    GetCursorPos(&was);
    const Millis clicked = Now();
    const Gesture click = ClickOn(menu, "Hushpane's menu", middle, was);
    const std::string aim =
        Format(" %s (row %d of %d of the menu window %s, %u dpi)", PointText(middle).c_str(),
               row + 1, ITEM_COUNT, RectText(whole).c_str(), GetDpiForWindow(menu));
    if (!click.sent) {
        finding->seen.push_back(ITEM_NAMES[row] + (" aimed at" + aim));
        NotMade(click, copy, "the click on " + std::string(ITEM_NAMES[row]), finding);
        return 0;
    }
    finding->seen.push_back(ITEM_NAMES[row] + (" clicked at" + aim));
    if (!Want(finding, AwaitNoMenu(copy), "the menu closed by the click", "",
              "the menu stayed open")) {
        return 0;
    }
    return clicked;
}
