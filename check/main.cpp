#include "check/check.h"

#include <cstdio>
#include <cwchar>

namespace {

constexpr int RUN_PASSED = 0;
constexpr int RUN_FAILED = 1;
constexpr int RUN_NOT_STARTED = 2;

std::wstring BesideThisProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    const std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return self.substr(0, self.find_last_of(L"\\/") + 1) + name;
}

std::wstring FullPath(const wchar_t* path)
{
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? full : path;
}

// Why the check cannot run on this desktop now; empty when it can.
std::string Refusal()
{
    if (GetFileAttributesW(g_exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "there is no " + Utf8(g_exe) + "; name the hushpane.exe to check";
    }
    // Keys and clicks reach only the input desktop: none is open to this
    // user while the workstation is locked or the secure desktop shows.
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) {
        return Format("there is no input desktop to press keys and click on (OpenInputDesktop failed with error "
                      "%lu): the workstation is locked, or the secure desktop (a UAC prompt, Ctrl+Alt+Del) is "
                      "shown; run the check on an unlocked desktop",
                      GetLastError());
    }
    CloseDesktop(input);
    if (!IsWindowVisible(FindWindowW(L"Shell_TrayWnd", nullptr))) {
        return "this desktop shows no taskbar (no visible Shell_TrayWnd window); start Explorer, then run the check "
               "again";
    }
    const std::string integrity = IntegrityRefusal();
    if (!integrity.empty()) {
        return integrity;
    }
    if (HWND running = FindHushpaneWindow(0)) {
        return Format("Hushpane is already running (process %lu); choose Exit from its menu, then run the check again",
                      WindowProcess(running));
    }
    if (!RegisterHotKey(nullptr, 1, MOD_CONTROL, '0')) {
        return "another program holds Ctrl+0, which the check presses; end it, then run the check again";
    }
    UnregisterHotKey(nullptr, 1);
    return {};
}

// The report is standard output; saved to a file, it is not on the screen.
bool ReportSaved()
{
    return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_CHAR;
}

// On the screen, and in a saved report too.
void Tell(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    if (ReportSaved()) {
        std::fputs(text.c_str(), stdout);
    }
}

bool Confirmed()
{
    std::fputs("Press Enter to start, or Ctrl+C to leave everything as it is.\n", stderr);
    char line[64];
    return std::fgets(line, sizeof(line), stdin) != nullptr;
}

}  // namespace

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
            g_exe = FullPath(argv[i]);
        } else {
            std::printf("usage: hushpane-check.exe [--yes] [--screenshot FILE] [PATH\\hushpane.exe]\n");
            return RUN_NOT_STARTED;
        }
    }
    if (g_exe.empty()) {
        g_exe = BesideThisProgram(L"hushpane.exe");
    }

    Tell("hushpane-check: checks " + Utf8(g_exe) +
         " on this desktop.\n"
         "It starts Hushpane, which hides the taskbars, presses Ctrl+0 to show them, opens Hushpane's box\n"
         "and menu, clicks Pause and Exit (the mouse pointer moves by itself), and starts it once more:\n"
         "under a minute. Do not touch the mouse or keyboard meanwhile. It presses only on its own\n"
         "window and Hushpane's menu. Whatever happens, it ends Hushpane and leaves the taskbars as it\n"
         "found them.\n");
    std::string refusal = Refusal();
    if (refusal.empty() && !yes) {
        if (!Confirmed()) {
            Tell("Not started.\n");
            return RUN_NOT_STARTED;
        }
        refusal = Refusal();  // the desktop may have changed meanwhile
    }
    if (!refusal.empty()) {
        Tell("Not started: " + refusal + ".\n");
        return RUN_NOT_STARTED;
    }

    const ULONGLONG start = GetTickCount64();
    GuardAgainstInterruption();
    RecordTaskbars();
    NoteSystem();
    if (RestoreTaskbars() > 0) {
        Note("a taskbar was left hidden before the run; the check showed it first: " + TaskbarsNow());
    }
    RunChecks(screenshot);
    PutBack();
    Note(Format("the run took %.0f s", SecondsSince(start)));
    if (g_interrupted) {
        std::printf("Interrupted: not every check ran. Hushpane is ended and the taskbars are shown.\n");
    }
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    if (ReportSaved()) {
        std::fprintf(stderr, "%d passed, %d failed\n", g_passed, g_failed);
    }
    if (g_interrupted) {
        return RUN_INTERRUPTED;
    }
    return g_failed == 0 ? RUN_PASSED : RUN_FAILED;  // uninterrupted, every check has reported
}
