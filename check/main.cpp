#include "check/check.h"

#include <cstdio>
#include <cwchar>

constexpr int RUN_PASSED = 0;
constexpr int RUN_FAILED = 1;
constexpr int RUN_NOT_STARTED = 2;
constexpr int RUN_INTERRUPTED = 3;
constexpr int RUN_SKIPPED = 4;  // none failed, and the desktop kept some from their gestures
// After Ctrl+C the clean-up may wait for a peek; a closing console ends its processes in 5 s.
constexpr DWORD CTRL_C_PATIENCE_MS = static_cast<DWORD>(EXIT_PATIENCE_MS) + 8000;
constexpr DWORD CLOSE_PATIENCE_MS = 3500;
constexpr Millis ENTER_LET_GO_MS = 2000;  // for the Enter that started the run to come up

static HANDLE g_finished = nullptr;  // set once the desktop is put back and the report whole

static BOOL WINAPI OnConsoleEvent(DWORD event)
{
    const bool key = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    Stop(key ? "Ctrl+C or Ctrl+Break in the console" : "the console closing");
    WaitForSingleObject(g_finished, key ? CTRL_C_PATIENCE_MS : CLOSE_PATIENCE_MS);
    // Not ExitProcess, which could wait for a lock held by a thread it has already ended.
    TerminateProcess(GetCurrentProcess(), RUN_INTERRUPTED);
    return TRUE;
}

// Why the check cannot run on this desktop now; empty when it can.
static std::string Refusal()
{
    const std::string noInput = NoInputDesktop();
    const std::string held = HeldKey();  // a finger on Shift would change the check's Ctrl+0
    if (GetFileAttributesW(g_exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "there is no " + Utf8(g_exe) + "; name the hushpane.exe to check";
    }
    if (!noInput.empty()) {
        return noInput + "; run the check on an unlocked desktop";
    }
    if (!IsWindowVisible(FindWindowW(L"Shell_TrayWnd", nullptr))) {
        return "this desktop shows no taskbar (no visible Shell_TrayWnd window); start Explorer, "
               "then run the check again";
    }
    if (HWND running = FindHushpaneWindow(0)) {
        return Format("Hushpane is already running (process %lu); choose Exit from its menu, then "
                      "run the check again",
                      WindowProcess(running));
    }
    if (!RegisterHotKey(nullptr, 1, MOD_CONTROL, '0')) {
        return "another program holds Ctrl+0, which the check presses; end it, then run the check "
               "again";
    }
    UnregisterHotKey(nullptr, 1);
    if (!held.empty()) {
        return held + " is held down; let go of it, then run the check again";
    }
    const std::string level = IntegrityRefusal();
    return level.empty() ? BusyRefusal() : level;
}

// On the screen, and in the report too when it is saved to a file.
static void Tell(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_CHAR) {
        std::fputs(text.c_str(), stdout);
    }
}

// What a stop left, read rather than assumed.
static std::string AfterStop()
{
    std::string left;
    for (int i = 0; i < g_copyCount; ++i) {
        if (Running(g_copies[i])) {
            left += Format("Hushpane (process %lu) still runs; ", g_copies[i].pid);
        }
    }
    const char* ran = g_reported < CHECK_COUNT ? "not every check ran" : "every check had run";
    const std::string taskbars = PutTaskbarsBack(false) == 0
                                     ? "the taskbars are as they were"
                                     : "the taskbars read " + Said(ReadTaskbars());
    return "Interrupted (" + std::string(Stopped()) + "): " + ran + ". " +
           (left.empty() ? "Hushpane is ended; " : left) + taskbars + ".\n";
}

// False, after the usage line, for a command line it does not take.
static bool ReadArguments(int argc, wchar_t** argv, bool* yes, const wchar_t** screenshot)
{
    for (int i = 1; i < argc; ++i) {
        wchar_t full[MAX_PATH] = {};  // the exe's path, as the banner gives it
        if (std::wcscmp(argv[i], L"--yes") == 0) {
            *yes = true;
        } else if (std::wcscmp(argv[i], L"--screenshot") == 0 && i + 1 < argc) {
            *screenshot = argv[++i];
        } else if (argv[i][0] != L'-' && g_exe.empty()) {
            const DWORD length = GetFullPathNameW(argv[i], MAX_PATH, full, nullptr);
            g_exe = length > 0 && length < MAX_PATH ? full : argv[i];
        } else {
            std::printf("usage: hushpane-check.exe [--yes] [--screenshot FILE.bmp] "
                        "[PATH\\hushpane.exe]\n");
            return false;
        }
    }
    if (g_exe.empty()) {
        const std::wstring self = OwnPath();
        g_exe = self.substr(0, self.find_last_of(L"\\/") + 1) + L"hushpane.exe";
    }
    return true;
}

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv)
{
    // Unbuffered: a report read while it is written, or cut short, is whole up to where it stops.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2 && std::wcscmp(argv[1], L"--guard") == 0) {
        return RunGuard();
    }
    bool yes = false;
    const wchar_t* screenshot = nullptr;
    if (!ReadArguments(argc, argv, &yes, &screenshot)) {
        return RUN_NOT_STARTED;
    }
    Tell("hushpane-check: checks " + Utf8(g_exe) +
         " on this desktop.\n"
         "It starts Hushpane, which hides the taskbars, presses Ctrl+0 to show them, opens\n"
         "Hushpane's box and menu, clicks Pause and Exit (the mouse pointer moves by itself),\n"
         "and starts it once more: under a minute. Touching the mouse or the keyboard stops it,\n"
         "as Ctrl+C here does; from then on it presses nothing. It presses only on its own\n"
         "window and Hushpane's menu. Whatever happens, it ends Hushpane and leaves the\n"
         "taskbars as it found them.\n");
    std::string refusal = Refusal();
    if (refusal.empty() && !yes) {
        std::fputs("Press Enter to start, or Ctrl+C to leave everything as it is.\n", stderr);
        char line[64];
        const bool entered = std::fgets(line, sizeof(line), stdin) != nullptr;
        WaitFor([] { return (GetAsyncKeyState(VK_RETURN) & 0x8000) == 0; }, ENTER_LET_GO_MS);
        refusal = entered ? Refusal() : "its input ended before Enter";  // the desktop may change
    }
    const Millis start = Now();
    RecordTaskbars();
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C may have been ignored by whoever started it
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    for (auto step : {StartGuard, OpenOwnWindows}) {
        if (refusal.empty()) {
            refusal = step();
        }
    }
    if (!refusal.empty()) {
        Tell("Not started: " + refusal + ".\n");
        CloseOwnWindows();
        TellGuardDone();
        return RUN_NOT_STARTED;
    }
    NoteSystem();
    if (PutTaskbarsBack(true) > 0) {
        Note("a taskbar was left hidden before the run; the check showed it first: " +
             Said(ReadTaskbars()));
    }
    RunChecks(screenshot);
    PutBack();
    Note(Format("the run took %.0f s", SecondsSince(start)));
    const std::string count =
        Format("%d passed, %d failed, %d skipped", g_passed, g_failed, g_skipped);
    Tell((Stopped() != nullptr ? AfterStop() : "") + count + SeenVisibleWhileHidden() + "\n");
    TellGuardDone();
    SetEvent(g_finished);
    if (Stopped() != nullptr && g_reported < CHECK_COUNT) {
        return RUN_INTERRUPTED;
    }
    if (g_failed > 0) {
        return RUN_FAILED;
    }
    return g_skipped > 0 ? RUN_SKIPPED : RUN_PASSED;
}
