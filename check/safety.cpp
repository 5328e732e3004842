#include "check/check.h"

HWND g_taskbars[MAX_TASKBARS];
TaskbarState g_before[MAX_TASKBARS];
int g_taskbarCount = 0;
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_puttingBack{false};

namespace {

HANDLE g_putBack = nullptr;  // set once the main thread has put everything back

// On another thread, when the main one cannot be waited for: every copy
// ended at once, every taskbar shown.
void PutBackAtOnce()
{
    for (int i = 0; i < g_copyCount; ++i) {
        TerminateProcess(g_copies[i].process, 255);
    }
    RestoreTaskbars();
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_interrupted = true;
    // A closing console leaves about five seconds; Ctrl+C leaves time to
    // end each copy through its Exit.
    const DWORD patience = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 15000 : 3500;
    if (WaitForSingleObject(g_putBack, patience) != WAIT_OBJECT_0) {
        PutBackAtOnce();
        ExitProcess(STATUS_INTERRUPTED);
    }
    return TRUE;
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS*)
{
    PutBackAtOnce();
    return EXCEPTION_CONTINUE_SEARCH;
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
    SetUnhandledExceptionFilter(OnCrash);
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
    SetEvent(g_putBack);
}
