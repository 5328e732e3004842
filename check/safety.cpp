#include "check/check.h"

#include <algorithm>
#include <cstdlib>

HWND g_taskbars[MAX_TASKBARS];
TaskbarState g_before[MAX_TASKBARS];
int g_taskbarCount = 0;
std::atomic<bool> g_interrupted{false};
bool g_puttingBack = false;

namespace {

HANDLE g_putBack = nullptr;  // set once the main thread has put everything back
HANDLE g_guard = nullptr;    // the guard's standard input

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_interrupted = true;
    // A closing console leaves about five seconds; Ctrl+C leaves time to
    // end each copy through its Exit. Past that, the guard takes over.
    const DWORD patience = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 15000 : 3500;
    if (WaitForSingleObject(g_putBack, patience) != WAIT_OBJECT_0) {
        ExitProcess(RUN_INTERRUPTED);
    }
    return TRUE;
}

// Shows a taskbar that is left hidden; true if it had to.
bool Show(HWND taskbar)
{
    const TaskbarState state = ReadTaskbar(taskbar);
    // A layered window is drawn only at the alpha it was given, and not at
    // all before it was given one.
    return state.layered && !HasAlpha(state, 255) && SetLayeredWindowAttributes(taskbar, 0, 255, LWA_ALPHA);
}

// A taskbar as it was before the run, but never hidden: the check showed
// one left hidden before it started. True if that changed it.
bool PutTaskbarBack(const TaskbarState& before)
{
    const TaskbarState now = ReadTaskbar(before.window);
    if (now.window == nullptr || !IsWindow(now.window)) {
        return false;
    }
    bool changed = false;
    if (!before.layered) {
        if (now.layered) {
            // Opaque first, so that a taskbar whose style cannot be changed is still seen.
            Show(now.window);
            SetWindowLongPtrW(now.window, GWL_EXSTYLE, now.exStyle & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
            changed = true;
        }
    } else if (before.alphaKnown) {
        const bool wasHidden = (before.flags & LWA_ALPHA) != 0 && before.alpha == 0;
        const BYTE alpha = wasHidden ? 255 : before.alpha;
        if (!now.alphaKnown || now.alpha != alpha || now.flags != before.flags || now.key != before.key) {
            changed = SetLayeredWindowAttributes(now.window, before.key, alpha, before.flags) != FALSE;
        }
    } else {
        changed = Show(now.window);
    }
    if (before.visible && !now.visible) {
        ShowWindow(now.window, SW_SHOWNA);
        changed = true;
    }
    return changed;
}

void TellGuard(const std::string& line)
{
    DWORD written = 0;
    WriteFile(g_guard, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Where the check runs in a job, as under a CI step or some terminals and
// editors, ending the job ends every process in it: the guard leaves it
// where the job lets it.
bool StartGuard(const wchar_t* self, std::wstring& commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION* guard)
{
    const DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
    BOOL inJob = FALSE;
    IsProcessInJob(GetCurrentProcess(), nullptr, &inJob);
    if (inJob && CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, flags | CREATE_BREAKAWAY_FROM_JOB,
                                nullptr, nullptr, &startup, guard)) {
        Note("the check runs in a job; its guard left the job, so ending the job cannot end the guard");
        return true;
    }
    if (!CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, guard)) {
        Note(Format("no guard could be started (error %lu): if the check is ended from outside, nothing shows the "
                    "taskbars again",
                    GetLastError()));
        return false;
    }
    BOOL guardInJob = FALSE;
    IsProcessInJob(guard->hProcess, nullptr, &guardInJob);
    if (inJob && guardInJob) {
        Note("the check runs in a job that keeps its processes in it, so its guard is in it too: ending that job (as "
             "a CI step's time-out, or closing some terminals, does) would end the guard with the check and Hushpane, "
             "and leave the taskbars hidden");
    }
    return true;
}

}  // namespace

void RecordTaskbars()
{
    g_taskbarCount = FindTaskbars(g_taskbars, MAX_TASKBARS);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_before[i] = ReadTaskbar(g_taskbars[i]);
        const TaskbarState& before = g_before[i];
        TellGuard(Format("taskbar %llx %llx %x %x %x %lx %lx\n",
                         static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(before.window)),
                         static_cast<unsigned long long>(before.exStyle), before.visible ? 1 : 0,
                         before.alphaKnown ? 1 : 0, before.alpha, before.flags, before.key));
    }
}

void GuardAgainstInterruption()
{
    g_putBack = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // The guard, a second hushpane-check.exe without a console, outlives
    // this process: when it ends without having put the desktop back (a
    // crash, ended from outside, or a console that ends its processes
    // unasked, as Wine's does), the guard does it. It learns the taskbars as
    // they were and each copy's process from its standard input, and this
    // process's end from the end of that input.
    HANDLE readEnd = nullptr;
    CreatePipe(&readEnd, &g_guard, nullptr, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --guard";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    PROCESS_INFORMATION guard = {};
    if (StartGuard(self, commandLine, startup, &guard)) {
        CloseHandle(guard.hThread);
        CloseHandle(guard.hProcess);
    }
    CloseHandle(readEnd);
}

void Guarded(DWORD pid)
{
    TellGuard(Format("copy %lx\n", pid));
}

int RestoreTaskbars()
{
    int restored = 0;
    HWND now[MAX_TASKBARS];
    const int count = FindTaskbars(now, MAX_TASKBARS);
    for (int i = 0; i < count; ++i) {
        restored += Show(now[i]) ? 1 : 0;
    }
    return restored;
}

int PutTaskbarsBack()
{
    int changed = 0;
    for (int i = 0; i < g_taskbarCount; ++i) {
        changed += PutTaskbarBack(g_before[i]) ? 1 : 0;
    }
    // Taskbars the shell made during the run are shown, if Hushpane hid
    // them; a recorded one keeps the alpha it was put back to.
    HWND now[MAX_TASKBARS];
    const int count = FindTaskbars(now, MAX_TASKBARS);
    for (int i = 0; i < count; ++i) {
        const HWND* recorded = std::find(g_taskbars, g_taskbars + g_taskbarCount, now[i]);
        changed += recorded == g_taskbars + g_taskbarCount && Show(now[i]) ? 1 : 0;
    }
    return changed;
}

void PutBack()
{
    g_puttingBack = true;
    EndCopies();
    const int changed = PutTaskbarsBack();
    Note("after the run: " + TaskbarsNow() +
         (changed > 0 ? Format(" (the check put %d taskbar%s back as %s before the run; Hushpane's own Exit leaves a "
                               "taskbar layered at alpha 255)",
                               changed, changed > 1 ? "s" : "", changed > 1 ? "they were" : "it was")
                      : ""));
    CloseOwnWindows();
    TellGuard("done\n");
    SetEvent(g_putBack);
}

int Guard()
{
    std::string told;
    char bytes[256];
    DWORD count = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), bytes, sizeof(bytes), &count, nullptr) && count > 0) {
        told.append(bytes, count);
    }
    if (told.find("done\n") != std::string::npos) {
        return 0;
    }
    // Lines "taskbar WINDOW EXSTYLE VISIBLE ALPHAKNOWN ALPHA FLAGS KEY" and "copy PID", in hexadecimal.
    for (size_t start = 0, end = 0; (end = told.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = told.substr(start, end - start);
        const bool taskbar = line.rfind("taskbar ", 0) == 0;
        const char* next = line.c_str() + line.find(' ') + 1;
        unsigned long long fields[7] = {};
        for (unsigned long long& field : fields) {
            char* after = nullptr;
            field = std::strtoull(next, &after, 16);
            next = after;
        }
        if (taskbar && g_taskbarCount < MAX_TASKBARS) {
            TaskbarState& before = g_before[g_taskbarCount];
            before.window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(fields[0]));
            before.exStyle = static_cast<LONG_PTR>(fields[1]);
            before.layered = (fields[1] & WS_EX_LAYERED) != 0;
            before.visible = fields[2] != 0;
            before.alphaKnown = fields[3] != 0;
            before.alpha = static_cast<BYTE>(fields[4]);
            before.flags = static_cast<DWORD>(fields[5]);
            before.key = static_cast<COLORREF>(fields[6]);
            g_taskbars[g_taskbarCount++] = before.window;
        } else if (line.rfind("copy ", 0) == 0 && g_copyCount < MAX_COPIES) {
            const auto pid = static_cast<DWORD>(fields[0]);
            HANDLE process =
                OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            if (process != nullptr) {
                g_copies[g_copyCount++] = {process, pid, nullptr, {}};
            }
        }
    }
    g_puttingBack = true;
    EndCopies();
    PutTaskbarsBack();
    CloseOwnWindows();
    return 0;
}
