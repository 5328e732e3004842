// Each check gathers what it saw as phrases, and its line joins them. A check that the
// user's stop cut short is no finding about Hushpane, and is not reported.
#include "check/check.h"

#include <cstdio>

const char HOTKEY_LINE[] = "Failed to register hot key for Hushpane.";

// How soon Hushpane must act, and how long what it did must last, from its own timings.
constexpr Millis STARTED_WITHIN_MS = 5000;  // Wine's first window of a session is slow
constexpr Millis ICON_WITHIN_MS = 2000;
constexpr Millis TAKEN_WITHIN_MS = 2 * HUSHPANE_LOOP_MS;   // a key: a loop, and as much again
constexpr Millis PAUSED_WITHIN_MS = 3 * HUSHPANE_LOOP_MS;  // a menu's command: a loop more
constexpr Millis PEEK_MARGIN_MS = 1000;                    // around its twenty seconds
constexpr Millis KEPT_MS = 2 * HUSHPANE_LOOP_MS;           // what it did lasts
constexpr Millis BOX_WITHIN_MS = 3000;
constexpr Millis ENDED_WITHIN_MS = 2000;  // Exit, with the icon's removal
constexpr UINT CLOSE_ANSWERED_MS = 2000;

static Copy* g_hushpane = nullptr;  // the copy checked: check 1's, then check 8's
static HWND g_hidden = nullptr;     // its message-only window

// A new Hushpane, and whether it hid every taskbar in time; null when none started.
static Copy* StartHidden(bool* hidden, Facts* facts)
{
    const Millis start = Now();
    Copy* copy = StartHushpane(facts);
    *hidden = copy != nullptr && WaitFor([] { return AllTaskbars(0); }, STARTED_WITHIN_MS);
    const std::string after = Format("after %.2f s", SecondsSince(start));
    if (copy != nullptr) {
        facts->push_back(*hidden
                             ? "every taskbar layered with alpha 0 " + after
                             : Within(STARTED_WITHIN_MS) + " the taskbars read " + TaskbarsNow());
    }
    return copy;
}

static bool CheckStart(Facts* facts)
{
    bool hidden = false;
    g_hushpane = StartHidden(&hidden, facts);
    if (g_hushpane == nullptr) {
        return false;
    }
    g_hidden = AwaitHushpaneWindow(*g_hushpane);
    if (g_hidden == nullptr) {
        facts->push_back(Running(*g_hushpane) ? "no message-only window" : EndedHow(*g_hushpane));
        return false;
    }
    facts->push_back("message-only window " + Quoted(TitleOf(g_hidden)) +
                     Format(" of process %lu", g_hushpane->pid));
    std::string how;
    const bool icon = WaitFor([&] { return IconPresent(g_hidden, &how); }, ICON_WITHIN_MS);
    facts->push_back((icon ? "icon added: " : "icon not found: ") + how);
    HWND shown = FindVisibleWindow(nullptr, g_hushpane->pid);
    facts->push_back(shown ? "a visible window of class " + WindowClass(shown)
                           : "no visible window");
    const std::string output = ReadOutput(*g_hushpane);
    facts->push_back("standard output " + Quoted(output));
    return hidden && icon && shown == nullptr && output.empty();
}

// Whether the taskbars kept `alpha`, and Hushpane ran, until `until`; what changed if not.
static bool KeptUntil(int alpha, Millis until, Facts* facts)
{
    const Millis from = Now();
    auto changed = [alpha] { return !AllTaskbars(alpha) || !Running(*g_hushpane); };
    if (!WaitFor(changed, until - from) && Stopped() == nullptr) {
        return true;
    }
    const std::string taskbars = "the taskbars read " + TaskbarsNow();
    const std::string what = Running(*g_hushpane) ? taskbars : EndedHow(*g_hushpane);
    facts->push_back(Format("%.2f s later ", SecondsSince(from)) + what);
    return false;
}

static bool CheckPeek(Facts* facts)
{
    // The hot key takes the 0; the Ctrl goes to the foreground, which must be the check's own.
    TakeForeground(facts);
    const Gesture press = PressCtrl0(g_checkWindow);
    facts->push_back("Ctrl+0 " + (press.sent ? "sent" : press.why));
    if (!press.sent) {
        facts->push_back(NotMade(press, *g_hushpane));
        return false;
    }
    const Millis pressed = Now();
    if (!WaitFor([] { return AllTaskbars(255); }, TAKEN_WITHIN_MS)) {
        facts->push_back(Within(TAKEN_WITHIN_MS) + " the taskbars read " + TaskbarsNow());
        return false;
    }
    facts->push_back(Format("alpha 255 after %.2f s", SecondsSince(pressed)));
    LookAtTaskbars(true);
    if (!KeptUntil(255, pressed + HUSHPANE_PEEK_MS - PEEK_MARGIN_MS, facts)) {
        return false;
    }
    facts->push_back(Format("still 255 at %.2f s", SecondsSince(pressed)));
    const Millis hiddenBy = pressed + HUSHPANE_PEEK_MS + PEEK_MARGIN_MS;
    if (WaitFor([] { return AllTaskbars(0); }, hiddenBy - Now())) {
        facts->push_back(Format("0 again at %.2f s", SecondsSince(pressed)));
        return true;
    }
    facts->push_back(Format("at %.2f s the taskbars read ", SecondsSince(pressed)) + TaskbarsNow());
    // The next checks start once it is over.
    WaitFor([] { return AllTaskbars(0) || !Running(*g_hushpane); }, HUSHPANE_PEEK_MS);
    return false;
}

// The texts and the buttons of a message box, as another program reads them.
static BOOL CALLBACK ReadBoxChild(HWND child, LPARAM data)
{
    Facts* lists = reinterpret_cast<Facts*>(data);
    const std::string text = TitleOf(child);
    lists[WindowClass(child) == "Button" ? 1 : 0].push_back(text.empty() ? "" : Quoted(text));
    return TRUE;
}

static bool CheckLeftClick(Facts* facts)
{
    HWND box = nullptr;
    auto opened = [&] { return (box = FindVisibleWindow(L"#32770", g_hushpane->pid)) != nullptr; };
    TakeForeground(facts);
    if (ClickIcon(*g_hushpane, WM_LBUTTONUP, facts) && !WaitFor(opened, BOX_WITHIN_MS)) {
        facts->push_back("no box of Hushpane's " + Within(BOX_WITHIN_MS));
    }
    if (box == nullptr) {
        return false;
    }
    Facts lists[2];  // texts, buttons
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(lists));
    const std::string caption = TitleOf(box);
    const std::string texts = Join(lists[0], ", ");
    const std::string buttons = Join(lists[1], ", ");
    const bool owned = GetWindow(box, GW_OWNER) == g_hidden;
    bool held = false;
    facts->push_back("its box opened (" + Foreground(*g_hushpane, &held) + ")");
    facts->push_back(Format("a box of process %lu, %s by its hidden window, caption %s, text %s, "
                            "buttons %s",
                            g_hushpane->pid, owned ? "owned" : "not owned", Quoted(caption).c_str(),
                            texts.c_str(), buttons.c_str()));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    const bool closed = WaitFor([&] { return !IsWindowVisible(box); }, BOX_WITHIN_MS);
    facts->push_back(closed ? "OK closed it" : "OK did not close it");
    return closed && KeptUntil(0, Now() + KEPT_MS, facts) && caption == "Hushpane" &&
           texts == Quoted("Left Click on Tray Icon!") && buttons == Quoted("OK");
}

// The items as MN_GETHMENU gives them; Wine's menus only their own process reads.
static bool MenuItemsRight(HWND menuWindow, Facts* facts)
{
    DWORD_PTR menu = 0;
    SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 1000, &menu);
    const int count = GetMenuItemCount(reinterpret_cast<HMENU>(menu));
    Facts items;
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(reinterpret_cast<HMENU>(menu), static_cast<UINT>(i), text, 64,
                       MF_BYPOSITION);
        items.push_back(Quoted(Utf8(text)));
    }
    if (count >= 0) {
        facts->push_back("items " + Join(items, ", ") + " (read with MN_GETHMENU)");
        return Join(items, ", ") == Quoted("Pause") + ", " + Quoted("Exit");
    }
    const bool wine = UnderWine();
    facts->push_back(wine
                         ? "its items cannot be read from another process under Wine (it keeps "
                           "menus per process), so checks 5 and 7 prove them by position and effect"
                         : "its items could not be read: MN_GETHMENU gave no menu whose items "
                           "another program can read, so \"Pause\" and \"Exit\" are not proven");
    return wine;
}

// A click outside the open menu, on the check's own window: whether it closed the menu.
static bool ClosedFromOutside(HWND menu, bool checkHeld, Facts* facts)
{
    RECT open = {};
    GetWindowRect(menu, &open);
    facts->push_back("the menu is open; then a click outside it");
    const Gesture away = ClickCheckWindow(open, facts);
    if (!away.sent) {
        facts->push_back("so whether a click elsewhere closes the menu is not known");
        facts->push_back(NotMade(away, *g_hushpane));
        return false;
    }
    if (AwaitNoMenu(*g_hushpane)) {
        facts->push_back("it closed the menu");
        return true;
    }
    if (!checkHeld) {
        // The shell hands the foreground on; a check that never held it could not.
        facts->push_back("the menu stayed open, but the check had not held the foreground to hand "
                         "on, as the shell does: " +
                         std::string(DESKTOP_STOPPED));
        return false;
    }
    facts->push_back("the menu stayed open, so a user would be stuck with it");
    return false;
}

static bool CheckMenu(Facts* facts)
{
    const bool checkHeld = TakeForeground(facts);
    HWND menu = OpenMenu(*g_hushpane, facts);
    if (menu == nullptr) {
        return false;
    }
    // A key goes to whoever holds the foreground: to a user's dialog, or a full-screen
    // program, if not to the check or the menu.
    bool held = false;
    const std::string holder = Foreground(*g_hushpane, &held);
    if (checkHeld && !held) {
        facts->push_back("the check held the foreground and allowed Hushpane to take it, yet with "
                         "its menu open Hushpane's thread does not hold it");
    }
    const bool itemsRight = MenuItemsRight(menu, facts);
    const Gesture escape = PressEscape(g_checkWindow, GetWindowThreadProcessId(g_hidden, nullptr));
    facts->push_back("Escape (" + holder + ") " + (escape.sent ? "sent" : escape.why));
    if (escape.sent && AwaitNoMenu(*g_hushpane)) {
        facts->push_back("it closed the menu");
    } else if (!ClosedFromOutside(menu, checkHeld, facts)) {
        return false;
    }
    return KeptUntil(0, Now() + KEPT_MS, facts) && itemsRight;
}

// Pause from the menu, twice: the taskbars take alpha 255 and keep it, then 0.
static bool CheckPause(Facts* facts)
{
    for (const int alpha : {255, 0}) {
        Millis chosen = 0;
        if (!ChooseFromMenu(*g_hushpane, PAUSE_ITEM, facts, &chosen)) {
            return false;
        }
        if (!WaitFor([alpha] { return AllTaskbars(alpha); }, PAUSED_WITHIN_MS)) {
            facts->push_back(Within(PAUSED_WITHIN_MS) + " the taskbars read " + TaskbarsNow());
            return false;
        }
        facts->push_back(Format("alpha %d after %.2f s", alpha, SecondsSince(chosen)));
        if (!KeptUntil(alpha, Now() + KEPT_MS, facts)) {
            return false;
        }
    }
    return true;
}

// How many of a copy's window, icon and process are left, each said whichever it is.
static int WhatRemains(const Copy& copy, HWND window, Facts* facts)
{
    std::string how;
    const bool left[] = {IsWindow(window) != FALSE, IconPresent(window, &how), Running(copy)};
    facts->push_back(left[0] ? "its window is there" : "its window is gone");
    facts->push_back((left[1] ? "its icon is there (" : "its icon is gone (") + how + ")");
    facts->push_back(left[2] ? "its process runs" : EndedHow(copy));
    facts->push_back("the taskbars read " + TaskbarsNow());
    return left[0] + left[1] + left[2];
}

static bool CheckCloseRefused(Facts* facts)
{
    DWORD_PTR result = 0;
    bool answered = false;
    auto close = [&] {
        answered = SendMessageTimeoutW(g_hidden, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG,
                                       CLOSE_ANSWERED_MS, &result) != 0;
    };
    if (!UnlessStopped(close)) {
        return false;
    }
    const std::string answer = Format("WM_CLOSE answered %lld", static_cast<long long>(result));
    facts->push_back(answered ? answer : "WM_CLOSE not answered " + Within(CLOSE_ANSWERED_MS));
    KeptUntil(0, Now() + KEPT_MS, facts);  // its time to act on it
    return WhatRemains(*g_hushpane, g_hidden, facts) == 3 && AllTaskbars(0);
}

// Exit from the menu: status 1 soon, window and icon gone, every taskbar layered and opaque.
static bool CheckExit(Facts* facts)
{
    Millis chosen = 0;
    if (!ChooseFromMenu(*g_hushpane, EXIT_ITEM, facts, &chosen)) {
        return false;
    }
    const bool ended = WaitFor([] { return !Running(*g_hushpane); }, ENDED_WITHIN_MS);
    facts->push_back(Format("%.2f s later", SecondsSince(chosen)));
    const bool nothingLeft = WhatRemains(*g_hushpane, g_hidden, facts) == 0;
    DWORD status = 0;
    GetExitCodeProcess(g_hushpane->process, &status);
    return ended && nothingLeft && status == 1 && AllTaskbars(255);
}

// From the desktop as the user had it, a new copy while the check holds Ctrl+0: exactly
// the hot key's line, the taskbars hidden, then Exit as in check 7.
static bool CheckHotKeyTaken(Facts* facts)
{
    EndCopies();
    PutTaskbarsBack(true);
    if (!RegisterHotKey(nullptr, 1, MOD_CONTROL, '0')) {
        facts->push_back(Format("the check could not take Ctrl+0 (error %lu)", GetLastError()));
        return false;
    }
    facts->push_back("the check holds Ctrl+0");
    bool hidden = false;
    Copy* copy = StartHidden(&hidden, facts);
    bool passed = false;
    if (copy != nullptr) {
        auto written = [&] { return ReadOutput(*copy).find('\n') != std::string::npos; };
        WaitFor([&] { return written() || !Running(*copy); }, ICON_WITHIN_MS);
        const std::string output = ReadOutput(*copy);
        facts->push_back("standard output " + Quoted(output));
        const bool exact = output == HOTKEY_LINE + std::string("\r\n") ||
                           output == HOTKEY_LINE + std::string("\n");
        g_hushpane = copy;  // Exit as in check 7, from this copy's menu
        g_hidden = AwaitHushpaneWindow(*copy);
        passed = CheckExit(facts) && hidden && exact;
    }
    UnregisterHotKey(nullptr, 1);
    return passed;
}

struct Check {
    const char* name;
    bool (*run)(Facts* facts);
    bool usesFirstCopy;  // checks 2 to 7 go on with the copy that check 1 started
};

const Check CHECKS[] = {{"start", CheckStart, false},
                        {"peek", CheckPeek, true},
                        {"left click", CheckLeftClick, true},
                        {"menu", CheckMenu, true},
                        {"pause", CheckPause, true},
                        {"close refused", CheckCloseRefused, true},
                        {"exit", CheckExit, true},
                        {"hot key taken", CheckHotKeyTaken, false}};

// Why a check that goes on with the first copy cannot; empty when it can.
static std::string NotReady()
{
    if (g_hushpane == nullptr || g_hidden == nullptr) {
        return "not run: check 1 found no Hushpane with its message-only window";
    }
    return Running(*g_hushpane) ? "" : "not run: " + EndedHow(*g_hushpane);
}

// What the desktop shows with the taskbars hidden, once, after check 1.
static void LookWhileHidden(const wchar_t* screenshot)
{
    LookAtTaskbars(false);
    NoteWhileHidden();
    std::string problem;
    if (screenshot != nullptr && SaveScreenshot(screenshot, &problem)) {
        Note("screenshot " + Utf8(screenshot) + ", taken while the taskbars read " + TaskbarsNow());
    } else if (screenshot != nullptr) {
        Note("no screenshot: " + problem);
    }
}

int g_passed = 0;
int g_failed = 0;

void RunChecks(const wchar_t* screenshot)
{
    int number = 0;
    for (const Check& check : CHECKS) {
        const std::string notReady = check.usesFirstCopy ? NotReady() : std::string();
        Facts facts = {notReady};
        const bool passed = Stopped() == nullptr && notReady.empty() && check.run(&facts);
        if (Stopped() != nullptr) {
            break;
        }
        ++(passed ? g_passed : g_failed);
        std::printf("%s %d %s: %s\n", passed ? "PASS" : "FAIL", ++number, check.name,
                    Join(facts).c_str());
        if (number == 1) {
            LookWhileHidden(screenshot);
        }
        if (number == 2) {
            NoteWhatTheEyeSees();  // captured hidden after check 1, shown during the peek
        }
    }
}
