#include "check/check.h"

#include <cstdio>
#include <cwchar>

constexpr int RUN_PASSED = 0;
constexpr int RUN_FAILED = 1;
constexpr int RUN_NOT_STARTED = 2;

// Why the check cannot run on this desktop now; empty when it can.
static std::string Refusal()
{
    if (GetFileAttributesW(g_exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "there is no " + Utf8(g_exe) + "; name the hushpane.exe to check";
    }
    std::string refusal = NoInputDesktop();
    if (!refusal.empty()) {
        return refusal + "; run the check on an unlocked desktop";
    }
    if (!IsWindowVisible(FindWindowW(L"Shell_TrayWnd", nullptr))) {
        return "this desktop shows no taskbar (no visible Shell_TrayWnd window); start Explorer, then run the check "
               "again";
    }
    refusal = IntegrityRefusal();
    HWND running = FindHushpaneWindow(0);
    if (refusal.empty() && running != nullptr) {
        refusal = Format("Hushpane is already running (process %lu); choose Exit from its menu, then run the check "
                         "again",
                         WindowProcess(running));
    } else if (refusal.empty() && !RegisterHotKey(nullptr, 1, MOD_CONTROL, '0')) {
        refusal = "another program holds Ctrl+0, which the check presses; end it, then run the check again";
    }
    UnregisterHotKey(nullptr, 1);
    return refusal;
}

// On the screen, and in the report too when it is saved to a file.
static void Tell(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_CHAR) {
        std::fputs(text.c_str(), stdout);
    }
}

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    return {path, GetModuleFileNameW(nullptr, path, MAX_PATH)};
}

std::string NoInputDesktop()
{
    // Keys and clicks reach only the input desktop, which a locked workstation or the secure desktop takes.
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) {
        return Format("there is no input desktop to press keys and click on (OpenInputDesktop failed with error "
                      "%lu): the workstation is locked, or the secure desktop (a UAC prompt, Ctrl+Alt+Del) is shown",
                      GetLastError());
    }
    CloseDesktop(input);
    return {};
}

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv)
{
    // Unbuffered, so that a report read while it is written, or cut short, is whole up to where it stops.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2 && std::wcscmp(argv[1], L"--guard") == 0) {
        return Guard();
    }
    bool yes = false;
    const wchar_t* screenshot = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--yes") == 0) {
            yes = true;
        } else if (std::wcscmp(argv[i], L"--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
        } else if (argv[i][0] != L'-' && g_exe.empty()) {
            wchar_t full[MAX_PATH] = {};
            const DWORD length = GetFullPathNameW(argv[i], MAX_PATH, full, nullptr);
            g_exe = length > 0 && length < MAX_PATH ? full : argv[i];
        } else {
            std::printf("usage: hushpane-check.exe [--yes] [--screenshot FILE] [PATH\\hushpane.exe]\n");
            return RUN_NOT_STARTED;
        }
    }
    if (g_exe.empty()) {
        const std::wstring self = OwnPath();
        g_exe = self.substr(0, self.find_last_of(L"\\/") + 1) + L"hushpane.exe";
    }

    Tell("hushpane-check: checks " + Utf8(g_exe) +
         " on this desktop.\n"
         "It starts Hushpane, which hides the taskbars, presses Ctrl+0 to show them, opens Hushpane's box\n"
         "and menu, clicks Pause and Exit (the mouse pointer moves by itself), and starts it once more:\n"
         "under a minute. Do not touch the mouse or keyboard meanwhile. It presses only on its own\n"
         "window and Hushpane's menu, and nothing once you press Ctrl+C. Whatever happens, it ends\n"
         "Hushpane and leaves the taskbars as it found them.\n");
    std::string refusal = Refusal();
    if (refusal.empty() && !yes) {
        std::fputs("Press Enter to start, or Ctrl+C to leave everything as it is.\n", stderr);
        char line[64];
        // The desktop may have changed meanwhile.
        refusal = std::fgets(line, sizeof(line), stdin) == nullptr ? "its input ended before Enter" : Refusal();
    }
    if (!refusal.empty()) {
        Tell("Not started: " + refusal + ".\n");
        return RUN_NOT_STARTED;
    }

    const ULONGLONG start = GetTickCount64();
    RecordTaskbars();
    GuardAgainstInterruption();
    OpenOwnWindows();
    NoteSystem();
    if (PutTaskbarsBack() > 0) {
        Note("a taskbar was left hidden before the run; the check showed it first: " + TaskbarsNow());
    }
    RunChecks(screenshot);
    PutBack();
    Note(Format("the run took %.0f s", SecondsSince(start)));
    const bool interrupted = g_interrupted;
    Tell((interrupted ? "Interrupted: not every check ran. Hushpane is ended and the taskbars are as they were.\n"
                      : "") +
         Format("%d passed, %d failed", g_passed, g_failed) + SeenVisibleWhileHidden() + "\n");
    Finished();
    return interrupted ? RUN_INTERRUPTED : g_failed == 0 ? RUN_PASSED : RUN_FAILED;
}
