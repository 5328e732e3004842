// Hushpane used from outside as the shell and a user use it: started, its icon
// clicked, its menu's items chosen with a mouse click (which reaches a menu
// whoever holds the foreground), and ended.
#include "check/check.h"

#include <shellapi.h>

std::wstring g_exe;
Copy g_copies[MAX_COPIES];
int g_copyCount = 0;

const char* const ITEM_NAMES[] = {"Pause", "Exit"};
constexpr int ITEM_COUNT = 2;

constexpr DWORD EXIT_PATIENCE_MS = 22000;  // its loop takes a posted command within 500 ms, or after a 20 s peek

// As its own menu ends it, with messages only (the user may have stopped the
// check): an open box or menu closed, then Exit's command posted.
static void EndCopy(const Copy& copy)
{
    if (HWND box = FindVisibleWindow(L"#32770", copy.pid)) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return FindVisibleWindow(L"#32770", copy.pid) == nullptr; }, 2000);
    }
    HWND window = AwaitHushpaneWindow(copy);
    if (FindVisibleWindow(L"#32768", copy.pid) != nullptr) {
        PostMessageW(window, WM_CANCELMODE, 0, 0);  // DefWindowProcW ends its thread's menu
        AwaitNoMenu(copy);
    }
    PostMessageW(window, WM_COMMAND, EXIT_ITEM, 0);
    DWORD status = 0;
    if (WaitForSingleObject(copy.process, EXIT_PATIENCE_MS) != WAIT_OBJECT_0) {
        TerminateProcess(copy.process, 255);
        WaitForSingleObject(copy.process, 5000);
        Note(Format("Hushpane (process %lu) had not ended %lu s after Exit's command: the check ended it", copy.pid,
                    EXIT_PATIENCE_MS / 1000));
    } else if (GetExitCodeProcess(copy.process, &status) && status != 1) {
        Note(Format("Hushpane (process %lu) ended by Exit with status %lu, not 1", copy.pid, status));
    }
}

bool Launch(std::wstring commandLine, DWORD flags, HANDLE input, HANDLE output, PROCESS_INFORMATION* started)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    // No console and a process group of its own: Ctrl+C and a closing console are the check's to handle.
    const bool ok = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                   flags | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                                   started) != FALSE;
    if (ok) {
        CloseHandle(started->hThread);
    }
    return ok;
}

Copy* StartHushpane(std::string* problem)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    PROCESS_INFORMATION started = {};
    const bool ok = g_copyCount < MAX_COPIES && CreatePipe(&readEnd, &writeEnd, &inheritable, 0) &&
                    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0) &&
                    Launch(L"\"" + g_exe + L"\"", 0, nullptr, writeEnd, &started);
    const DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (!ok) {
        CloseHandle(readEnd);
        *problem = Format("could not start %s (error %lu)", Utf8(g_exe).c_str(), error);
        return nullptr;
    }
    Copy& copy = g_copies[g_copyCount++];
    copy = {started.hProcess, started.dwProcessId, readEnd, {}};
    Guarded(copy);
    return &copy;
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

bool ClickIcon(const Copy& copy, LPARAM mouseMessage, std::string* detail)
{
    // As the shell on a click: it holds the foreground and lets the program take it, so that
    // its menu gets the keys and closes when the user clicks elsewhere.
    *detail += mouseMessage == WM_LBUTTONUP ? "WM_LBUTTONUP sent, " : "WM_RBUTTONUP sent, ";
    const bool held = TakeForeground(detail);
    if (!AllowSetForegroundWindow(copy.pid)) {
        *detail += Format("; AllowSetForegroundWindow failed (error %lu)", GetLastError());
    }
    SendNotifyMessageW(FindHushpaneWindow(copy.pid), WM_TRAYICON, TRAY_ICON_ID, mouseMessage);
    return held;
}

HWND AwaitHushpaneWindow(const Copy& copy)
{
    HWND window = nullptr;
    WaitFor([&] { return (window = FindHushpaneWindow(copy.pid)) != nullptr || !Running(copy); }, 2000);
    return window;
}

bool IconPresent(HWND window, std::string* how)
{
    NOTIFYICONIDENTIFIER icon = {sizeof(icon), window, TRAY_ICON_ID, {}};
    RECT rect = {};
    const HRESULT result = Shell_NotifyIconGetRect(&icon, &rect);
    // No rectangle (Wine, or an icon that Windows 11 keeps behind the overflow
    // arrow): a NIM_MODIFY that changes nothing is TRUE only for a known icon.
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    const bool known = SUCCEEDED(result) || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    *how = SUCCEEDED(result) ? "Shell_NotifyIconGetRect " + RectText(rect) + (result == S_OK ? "" : ", S_FALSE")
                             : Format("Shell_NotifyIconGetRect answered 0x%08lX%s; an empty NIM_MODIFY answered %s",
                                      static_cast<unsigned long>(result),
                                      result == E_NOTIMPL ? " (not implemented)" : "", known ? "TRUE" : "FALSE");
    return known;
}

bool HushpaneHoldsForeground(const Copy& copy, bool* inMenu)
{
    const DWORD thread = GetWindowThreadProcessId(FindHushpaneWindow(copy.pid), nullptr);
    auto ofThread = [thread](HWND window) {
        return window != nullptr && GetWindowThreadProcessId(window, nullptr) == thread;
    };
    // The foreground window may still be null while Hushpane's thread holds the
    // foreground; that thread's own state then names its windows. Its menu's
    // owner is Hushpane's window (Wine names the menu's own).
    GUITHREADINFO foreground = {};
    foreground.cbSize = sizeof(foreground);
    const bool read = thread != 0 && GetGUIThreadInfo(0, &foreground);
    if (inMenu != nullptr) {
        *inMenu = read && (foreground.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE)) != 0 &&
                  ofThread(foreground.hwndMenuOwner);
    }
    return ofThread(GetForegroundWindow()) ||
           (read && (ofThread(foreground.hwndMenuOwner) || ofThread(foreground.hwndCapture) ||
                     ofThread(foreground.hwndActive) || ofThread(foreground.hwndFocus)));
}

std::string Foreground(const Copy& copy, bool* inMenu)
{
    return "foreground: " + WindowText(GetForegroundWindow()) +
           (HushpaneHoldsForeground(copy, inMenu) ? "; Hushpane's thread holds it" : "; Hushpane's thread does not");
}

void EndCopies()
{
    for (int i = 0; i < g_copyCount; ++i) {
        if (Running(g_copies[i])) {
            EndCopy(g_copies[i]);
        }
    }
}

HWND OpenMenu(const Copy& copy, std::string* detail, bool* checkHeld)
{
    HWND menu = FindVisibleWindow(L"#32768", copy.pid);
    if (menu != nullptr) {
        return menu;
    }
    const bool held = ClickIcon(copy, WM_RBUTTONUP, detail);
    if (checkHeld != nullptr) {
        *checkHeld = held;
    }
    if (!WaitFor([&] { return (menu = FindVisibleWindow(L"#32768", copy.pid)) != nullptr; }, 3000)) {
        *detail += "; no menu of Hushpane's within 3 s";
        return nullptr;
    }
    *detail += "; its menu opened (" + Foreground(copy) + "); ";
    return menu;
}

bool AwaitNoMenu(const Copy& copy)
{
    return WaitFor([&] { return FindVisibleWindow(L"#32768", copy.pid) == nullptr; }, 3000);
}

bool ChooseFromMenu(const Copy& copy, WPARAM item, std::string* detail, ULONGLONG* chosen)
{
    HWND menu = OpenMenu(copy, detail);
    if (menu == nullptr) {
        return false;
    }
    const int row = static_cast<int>(item) - 1;
    RECT whole = {};
    GetWindowRect(menu, &whole);
    const POINT middle = Middle(SplitRow(whole, row, ITEM_COUNT));
    std::string how;
    *chosen = GetTickCount64();
    const bool clicked = ClickOn(menu, "Hushpane's menu", middle, &how);
    *detail += Format("%s %s %s (row %d of %d of the menu window %s, %u dpi)", ITEM_NAMES[row],
                      clicked ? "clicked at" : "aimed at", PointText(middle).c_str(), row + 1, ITEM_COUNT,
                      RectText(whole).c_str(), GetDpiForWindow(menu)) +
               how;
    if (!clicked) {
        *detail += std::string("; ") + DESKTOP_STOPPED;
        return false;
    }
    if (!AwaitNoMenu(copy)) {
        *detail += "; the menu stayed open after the click";
        return false;
    }
    *detail += "; ";
    return true;
}
