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
    *detail = PressCtrl0() ? "Ctrl+0 sent" : "Ctrl+0 sent but " + BlockedInput();
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

// The menu's items where another process can read them; Wine keeps menus
// per process.
std::string MenuItems(HWND menuWindow, bool* readable)
{
    HMENU menu = MenuOfWindow(menuWindow);
    const int count = GetMenuItemCount(menu);
    *readable = count >= 0;
    std::string items;
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        items += (i > 0 ? ", " : "") + Quoted(Utf8(text));
    }
    return items;
}

// A menu that neither Escape nor a click elsewhere closes is closed the only
// way left, by an item: Pause, and Pause again from a new menu, leave the
// program as it was.
void CloseByPausingTwice(HWND menu, std::string* detail)
{
    *detail += "; closed by choosing Pause twice: ";
    ClickMenuItem(menu, PAUSE_ITEM, detail);
    if (!AwaitNoMenu(*g_hushpane)) {
        *detail += "; the menu stayed open";
        return;
    }
    *detail += WaitFor([] { return AllTaskbars(255); }, 1500) ? "; alpha 255; " : "; no alpha 255; ";
    ULONGLONG chosen = 0;
    ChooseFromMenu(*g_hushpane, PAUSE_ITEM, detail, &chosen);
    *detail += WaitFor([] { return AllTaskbars(0); }, 1500) ? "alpha 0" : "no alpha 0";
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
    bool readable = false;
    const std::string items = MenuItems(menu, &readable);
    *detail += readable ? "items " + items + " (read with MN_GETHMENU)"
                        : "its items cannot be read from another process here (menus are kept per process), so "
                          "checks 5 and 7 prove them by position and effect";
    *detail += "; Escape pressed (" + Foreground(*g_hushpane) + ")";
    if (!TapKey(VK_ESCAPE)) {
        *detail += " but " + BlockedInput();
    }
    bool closed = AwaitNoMenu(*g_hushpane);
    if (closed) {
        *detail += ": it closed the menu";
    } else {
        *detail += ": the menu stayed open; then ";
        closed = ClickOutsideMenu(detail) && AwaitNoMenu(*g_hushpane);
        *detail += closed ? ": it closed the menu" : ": the menu stayed open, so a user would be stuck with it";
    }
    if (!closed) {
        CloseByPausingTwice(menu, detail);
    }
    const bool unchanged = AwaitNoMenu(*g_hushpane) && KeepsAlpha(0, 1000) && Running(*g_hushpane);
    *detail += unchanged ? "; nothing changed" : "; then the taskbars read " + TaskbarsNow();
    return (!readable || items == Quoted("Pause") + ", " + Quoted("Exit")) && closed && unchanged;
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
    // From the desktop as the user had it: no copy left, every taskbar shown.
    EndCopies();
    RestoreTaskbars();
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
