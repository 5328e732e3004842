// Each check judges each value where it reads it, and says what it read: the first expectation
// not met leads its FAIL line. A stop's cut-short check is neither counted nor said.
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

// Whether the taskbars took `alpha` within `timeout` of `from`, as read then.
static bool AlphaWithin(int alpha, Millis timeout, Millis from, Finding* finding)
{
    TaskbarsRead last = {};
    const bool taken = AwaitAlpha(alpha, timeout, &last);
    return Want(finding, taken, Format("every taskbar at alpha %d ", alpha) + Within(timeout),
                Format("after %.2f s the taskbars read ", SecondsSince(from)) + Said(last));
}

// A new Hushpane that should hide every taskbar in time, with its window; null if none started.
static Copy* StartHidden(Finding* finding)
{
    const Millis start = Now();
    Copy* copy = StartHushpane(finding);
    if (copy == nullptr) {
        return nullptr;
    }
    AlphaWithin(0, STARTED_WITHIN_MS, start, finding);
    const bool found = AwaitWindow(*copy);
    const std::string window = Format(" of process %lu", copy->pid);
    Want(finding, found, "its message-only window of class TrayIconApp",
         "message-only window " + Quoted(TitleOf(copy->window)) + window,
         Running(*copy) ? "none" : EndedHow(*copy));
    return copy;
}

static Copy* CheckStart(Finding* finding)
{
    Copy* copy = StartHidden(finding);
    if (copy == nullptr || copy->window == nullptr) {
        return copy;
    }
    std::string how;
    const bool icon = WaitFor([&] { return IconPresent(copy->window, &how); }, ICON_WITHIN_MS);
    Want(finding, icon, "its icon added " + Within(ICON_WITHIN_MS), "icon added: " + how,
         "icon not found: " + how);
    HWND shown = FindVisibleWindow(nullptr, copy->pid);
    Want(finding, shown == nullptr, "no visible window", "no visible window",
         "a visible window of class " + WindowClass(shown));
    const std::string output = ReadOutput(*copy);
    Want(finding, output.empty(), "nothing on standard output",
         "standard output " + Quoted(output));
    return copy;
}

// Whether the taskbars kept `alpha`, and Hushpane ran, until `until`; what changed if not.
static bool KeptUntil(const Copy& copy, int alpha, Millis until, Finding* finding)
{
    const Millis from = Now();
    TaskbarsRead last = {};
    auto changed = [&] { return !AllHave(last = ReadTaskbars(), alpha) || !Running(copy); };
    if (!WaitFor(changed, until - from)) {
        return Stopped() == nullptr;
    }
    const std::string what = Running(copy) ? "the taskbars read " + Said(last) : EndedHow(copy);
    return Want(finding, false,
                Format("alpha %d kept for %.1f s", alpha, static_cast<double>(until - from) / 1000),
                Format("%.2f s later ", SecondsSince(from)) + what);
}

static void CheckPeek(Copy& copy, Finding* finding)
{
    // The hot key takes the 0; the Ctrl goes to the foreground, which must be the check's own.
    TakeForeground(&finding->seen);
    const Gesture press = PressKeys({VK_CONTROL, '0'}, g_checkWindow, 0);
    if (!press.sent) {
        NotMade(press, copy, "Ctrl+0", finding);
        return;
    }
    finding->seen.push_back("Ctrl+0 sent");
    const Millis pressed = Now();
    if (!AlphaWithin(255, TAKEN_WITHIN_MS, pressed, finding)) {
        return;
    }
    LookAtTaskbars(true);
    if (!KeptUntil(copy, 255, pressed + HUSHPANE_PEEK_MS - PEEK_MARGIN_MS, finding)) {
        return;
    }
    finding->seen.push_back(Format("still 255 at %.2f s", SecondsSince(pressed)));
    const Millis hiddenBy = pressed + HUSHPANE_PEEK_MS + PEEK_MARGIN_MS;
    if (!AlphaWithin(0, hiddenBy - Now(), pressed, finding)) {
        // The next checks start once it is over.
        WaitFor([&] { return AllHave(ReadTaskbars(), 0) || !Running(copy); }, HUSHPANE_PEEK_MS);
    }
}

// The texts and the buttons of a message box, as another program reads them.
static BOOL CALLBACK ReadBoxChild(HWND child, LPARAM data)
{
    Facts* lists = reinterpret_cast<Facts*>(data);
    const std::string text = TitleOf(child);
    lists[WindowClass(child) == "Button" ? 1 : 0].push_back(text.empty() ? "" : Quoted(text));
    return TRUE;
}

static void CheckLeftClick(Copy& copy, Finding* finding)
{
    if (!ClickIcon(copy, WM_LBUTTONUP, finding)) {
        return;
    }
    HWND box = nullptr;
    const bool opened = WaitFor([&] { return (box = BoxOf(copy)) != nullptr; }, BOX_WITHIN_MS);
    if (!Want(finding, opened, "a box of Hushpane's " + Within(BOX_WITHIN_MS), "", "no box")) {
        return;
    }
    bool held = false;
    finding->seen.push_back("its box opened (" + Foreground(copy, &held) + ")");
    Facts lists[2];  // texts, buttons
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(lists));
    HWND owner = GetWindow(box, GW_OWNER);
    Want(finding, owner == copy.window, "a box owned by its hidden window",
         Format("a box of process %lu, owned by its hidden window", copy.pid),
         "a box owned by " + WindowText(owner));
    const std::string caption = TitleOf(box);
    Want(finding, caption == "Hushpane", "the caption \"Hushpane\"", "caption " + Quoted(caption));
    const std::string texts = Join(lists[0], ", ");
    Want(finding, texts == Quoted("Left Click on Tray Icon!"),
         "the text \"Left Click on Tray Icon!\"", "text " + texts);
    const std::string buttons = Join(lists[1], ", ");
    Want(finding, buttons == Quoted("OK"), "one button, \"OK\"", "buttons " + buttons);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    if (Want(finding, WaitFor([&] { return !IsWindowVisible(box); }, BOX_WITHIN_MS),
             "OK to close it", "OK closed it", "it stayed open")) {
        KeptUntil(copy, 0, Now() + KEPT_MS, finding);
    }
}

// The items as MN_GETHMENU gives them; Wine's menus only their own process reads.
static void ReadMenuItems(HWND menuWindow, Finding* finding)
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
    if (count < 0 && UnderWine()) {
        finding->seen.push_back("its items cannot be read from another process under Wine (it "
                                "keeps menus per process), so checks 5 and 7 prove them by "
                                "position and effect");
        return;
    }
    const std::string wanted = Quoted("Pause") + ", " + Quoted("Exit");
    const std::string read = "items " + Join(items, ", ") + " (read with MN_GETHMENU)";
    Want(finding, Join(items, ", ") == wanted, "the items " + wanted, read,
         count < 0 ? "no menu whose items another program can read (MN_GETHMENU)" : read);
}

// A click outside the open menu, on the check's own window: whether it closed the menu. A menu
// left open is Hushpane's doing only where the foreground was Hushpane's to take.
static bool ClosedFromOutside(const Copy& copy, HWND menu, Finding* finding)
{
    RECT open = {};
    GetWindowRect(menu, &open);
    finding->seen.push_back("the menu is open; then a click outside it");
    const Gesture away = ClickCheckWindow(open, &finding->seen);
    if (!away.sent) {
        NotMade(away, copy, "the click outside the menu", finding);
        return false;
    }
    if (AwaitNoMenu(copy)) {
        finding->seen.push_back("it closed the menu");
        return true;
    }
    if (!copy.handed) {
        Skip(finding, "the menu stayed open, but the foreground was not Hushpane's to take, as "
                      "the shell hands it on");
        return false;
    }
    return Want(finding, false, "the click outside the menu to close it",
                "the menu stayed open, so a user would be stuck with it");
}

static void CheckMenu(Copy& copy, Finding* finding)
{
    HWND menu = OpenMenu(copy, finding);
    if (menu == nullptr) {
        return;
    }
    ReadMenuItems(menu, finding);
    const Gesture escape = PressKeys({VK_ESCAPE}, g_checkWindow, copy.thread);
    finding->seen.push_back(escape.sent ? "Escape sent" : "Escape " + escape.why);
    if (escape.sent && AwaitNoMenu(copy)) {
        finding->seen.push_back("it closed the menu");
    } else if (!ClosedFromOutside(copy, menu, finding)) {
        return;
    }
    KeptUntil(copy, 0, Now() + KEPT_MS, finding);
}

// Pause from the menu, twice: the taskbars take alpha 255 and keep it, then 0.
static void CheckPause(Copy& copy, Finding* finding)
{
    for (const int alpha : {255, 0}) {
        const Millis chosen = ChooseFromMenu(copy, PAUSE_ITEM, finding);
        if (chosen == 0 || !AlphaWithin(alpha, PAUSED_WITHIN_MS, chosen, finding) ||
            !KeptUntil(copy, alpha, Now() + KEPT_MS, finding)) {
            return;
        }
    }
}

// Its window, icon and process: each wanted there (`kept`) or gone, as each is read.
static void WantRemains(const Copy& copy, bool kept, Finding* finding)
{
    const char* const states[] = {" is gone", " is there"};
    const std::string wanted = states[kept];
    const bool window = IsWindow(copy.window) != FALSE;
    Want(finding, window == kept, "its window" + wanted,
         "its window" + std::string(states[window]));
    std::string how;
    const bool icon = IconPresent(copy.window, &how);
    Want(finding, icon == kept, "its icon" + wanted,
         "its icon" + (states[icon] + (" (" + how + ")")));
    const bool running = Running(copy);
    Want(finding, running == kept, "its process" + wanted,
         running ? "its process runs" : EndedHow(copy));
}

static void CheckCloseRefused(Copy& copy, Finding* finding)
{
    DWORD_PTR result = 0;
    bool answered = false;
    auto close = [&] {
        answered = SendMessageTimeoutW(copy.window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG,
                                       CLOSE_ANSWERED_MS, &result) != 0;
    };
    if (!UnlessStopped(close)) {
        return;
    }
    const std::string answer = Format("WM_CLOSE answered %lld", static_cast<long long>(result));
    finding->seen.push_back(answered ? answer
                                     : "WM_CLOSE not answered " + Within(CLOSE_ANSWERED_MS));
    if (KeptUntil(copy, 0, Now() + KEPT_MS, finding)) {  // its time to act on it
        WantRemains(copy, true, finding);
    }
}

// Exit from the menu: status 1 soon, window and icon gone, every taskbar layered and opaque.
static void CheckExit(Copy& copy, Finding* finding)
{
    const Millis chosen = ChooseFromMenu(copy, EXIT_ITEM, finding);
    if (chosen == 0) {
        return;
    }
    const bool ended = WaitFor([&] { return !Running(copy); }, ENDED_WITHIN_MS);
    DWORD status = 0;
    GetExitCodeProcess(copy.process, &status);
    const std::string how = Format("status %ld", static_cast<long>(status));
    Want(finding, ended && status == 1, "exit status 1 " + Within(ENDED_WITHIN_MS),
         Format("%.2f s later ", SecondsSince(chosen)) + (ended ? how : "it still runs"));
    WantRemains(copy, false, finding);
    const TaskbarsRead now = ReadTaskbars();
    Want(finding, AllHave(now, 255), "every taskbar layered with alpha 255",
         "the taskbars read " + Said(now));
}

// From the desktop as the user had it, a new copy while the check holds Ctrl+0: exactly
// the hot key's line, the taskbars hidden, then Exit as in check 7.
static void CheckHotKeyTaken(Finding* finding)
{
    EndCopies();
    PutTaskbarsBack(true);
    if (!RegisterHotKey(nullptr, 1, MOD_CONTROL, '0')) {
        Skip(finding, Format("the check could not take Ctrl+0 (error %lu)", GetLastError()));
        return;
    }
    finding->seen.push_back("the check holds Ctrl+0");
    Copy* copy = StartHidden(finding);
    if (copy != nullptr && copy->window != nullptr) {
        auto written = [&] { return ReadOutput(*copy).find('\n') != std::string::npos; };
        WaitFor([&] { return written() || !Running(*copy); }, ICON_WITHIN_MS);
        const std::string output = ReadOutput(*copy);
        const bool exact = output == HOTKEY_LINE + std::string("\r\n") ||
                           output == HOTKEY_LINE + std::string("\n");
        Want(finding, exact, Quoted(HOTKEY_LINE) + " alone on standard output",
             "standard output " + Quoted(output));
        CheckExit(*copy, finding);
    }
    UnregisterHotKey(nullptr, 1);
}

struct Check {
    const char* name;
    void (*run)(Copy& copy, Finding* finding);
};

// Checks 2 to 7 go on with the copy that check 1 started.
const Check ON_FIRST_COPY[] = {
    {"peek", CheckPeek},   {"left click", CheckLeftClick},       {"menu", CheckMenu},
    {"pause", CheckPause}, {"close refused", CheckCloseRefused}, {"exit", CheckExit}};

int g_passed = 0, g_failed = 0, g_skipped = 0;
int g_reported = 0;

// Its line, unless the user's stop cut it short: what failed leads, then what kept it from a
// gesture, then what it saw.
static Verdict Report(const char* name, const Finding& finding)
{
    if (Stopped() != nullptr) {
        return SKIP;  // neither counted nor said
    }
    Verdict verdict = finding.skipped.empty() ? PASS : SKIP;
    if (!finding.failed.empty()) {
        verdict = FAIL;
    }
    const char* const words[] = {"PASS", "FAIL", "SKIP"};
    int* const counts[] = {&g_passed, &g_failed, &g_skipped};
    ++*counts[verdict];
    Facts line = {finding.failed, finding.skipped};
    line.insert(line.end(), finding.seen.begin(), finding.seen.end());
    std::printf("%s %d %s: %s\n", words[verdict], ++g_reported, name, Join(line).c_str());
    return verdict;
}

// What the desktop shows with the taskbars hidden, once, after check 1.
static void LookWhileHidden(const wchar_t* screenshot)
{
    LookAtTaskbars(false);
    NoteWhileHidden();
    std::string problem;
    if (screenshot != nullptr && SaveScreenshot(screenshot, &problem)) {
        Note("screenshot " + Utf8(screenshot) + ", taken while the taskbars read " +
             Said(ReadTaskbars()));
    } else if (screenshot != nullptr) {
        Note("no screenshot: " + problem);
    }
}

void RunChecks(const wchar_t* screenshot)
{
    Finding start;
    Copy* copy = CheckStart(&start);
    const Verdict first = Report("start", start);
    if (Stopped() != nullptr) {
        return;
    }
    LookWhileHidden(screenshot);
    const std::string none = "not run: check 1 found no Hushpane with its window";
    for (const Check& check : ON_FIRST_COPY) {
        Finding finding;
        if (copy != nullptr && copy->window != nullptr) {
            if (Want(&finding, Running(*copy), "the Hushpane of check 1 running", "",
                     "not run: " + EndedHow(*copy))) {
                check.run(*copy, &finding);
            }
        } else if (first == SKIP) {
            Skip(&finding, none);
        } else {
            Want(&finding, false, "the Hushpane of check 1", none);
        }
        Report(check.name, finding);
        if (Stopped() != nullptr) {
            return;
        }
        if (g_reported == 2) {
            NoteWhatTheEyeSees();  // captured hidden after check 1, shown during the peek
        }
    }
    Finding last;  // with a copy of its own
    CheckHotKeyTaken(&last);
    Report("hot key taken", last);
}
