#include "check/check.h"

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
bool Restore(HWND taskbar, const TaskbarState* before)
{
    const TaskbarState state = ReadTaskbar(taskbar);
    bool restored = false;
    // A layered window is drawn only at the alpha it was given, and not at
    // all before it was given one.
    if (state.layered && !HasAlpha(state, 255)) {
        restored = SetLayeredWindowAttributes(taskbar, 0, 255, LWA_ALPHA) != FALSE;
    }
    if (before != nullptr && before->visible && state.window != nullptr && !state.visible) {
        ShowWindow(taskbar, SW_SHOWNA);
        restored = true;
    }
    return restored;
}

void TellGuard(const std::string& line)
{
    DWORD written = 0;
    WriteFile(g_guard, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void RecordTaskbars()
{
    g_taskbarCount = FindTaskbars(g_taskbars, MAX_TASKBARS);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_before[i] = ReadTaskbar(g_taskbars[i]);
    }
}

void GuardAgainstInterruption()
{
    g_putBack = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // The guard, a second hushpane-check.exe without a console, outlives
    // this process: when it ends without having put the desktop back (a
    // crash, ended from outside, or a console that ends its processes
    // unasked, as Wine's does), the guard does it. It learns each copy's
    // process from its standard input, and this process's end from the end
    // of that input.
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
    if (CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                       nullptr, nullptr, &startup, &guard)) {
        CloseHandle(guard.hThread);
        CloseHandle(guard.hProcess);
    }
    CloseHandle(readEnd);
}

void Guarded(DWORD pid)
{
    TellGuard(Format("%lu\n", pid));
}

int RestoreTaskbars()
{
    int restored = 0;
    for (int i = 0; i < g_taskbarCount; ++i) {
        restored += Restore(g_taskbars[i], &g_before[i]) ? 1 : 0;
    }
    // Taskbars the shell made during the run, too.
    HWND now[MAX_TASKBARS];
    const int count = FindTaskbars(now, MAX_TASKBARS);
    for (int i = 0; i < count; ++i) {
        restored += Restore(now[i], nullptr) ? 1 : 0;
    }
    return restored;
}

void PutBack()
{
    g_puttingBack = true;
    EndCopies();
    const int restored = RestoreTaskbars();
    Note("after the run: " + TaskbarsNow() +
         (restored > 0 ? Format(" (the check showed %d taskbar%s left hidden)", restored, restored > 1 ? "s" : "")
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
    const char* next = told.c_str();
    char* end = nullptr;
    for (DWORD pid = 0; g_copyCount < MAX_COPIES && (pid = std::strtoul(next, &end, 10)) != 0; next = end) {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (process != nullptr) {
            g_copies[g_copyCount++] = {process, pid, nullptr, {}};
        }
    }
    g_puttingBack = true;
    EndCopies();
    RestoreTaskbars();
    CloseOwnWindows();
    return 0;
}
