#include "check/check.h"

namespace {

const char HOTKEY_LINE[] = "Failed to register hot key for Hushpane.";

Copy* g_hushpane = nullptr;  // the copy that checks 1 to 7 use
HWND g_hidden = nullptr;     // its message-only window

bool CheckStart(std::string* detail)
{
    const ULONGLONG start = GetTickCount64();
    g_hushpane = StartHushpane(detail);
    if (g_hushpane == nullptr) {
        return false;
    }
    const Copy& copy = *g_hushpane;
    const bool hidden = WaitFor([] { return AllTaskbars(0); }, 5000);
    *detail = hidden ? Format("every taskbar layered with alpha 0 after %.2f s", SecondsSince(start))
                     : "within 5 s the taskbars read " + TaskbarsNow();
    g_hidden = AwaitHushpaneWindow(copy);
    if (g_hidden == nullptr) {
        *detail += "; no message-only window" + (Running(copy) ? "" : "; " + EndedHow(copy));
        return false;
    }
    wchar_t title[64] = {};
    GetWindowTextW(g_hidden, title, 64);
    *detail += Format("; message-only window %s of process %lu", Quoted(Utf8(title)).c_str(), copy.pid);
    std::string how;
    const bool icon = WaitFor([&] { return IconPresent(g_hidden, &how); }, 2000);
    *detail += (icon ? "; icon added: " : "; icon not found: ") + how;
    HWND shown = FindVisibleWindow(nullptr, copy.pid);
    *detail += shown == nullptr ? "; no visible window" : "; a visible window of class " + WindowClass(shown);
    const std::string output = ReadOutput(*g_hushpane);
    *detail += output.empty() ? "; nothing on standard output" : "; standard output " + Quoted(output);
    return hidden && icon && shown == nullptr && output.empty();
}

bool CheckPeek(std::string* detail)
{
    // The hot key takes the 0; the Ctrl goes to whoever holds the foreground, which the check takes first.
    std::string click;
    HWND holder = TakeForeground(&click);
    const std::string dropped = InputDropped();
    const bool sent = PressCtrl0();
    *detail = HeldText(holder, click) + (holder == CheckWindow() ? "; " : ", which got the Ctrl of Ctrl+0; ") +
              (sent ? "Ctrl+0 sent" : "Ctrl+0 sent but " + BlockedInput()) + dropped;
    const ULONGLONG pressed = GetTickCount64();
    if (!WaitFor([] { return AllTaskbars(255); }, 1000)) {
        *detail += "; within 1 s the taskbars read " + TaskbarsNow();
        return false;
    }
    *detail += Format("; alpha 255 after %.2f s", SecondsSince(pressed));
    LookAtTaskbars(true);
    const DWORD untilNineteen = static_cast<DWORD>(19000 - (GetTickCount64() - pressed));
    if (WaitFor([] { return !AllTaskbars(255) || !Running(*g_hushpane); }, untilNineteen) || g_interrupted) {
        *detail += Format("; at %.2f s ", SecondsSince(pressed)) +
                   (Running(*g_hushpane) ? "the taskbars read " + TaskbarsNow() : EndedHow(*g_hushpane));
        return false;
    }
    *detail += Format("; still 255 at %.2f s; ", SecondsSince(pressed));
    const DWORD untilTwentyOne = static_cast<DWORD>(21000 - (GetTickCount64() - pressed));
    if (!WaitFor([] { return AllTaskbars(0); }, untilTwentyOne)) {
        *detail += "at 21 s the taskbars read " + TaskbarsNow();
        // The next checks start once a longer peek is over.
        WaitFor([] { return AllTaskbars(0) || !Running(*g_hushpane); }, 30000);
        return false;
    }
    *detail += Format("0 again at %.2f s", SecondsSince(pressed));
    return true;
}

// The texts and buttons of a message box, as another program reads them.
struct BoxText {
    std::string texts;
    std::string buttons;
};

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM data)
{
    auto* box = reinterpret_cast<BoxText*>(data);
    wchar_t text[256] = {};
    if (GetWindowTextW(child, text, 256) > 0) {
        std::string& list = WindowClass(child) == "Button" ? box->buttons : box->texts;
        list += (list.empty() ? "" : ", ") + Quoted(Utf8(text));
    }
    return TRUE;
}

bool CheckLeftClick(std::string* detail)
{
    *detail = "WM_LBUTTONUP sent, " + ClickIcon(*g_hushpane, WM_LBUTTONUP);
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindVisibleWindow(L"#32770", g_hushpane->pid)) != nullptr; }, 3000)) {
        *detail += "; no box of Hushpane's within 3 s";
        return false;
    }
    wchar_t caption[128] = {};
    GetWindowTextW(box, caption, 128);
    BoxText contents;
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&contents));
    HWND owner = GetWindow(box, GW_OWNER);
    const bool right = Utf8(caption) == "Hushpane" && contents.texts == Quoted("Left Click on Tray Icon!") &&
                       contents.buttons == Quoted("OK");
    *detail += "; its box opened (" + Foreground(*g_hushpane) + ")";
    *detail += Format(": a box of process %lu, owner %s, caption %s, text %s, buttons %s", g_hushpane->pid,
                      owner == g_hidden  ? "its hidden window"
                      : owner == nullptr ? "none"
                                         : "another window",
                      Quoted(Utf8(caption)).c_str(), contents.texts.c_str(), contents.buttons.c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    const bool closed = WaitFor([&] { return !IsWindowVisible(box); }, 2000);
    const bool unchanged = closed && KeepsAlpha(0, 1000);
    *detail += (closed ? "; OK closed it" : "; OK did not close it") +
               (unchanged ? "; alpha still 0" : "; then the taskbars read " + TaskbarsNow());
    return right && unchanged;
}

// A menu that neither Escape nor a click elsewhere closes is closed the only
// way left, by an item: Pause, and Pause again from a new menu, leave the
// program as it was.
void CloseByPausingTwice(HWND menu, std::string* detail)
{
    *detail += "; closed by choosing Pause twice: ";
    ULONGLONG chosen = 0;
    if (ClickMenuItem(menu, PAUSE_ITEM, detail, &chosen) != PRESS_MADE || !AwaitNoMenu(*g_hushpane)) {
        *detail += "; the menu stayed open";
        return;
    }
    *detail += WaitFor([] { return AllTaskbars(255); }, 1500) ? "; alpha 255; " : "; no alpha 255; ";
    ChooseFromMenu(*g_hushpane, PAUSE_ITEM, detail, &chosen);
    *detail += WaitFor([] { return AllTaskbars(0); }, 1500) ? "alpha 0" : "no alpha 0";
}

// The items as MN_GETHMENU gives them; under Wine only the menu's own
// process can read a menu, so there the items are proven by checks 5 and 7.
bool MenuItemsRight(HWND menuWindow, std::string* detail)
{
    HMENU menu = MenuOfWindow(menuWindow);
    const int count = GetMenuItemCount(menu);
    std::string items;
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        items += (i > 0 ? ", " : "") + Quoted(Utf8(text));
    }
    if (count >= 0) {
        *detail += "items " + items + " (read with MN_GETHMENU)";
        return items == Quoted("Pause") + ", " + Quoted("Exit");
    }
    if (UnderWine()) {
        *detail += "its items cannot be read from another process under Wine (it keeps menus per process), so "
                   "checks 5 and 7 prove them by position and effect";
        return true;
    }
    *detail += "its items could not be read: MN_GETHMENU gave no menu whose items another program can read, so the "
               "labels \"Pause\" and \"Exit\" are not proven";
    return false;
}

bool CheckMenu(std::string* detail)
{
    HWND menu = OpenMenu(*g_hushpane, detail);
    if (menu == nullptr) {
        return false;
    }
    if (g_checkHeldForeground && !HushpaneHoldsForeground(*g_hushpane)) {
        *detail += "the check held the foreground and let Hushpane take it, yet Hushpane's thread did not: that is "
                   "Hushpane's own doing on this desktop (its SetForegroundWindow on its message-only window before "
                   "the menu); ";
    }
    const bool itemsRight = MenuItemsRight(menu, detail);
    bool closed = false;
    // A key goes to whoever holds the foreground: to a user's dialog, or a full-screen program, if not to us.
    if (KeysReachOnlyUs(*g_hushpane)) {
        *detail += "; Escape pressed (" + Foreground(*g_hushpane) + ")" + InputDropped();
        if (!TapKey(VK_ESCAPE)) {
            *detail += " but " + BlockedInput();
        }
        closed = AwaitNoMenu(*g_hushpane);
        *detail += closed ? ": it closed the menu" : ": the menu stayed open";
    } else {
        *detail += "; Escape not pressed, since neither Hushpane's thread nor the check holds the foreground (" +
                   Foreground(*g_hushpane) + ")";
    }
    if (!closed) {
        RECT open = {};
        GetWindowRect(menu, &open);
        *detail += "; then ";
        const PressOutcome outcome = ClickCheckWindow(open, detail);
        closed = outcome == PRESS_MADE && AwaitNoMenu(*g_hushpane);
        *detail += closed ? ": it closed the menu"
                   : outcome == PRESS_REFUSED
                       ? std::string("; so whether a click elsewhere closes the menu is not known: ") + DESKTOP_STOPPED
                       : ": the menu stayed open, so a user would be stuck with it";
    }
    if (!closed) {
        CloseByPausingTwice(menu, detail);
    }
    const bool unchanged = AwaitNoMenu(*g_hushpane) && KeepsAlpha(0, 1000) && Running(*g_hushpane);
    *detail += unchanged ? "; nothing changed" : "; then the taskbars read " + TaskbarsNow();
    return itemsRight && closed && unchanged;
}

// Pause from the menu: the taskbars take that alpha and keep it.
bool Pause(int alpha, std::string* detail)
{
    ULONGLONG chosen = 0;
    if (!ChooseFromMenu(*g_hushpane, PAUSE_ITEM, detail, &chosen)) {
        return false;
    }
    if (!WaitFor([alpha] { return AllTaskbars(alpha); }, 1500)) {
        *detail += "within 1.5 s the taskbars read " + TaskbarsNow();
        return false;
    }
    *detail += Format("alpha %d after %.2f s", alpha, SecondsSince(chosen));
    if (!KeepsAlpha(alpha, 1000) || !Running(*g_hushpane)) {
        *detail += ", then " + (Running(*g_hushpane) ? TaskbarsNow() : EndedHow(*g_hushpane));
        return false;
    }
    return true;
}

bool CheckPause(std::string* detail)
{
    if (!Pause(255, detail)) {
        return false;
    }
    *detail += "; again: ";
    return Pause(0, detail);
}

bool CheckCloseRefused(std::string* detail)
{
    DWORD_PTR result = 0;
    const bool answered = SendMessageTimeoutW(g_hidden, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) != 0;
    KeepsAlpha(0, 1000);  // the program's time to act on it
    std::string how;
    const bool window = IsWindow(g_hidden) != FALSE;
    const bool icon = window && IconPresent(g_hidden, &how);
    const bool running = Running(*g_hushpane);
    *detail = (answered ? Format("WM_CLOSE answered %lld", static_cast<long long>(result))
                        : std::string("WM_CLOSE not answered within 2 s")) +
              (window ? "; the window stays" : "; the window is gone") +
              (icon ? "; the icon stays (" + how + ")" : "; the icon is gone") +
              (running ? "; the process runs; the taskbars read " + TaskbarsNow() : "; " + EndedHow(*g_hushpane));
    return window && icon && running && AllTaskbars(0);
}

// Exit from the menu: the copy ends with status 1 within 2 s, its window and
// icon gone, and every taskbar left layered and opaque.
bool ExitFromMenu(Copy& copy, HWND window, std::string* detail)
{
    ULONGLONG chosen = 0;
    if (!ChooseFromMenu(copy, EXIT_ITEM, detail, &chosen)) {
        return false;
    }
    if (!WaitFor([&] { return !Running(copy); }, 2000)) {
        *detail += "still running 2 s later";
        return false;
    }
    DWORD status = 0;
    GetExitCodeProcess(copy.process, &status);
    std::string how;
    const bool restored = AllTaskbars(255);
    const bool windowGone = !IsWindow(window);
    const bool iconGone = !IconPresent(window, &how);
    *detail += Format("ended with status %ld after %.2f s; ", static_cast<long>(status), SecondsSince(chosen)) +
               (restored ? "every taskbar layered, alpha 255" : "the taskbars read " + TaskbarsNow()) +
               (windowGone ? "; window gone" : "; the window is still there") +
               (iconGone ? "; icon gone (" : "; the icon is still there (") + how + ")";
    return status == 1 && restored && windowGone && iconGone;
}

bool CheckExit(std::string* detail)
{
    return ExitFromMenu(*g_hushpane, g_hidden, detail);
}

bool CheckHotKeyTaken(std::string* detail)
{
    // From the desktop as the user had it: no copy left, every taskbar as before the run.
    EndCopies();
    PutTaskbarsBack();
    if (!RegisterHotKey(nullptr, 1, MOD_CONTROL, '0')) {
        *detail = Format("the check could not take Ctrl+0 (error %lu)", GetLastError());
        return false;
    }
    const ULONGLONG start = GetTickCount64();
    Copy* copy = StartHushpane(detail);
    bool passed = false;
    if (copy != nullptr) {
        const bool hidden = WaitFor([] { return AllTaskbars(0); }, 5000);
        *detail = "the check holds Ctrl+0; " +
                  (hidden ? Format("a new Hushpane hid the taskbars after %.2f s", SecondsSince(start))
                          : "within 5 s a new Hushpane left the taskbars " + TaskbarsNow());
        WaitFor([&] { return ReadOutput(*copy).find('\n') != std::string::npos || !Running(*copy); }, 2000);
        const std::string output = ReadOutput(*copy);
        const bool exact = output == HOTKEY_LINE + std::string("\r\n") || output == HOTKEY_LINE + std::string("\n");
        *detail += "; standard output " + Quoted(output) + (exact ? "; " : ", not exactly the line; ");
        passed = ExitFromMenu(*copy, AwaitHushpaneWindow(*copy), detail) && hidden && exact;
    }
    UnregisterHotKey(nullptr, 1);
    return passed;
}

// Checks 2 to 7 go on with the copy that check 1 started.
bool FirstCopyRunning(std::string* detail)
{
    if (g_hushpane != nullptr && Running(*g_hushpane) && g_hidden != nullptr) {
        return true;
    }
    *detail = "not run: " + (g_hushpane == nullptr   ? std::string("Hushpane did not start")
                             : !Running(*g_hushpane) ? EndedHow(*g_hushpane)
                                                     : std::string("Hushpane has no message-only window"));
    return false;
}

struct Check {
    const char* name;
    bool (*run)(std::string* detail);
    bool usesFirstCopy;
};

const Check CHECKS[] = {{"start", CheckStart, false},
                        {"peek", CheckPeek, true},
                        {"left click", CheckLeftClick, true},
                        {"menu", CheckMenu, true},
                        {"pause", CheckPause, true},
                        {"close refused", CheckCloseRefused, true},
                        {"exit", CheckExit, true},
                        {"hot key taken", CheckHotKeyTaken, false}};

}  // namespace

void RunChecks(const wchar_t* screenshot)
{
    int number = 0;
    for (const Check& check : CHECKS) {
        if (g_interrupted) {
            break;
        }
        std::string detail;
        const bool passed = (!check.usesFirstCopy || FirstCopyRunning(&detail)) && check.run(&detail);
        Report(++number, check.name, passed, detail);
        if (number == 1 && !g_interrupted) {
            NoteIntegrity(g_hushpane != nullptr && Running(*g_hushpane) ? g_hushpane->pid : 0);
            LookAtTaskbars(false);
            NoteWhileHidden();
            std::string problem;
            if (screenshot != nullptr) {
                Note(SaveScreenshot(screenshot, &problem)
                         ? "screenshot " + Utf8(screenshot) + ", taken while the taskbars read " + TaskbarsNow()
                         : "no screenshot: " + problem);
            }
        }
        if (number == 2 && !g_interrupted) {
            NoteWhatTheEyeSees();  // captured while hidden after check 1, while shown during the peek
        }
    }
    NoteMenuForeground();
}
