// Hushpane's menu, used as a user uses it: opened by the shell's right-click
// callback, its items chosen with a real mouse click. Keys go to whichever
// thread holds the foreground, which on Windows need not be Hushpane's; a
// click on an item reaches the menu whoever holds it.
#include "check/check.h"

namespace {

const char* const ITEM_NAMES[] = {"Pause", "Exit"};
constexpr int ITEM_COUNT = 2;

int g_menusSeen = 0;          // Hushpane's menus seen open
int g_menusInForeground = 0;  // of them, with Hushpane's thread in the foreground

// Clicks there and puts the cursor back where it was; returns when it clicked.
ULONGLONG ClickAndPutBack(POINT point)
{
    POINT was = {};
    GetCursorPos(&was);
    ClickAt(point);
    const ULONGLONG clicked = GetTickCount64();
    MoveMouse(was);
    return clicked;
}

// The top-level window at a point: GA_ROOT of the desktop window itself,
// where nothing covers it, is null.
HWND TopLevelAt(POINT point)
{
    HWND window = WindowFromPoint(point);
    HWND root = GetAncestor(window, GA_ROOT);
    return root != nullptr ? root : window;
}

bool IsDesktop(HWND window)
{
    const std::string name = WindowClass(window);
    return window != nullptr &&
           (window == GetDesktopWindow() || window == GetShellWindow() || name == "Progman" || name == "WorkerW");
}

// A point of the primary work area well away from the menu: on the bare
// desktop where one shows, never on a console (a click there can start a
// selection that stops the console's output) or a window of Hushpane's.
// Returns the top-level window under it, null when there is no such point.
HWND FindOutside(const Copy& copy, HWND menu, POINT* point)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    RECT around = {};
    GetWindowRect(menu, &around);
    InflateRect(&around, 16, 16);
    HWND found = nullptr;
    for (int row = 1; row <= 3; ++row) {
        for (int column = 1; column <= 3; ++column) {
            const POINT candidate = {work.left + (work.right - work.left) * column / 4,
                                     work.top + (work.bottom - work.top) * row / 4};
            HWND under = TopLevelAt(candidate);
            if (PtInRect(&around, candidate) || WindowClass(under) == "ConsoleWindowClass" ||
                WindowProcess(under) == copy.pid) {
                continue;
            }
            if (IsDesktop(under)) {
                *point = candidate;
                return under;
            }
            if (found == nullptr) {
                *point = candidate;
                found = under;
            }
        }
    }
    return found;
}

}  // namespace

std::string Foreground(const Copy& copy)
{
    HWND window = GetForegroundWindow();
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof(thread);
    const bool inMenu = GetGUIThreadInfo(0, &thread) && (thread.flags & GUI_POPUPMENUMODE) != 0;
    if (window == nullptr) {
        return "foreground: no window";
    }
    const DWORD pid = WindowProcess(window);
    const char* whose = pid == copy.pid                ? "Hushpane's"
                        : pid == GetCurrentProcessId() ? "this check's"
                                                       : "another program's";
    return Format("foreground: %s process %lu, class %s%s", whose, pid, WindowClass(window).c_str(),
                  inMenu ? ", its thread in a popup menu" : "");
}

HWND OpenMenu(const Copy& copy)
{
    HWND menu = FindVisibleWindow(L"#32768", copy.pid);
    if (menu != nullptr) {
        return menu;
    }
    ClickIcon(copy, WM_RBUTTONUP);
    if (!WaitFor([&] { return (menu = FindVisibleWindow(L"#32768", copy.pid)) != nullptr; }, 3000)) {
        return nullptr;
    }
    ++g_menusSeen;
    g_menusInForeground += WindowProcess(GetForegroundWindow()) == copy.pid ? 1 : 0;
    return menu;
}

bool AwaitNoMenu(const Copy& copy)
{
    return WaitFor([&] { return FindVisibleWindow(L"#32768", copy.pid) == nullptr; }, 3000);
}

ULONGLONG ClickMenuItem(const Copy& copy, HWND menu, int item, std::string* detail)
{
    RECT rect = {};
    std::string from;
    if (ReadMenuItemRect(menu, item, &rect)) {
        from = "the middle of its GetMenuItemRect " + RectText(rect);
    } else {
        RECT whole = {};
        GetWindowRect(menu, &whole);
        rect = SplitMenuItemRect(menu, item, ITEM_COUNT);
        from = Format("row %d of %d of the menu window %s, whose items cannot be read from here", item + 1, ITEM_COUNT,
                      RectText(whole).c_str());
    }
    const std::string foreground = Foreground(copy);
    const POINT middle = Middle(rect);
    const ULONGLONG clicked = ClickAndPutBack(middle);
    *detail += Format("%s clicked at %s (%s; %s)", ITEM_NAMES[item], PointText(middle).c_str(), from.c_str(),
                      foreground.c_str());
    return clicked;
}

bool ClickOutsideMenu(const Copy& copy, HWND menu, std::string* detail)
{
    POINT point = {};
    HWND under = FindOutside(copy, menu, &point);
    if (under == nullptr) {
        *detail += "no point away from the menu to click";
        return false;
    }
    const std::string foreground = Foreground(copy);
    ClickAndPutBack(point);
    *detail += Format("a click at %s %s (%s)", PointText(point).c_str(),
                      IsDesktop(under) ? "on the desktop" : ("on a window of class " + WindowClass(under)).c_str(),
                      foreground.c_str());
    return true;
}

bool ChooseFromMenu(const Copy& copy, int item, std::string* detail, ULONGLONG* chosen)
{
    HWND menu = OpenMenu(copy);
    if (menu == nullptr) {
        *detail += "no menu opened within 3 s of the right click";
        return false;
    }
    *chosen = ClickMenuItem(copy, menu, item, detail);
    if (!AwaitNoMenu(copy)) {
        *detail += "; the menu stayed open after the click";
        return false;
    }
    *detail += "; ";
    return true;
}

void NoteMenuForeground()
{
    if (g_menusSeen > 0) {
        Note(Format("Hushpane's thread held the foreground while its menu was open %d of %d times%s",
                    g_menusInForeground, g_menusSeen,
                    g_menusInForeground == g_menusSeen ? ""
                                                       : " (then keys do not reach the menu, and on Windows a click "
                                                         "elsewhere does not close it)"));
    }
}
