// Whatever stops the check, Hushpane is ended and the taskbars are put back as
// they were, with messages only: by the check, or where it cannot (ended from
// outside, crashed, or ended by its console unasked, as Wine's does) by its
// guard, a second hushpane-check.exe without a console that holds each copy by
// a handle of its own and sees this process end when its standard input ends.
#include "check/check.h"

#include <algorithm>

TaskbarState g_before[MAX_TASKBARS];
int g_taskbarCount = 0;
std::atomic<bool> g_interrupted{false};
bool g_puttingBack = false;

constexpr DWORD CTRL_C_PATIENCE_MS = 30000;  // the clean-up may wait for a peek to end
constexpr DWORD CLOSE_PATIENCE_MS = 3500;    // Windows ends a closing console's processes after 5 s

enum NewsKind : DWORD { TASKBAR_NEWS, COPY_NEWS, DONE_NEWS };

// What the check tells its guard, in records of one size.
struct GuardNews {
    NewsKind kind;
    TaskbarState taskbar;  // as it was before the run
    HANDLE copy;           // a handle of the guard's own: unlike a process id, never another process's
};

static HANDLE g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // the desktop put back, the report whole
static HANDLE g_guard = nullptr;
static HANDLE g_toGuard = nullptr;  // the guard's standard input

static BOOL WINAPI OnConsoleEvent(DWORD event)
{
    StopInput();
    WaitForSingleObject(g_finished,
                        event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? CTRL_C_PATIENCE_MS : CLOSE_PATIENCE_MS);
    // Not ExitProcess, which could wait for a lock held by a thread it has already ended.
    TerminateProcess(GetCurrentProcess(), RUN_INTERRUPTED);
    return TRUE;
}

static void Tell(const GuardNews& news)
{
    DWORD written = 0;
    WriteFile(g_toGuard, &news, sizeof(news), &written, nullptr);
}

// A record is written whole, and so read whole.
static bool Hear(GuardNews* news)
{
    DWORD count = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), news, sizeof(*news), &count, nullptr) && count == sizeof(*news);
}

// True if it changed anything.
static bool PutBack(HWND window, const PutBackAction& action)
{
    if (action.setAttributes) {
        SetLayeredWindowAttributes(window, action.key, action.alpha, action.flags);
    }
    if (action.setStyle) {
        SetWindowLongPtrW(window, GWL_EXSTYLE, action.exStyle);
        // A window that is no longer layered is painted again only when asked to.
        RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
    }
    if (action.show) {
        ShowWindow(window, SW_SHOWNA);
    }
    return action.setAttributes || action.setStyle || action.show;
}

void RecordTaskbars()
{
    HWND taskbars[MAX_TASKBARS];
    g_taskbarCount = FindTaskbars(taskbars, MAX_TASKBARS);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_before[i] = ReadTaskbar(taskbars[i]);
    }
}

int PutTaskbarsBack()
{
    int changed = 0;
    for (int i = 0; i < g_taskbarCount; ++i) {
        changed += PutBack(g_before[i].window, DecidePutBack(&g_before[i], ReadTaskbar(g_before[i].window))) ? 1 : 0;
    }
    // Taskbars the shell made during the run are shown, if Hushpane hid them.
    HWND now[MAX_TASKBARS];
    const int count = FindTaskbars(now, MAX_TASKBARS);
    for (int i = 0; i < count; ++i) {
        const bool recorded = std::any_of(g_before, g_before + g_taskbarCount,
                                          [&](const TaskbarState& before) { return before.window == now[i]; });
        changed += !recorded && PutBack(now[i], DecidePutBack(nullptr, ReadTaskbar(now[i]))) ? 1 : 0;
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
}

void GuardAgainstInterruption()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    HANDLE readEnd = nullptr;
    CreatePipe(&readEnd, &g_toGuard, nullptr, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    // Ending a job ends every process in it: the guard leaves the check's job where it can.
    const std::wstring commandLine = L"\"" + OwnPath() + L"\" --guard";
    BOOL inJob = FALSE;
    IsProcessInJob(GetCurrentProcess(), nullptr, &inJob);
    PROCESS_INFORMATION guard = {};
    if ((inJob && Launch(commandLine, CREATE_BREAKAWAY_FROM_JOB, readEnd, nullptr, &guard)) ||
        Launch(commandLine, 0, readEnd, nullptr, &guard)) {
        g_guard = guard.hProcess;
        // A job that let it go may lie in an outer job that does not.
        BOOL guardInJob = FALSE;
        IsProcessInJob(g_guard, nullptr, &guardInJob);
        if (guardInJob) {
            Note(
                "the check and its guard run in a job: ending it (a CI step's time-out, some terminals' closing) would "
                "end them with Hushpane, and leave the taskbars hidden");
        } else if (inJob) {
            Note("the check runs in a job; its guard left the job, so ending the job cannot end the guard");
        }
    } else {
        Note(Format("no guard could be started (error %lu): if the check is ended from outside, nothing shows the "
                    "taskbars again",
                    GetLastError()));
    }
    CloseHandle(readEnd);
    for (int i = 0; i < g_taskbarCount; ++i) {
        Tell({TASKBAR_NEWS, g_before[i], nullptr});
    }
}

void Guarded(const Copy& copy)
{
    HANDLE theirs = nullptr;
    if (g_guard != nullptr &&
        DuplicateHandle(GetCurrentProcess(), copy.process, g_guard, &theirs,
                        SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0)) {
        Tell({COPY_NEWS, {}, theirs});
    }
}

void Finished()
{
    Tell({DONE_NEWS, {}, nullptr});
    SetEvent(g_finished);
}

int Guard()
{
    StopInput();  // the guard sends messages only
    g_puttingBack = true;
    GuardNews news = {};
    while (Hear(&news)) {
        if (news.kind == DONE_NEWS) {
            return 0;
        }
        if (news.kind == TASKBAR_NEWS && g_taskbarCount < MAX_TASKBARS) {
            g_before[g_taskbarCount++] = news.taskbar;
        } else if (news.kind == COPY_NEWS && g_copyCount < MAX_COPIES) {
            g_copies[g_copyCount++] = {news.copy, GetProcessId(news.copy), nullptr, {}};
        }
    }
    EndCopies();
    PutTaskbarsBack();
    return 0;
}
