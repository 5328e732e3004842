#include "check/check.h"

const char HOTKEY_LINE[] = "Failed to register hot key for Hushpane.";

static Copy* g_hushpane = nullptr;  // the copy that checks 1 to 7 use
static HWND g_hidden = nullptr;     // its message-only window

static bool CheckStart(std::string* detail)
{
    const ULONGLONG start = GetTickCount64();
    g_hushpane = StartHushpane(detail);
    if (g_hushpane == nullptr) {
        return false;
    }
    const bool hidden = WaitFor([] { return AllTaskbars(0); }, 5000);
    *detail = hidden ? Format("every taskbar layered with alpha 0 after %.2f s", SecondsSince(start))
                     : "within 5 s the taskbars read " + TaskbarsNow();
    g_hidden = AwaitHushpaneWindow(*g_hushpane);
    if (g_hidden == nullptr) {
        *detail += "; no message-only window" + (Running(*g_hushpane) ? "" : "; " + EndedHow(*g_hushpane));
        return false;
    }
    std::string how;
    const bool icon = WaitFor([&] { return IconPresent(g_hidden, &how); }, 2000);
    HWND shown = FindVisibleWindow(nullptr, g_hushpane->pid);
    const std::string output = ReadOutput(*g_hushpane);
    *detail += "; message-only window " + Quoted(TitleOf(g_hidden)) + Format(" of process %lu", g_hushpane->pid) +
               (icon ? "; icon added: " : "; icon not found: ") + how +
               (shown == nullptr ? "; no visible window" : "; a visible window of class " + WindowClass(shown)) +
               (output.empty() ? "; nothing on standard output" : "; standard output " + Quoted(output));
    return hidden && icon && shown == nullptr && output.empty();
}

static bool CheckPeek(std::string* detail)
{
    // The hot key takes the 0; the Ctrl goes to the foreground, which must be the check's own window.
    TakeForeground(detail);
    *detail += "; ";
    if (!PressCtrl0(detail)) {
        *detail += std::string("; ") + DESKTOP_STOPPED;
        return false;
    }
    const ULONGLONG pressed = GetTickCount64();
    if (!WaitFor([] { return AllTaskbars(255); }, 1000)) {
        *detail += "; within 1 s the taskbars read " + TaskbarsNow();
        return false;
    }
    *detail += Format("; alpha 255 after %.2f s", SecondsSince(pressed));
    LookAtTaskbars(true);
    if (WaitFor([] { return !AllTaskbars(255) || !Running(*g_hushpane); },
                static_cast<DWORD>(19000 - (GetTickCount64() - pressed))) ||
        g_interrupted) {
        *detail += Format("; at %.2f s ", SecondsSince(pressed)) +
                   (Running(*g_hushpane) ? "the taskbars read " + TaskbarsNow() : EndedHow(*g_hushpane));
        return false;
    }
    *detail += Format("; still 255 at %.2f s; ", SecondsSince(pressed));
    if (!WaitFor([] { return AllTaskbars(0); }, static_cast<DWORD>(21000 - (GetTickCount64() - pressed)))) {
        *detail += "at 21 s the taskbars read " + TaskbarsNow();
        WaitFor([] { return AllTaskbars(0) || !Running(*g_hushpane); }, 30000);  // the next checks start after it
        return false;
    }
    *detail += Format("0 again at %.2f s", SecondsSince(pressed));
    return true;
}

// The texts and the buttons of a message box, as another program reads them.
static BOOL CALLBACK ReadBoxChild(HWND child, LPARAM data)
{
    std::string* lists = reinterpret_cast<std::string*>(data);
    std::string& list = lists[WindowClass(child) == "Button" ? 1 : 0];
    const std::string text = TitleOf(child);
    list += text.empty() ? "" : (list.empty() ? "" : ", ") + Quoted(text);
    return TRUE;
}

static bool CheckLeftClick(std::string* detail)
{
    ClickIcon(*g_hushpane, WM_LBUTTONUP, detail);
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindVisibleWindow(L"#32770", g_hushpane->pid)) != nullptr; }, 3000)) {
        *detail += "; no box of Hushpane's within 3 s";
        return false;
    }
    std::string lists[2];  // texts, buttons
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(lists));
    const bool owned = GetWindow(box, GW_OWNER) == g_hidden;
    const bool right =
        TitleOf(box) == "Hushpane" && lists[0] == Quoted("Left Click on Tray Icon!") && lists[1] == Quoted("OK");
    *detail += "; its box opened (" + Foreground(*g_hushpane) + Format("): a box of process %lu, ", g_hushpane->pid) +
               (owned ? "owned by its hidden window" : "not owned by its hidden window") + ", caption " +
               Quoted(TitleOf(box)) + ", text " + lists[0] + ", buttons " + lists[1];
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    const bool closed = WaitFor([&] { return !IsWindowVisible(box); }, 2000);
    const bool unchanged = closed && KeepsAlpha(0, 1000);
    *detail += (closed ? "; OK closed it" : "; OK did not close it") +
               (unchanged ? "; alpha still 0" : "; then the taskbars read " + TaskbarsNow());
    return right && unchanged;
}

// The items as MN_GETHMENU gives them; Wine's menus only their own process reads.
static bool MenuItemsRight(HWND menuWindow, std::string* detail)
{
    DWORD_PTR menu = 0;
    SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 1000, &menu);
    const int count = GetMenuItemCount(reinterpret_cast<HMENU>(menu));
    std::string items;
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(reinterpret_cast<HMENU>(menu), static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        items += (i > 0 ? ", " : "") + Quoted(Utf8(text));
    }
    if (count >= 0) {
        *detail += "items " + items + " (read with MN_GETHMENU)";
        return items == Quoted("Pause") + ", " + Quoted("Exit");
    }
    *detail += UnderWine() ? "its items cannot be read from another process under Wine (it keeps menus per process), "
                             "so checks 5 and 7 prove them by position and effect"
                           : "its items could not be read: MN_GETHMENU gave no menu whose items another program can "
                             "read, so the labels \"Pause\" and \"Exit\" are not proven";
    return UnderWine();
}

static bool CheckMenu(std::string* detail)
{
    bool checkHeld = false;
    HWND menu = OpenMenu(*g_hushpane, detail, &checkHeld);
    if (menu == nullptr) {
        return false;
    }
    if (checkHeld && !HushpaneHoldsForeground(*g_hushpane)) {
        *detail += "the check held the foreground and let Hushpane take it, yet Hushpane's thread did not: that is "
                   "Hushpane's own doing on this desktop (its SetForegroundWindow on its message-only window before "
                   "the menu); ";
    }
    const bool itemsRight = MenuItemsRight(menu, detail);
    *detail += "; ";
    // A key goes to whoever holds the foreground: to a user's dialog, or a full-screen program, if not to us.
    bool closed = PressEscape(*g_hushpane, detail) && AwaitNoMenu(*g_hushpane);
    if (!closed) {
        RECT open = {};
        GetWindowRect(menu, &open);
        *detail += "; the menu is open; then ";
        if (!ClickCheckWindow(open, detail)) {
            *detail += std::string("; so whether a click elsewhere closes the menu is not known: ") + DESKTOP_STOPPED;
            return false;
        }
        closed = AwaitNoMenu(*g_hushpane);
    }
    const bool unchanged = closed && KeepsAlpha(0, 1000) && Running(*g_hushpane);
    *detail += (closed ? ": it closed the menu" : ": the menu stayed open, so a user would be stuck with it") +
               (unchanged ? "; nothing changed" : "; then the taskbars read " + TaskbarsNow());
    return itemsRight && unchanged;
}

// Pause from the menu, twice: the taskbars take alpha 255 and keep it, then 0.
static bool CheckPause(std::string* detail)
{
    for (const int alpha : {255, 0}) {
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
        *detail += alpha == 255 ? "; again: " : "";
    }
    return true;
}

static bool CheckCloseRefused(std::string* detail)
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

// Exit from the menu: status 1 within 2 s, window and icon gone, every taskbar layered and opaque.
static bool ExitFromMenu(const Copy& copy, HWND window, std::string* detail)
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

static bool CheckHotKeyTaken(std::string* detail)
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
        WaitFor([&] { return ReadOutput(*copy).find('\n') != std::string::npos || !Running(*copy); }, 2000);
        const std::string output = ReadOutput(*copy);
        const bool exact = output == HOTKEY_LINE + std::string("\r\n") || output == HOTKEY_LINE + std::string("\n");
        *detail = "the check holds Ctrl+0; " +
                  (hidden ? Format("a new Hushpane hid the taskbars after %.2f s", SecondsSince(start))
                          : "within 5 s a new Hushpane left the taskbars " + TaskbarsNow()) +
                  "; standard output " + Quoted(output) + (exact ? "; " : ", not exactly the line; ");
        passed = ExitFromMenu(*copy, AwaitHushpaneWindow(*copy), detail) && hidden && exact;
    }
    UnregisterHotKey(nullptr, 1);
    return passed;
}

struct Check {
    const char* name;
    bool (*run)(std::string* detail);
    bool usesFirstCopy;  // checks 2 to 7 go on with the copy that check 1 started
};

const Check CHECKS[] = {{"start", CheckStart, false},
                        {"peek", CheckPeek, true},
                        {"left click", CheckLeftClick, true},
                        {"menu", CheckMenu, true},
                        {"pause", CheckPause, true},
                        {"close refused", CheckCloseRefused, true},
                        {"exit", [](std::string* detail) { return ExitFromMenu(*g_hushpane, g_hidden, detail); }, true},
                        {"hot key taken", CheckHotKeyTaken, false}};

void RunChecks(const wchar_t* screenshot)
{
    int number = 0;
    for (const Check& check : CHECKS) {
        if (g_interrupted) {
            break;
        }
        std::string detail;
        const bool ready = !check.usesFirstCopy || (g_hidden != nullptr && Running(*g_hushpane));
        if (!ready) {
            detail = "not run: " + (g_hushpane == nullptr  ? std::string("Hushpane did not start")
                                    : Running(*g_hushpane) ? std::string("Hushpane has no message-only window")
                                                           : EndedHow(*g_hushpane));
        }
        Report(++number, check.name, ready && check.run(&detail), detail);
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
}
