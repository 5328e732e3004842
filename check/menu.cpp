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

}  // namespace

HWND OpenMenu(const Copy& copy, std::string* detail)
{
    HWND menu = FindVisibleWindow(L"#32768", copy.pid);
    if (menu != nullptr) {
        return menu;
    }
    *detail += "WM_RBUTTONUP sent, " + ClickIcon(copy, WM_RBUTTONUP);
    if (!WaitFor([&] { return (menu = FindVisibleWindow(L"#32768", copy.pid)) != nullptr; }, 3000)) {
        *detail += "; no menu of Hushpane's within 3 s";
        return nullptr;
    }
    ++g_menusSeen;
    g_menusInForeground += HushpaneHoldsForeground(copy) ? 1 : 0;
    *detail += "; its menu opened (" + Foreground(copy) + "); ";
    return menu;
}

bool AwaitNoMenu(const Copy& copy)
{
    return WaitFor([&] { return FindVisibleWindow(L"#32768", copy.pid) == nullptr; }, 3000);
}

PressOutcome ClickMenuItem(HWND menu, int item, std::string* detail, ULONGLONG* clicked)
{
    RECT whole = {};
    GetWindowRect(menu, &whole);
    const RECT row = SplitMenuItemRect(menu, item, ITEM_COUNT);
    RECT read = {};
    const bool readable = ReadMenuItemRect(menu, item, &read);
    const RECT rect = ChooseItemRect(readable ? &read : nullptr, row);
    std::string from;
    if (readable && EqualRect(&rect, &read)) {
        from = "the middle of its GetMenuItemRect " + RectText(read) + ", which lies in its row of the menu window";
    } else {
        from = Format("row %d of %d of the menu window %s, %u dpi, ", item + 1, ITEM_COUNT, RectText(whole).c_str(),
                      GetDpiForWindow(menu)) +
               (readable ? "since the middle of its GetMenuItemRect " + RectText(read) +
                               " lies outside that row (a menu scaled for another DPI awareness)"
                         : std::string("since its items cannot be read from here"));
    }
    const POINT middle = Middle(rect);
    std::string pressed;
    const PressOutcome outcome = PressOn(menu, "Hushpane's menu", middle, clicked, &pressed);
    *detail += Format("%s %s %s (%s)", ITEM_NAMES[item], outcome == PRESS_MADE ? "clicked at" : "aimed at",
                      PointText(middle).c_str(), from.c_str()) +
               pressed + (outcome == PRESS_REFUSED ? std::string("; ") + DESKTOP_STOPPED : "");
    return outcome;
}

bool ChooseFromMenu(const Copy& copy, int item, std::string* detail, ULONGLONG* chosen)
{
    HWND menu = OpenMenu(copy, detail);
    if (menu == nullptr) {
        return false;
    }
    if (ClickMenuItem(menu, item, detail, chosen) == PRESS_REFUSED) {
        return false;
    }
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
