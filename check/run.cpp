#include "check/check.h"

#include <algorithm>
#include <atomic>

TaskbarState g_before[MAX_TASKBARS];
int g_taskbarCount = 0;

static SRWLOCK g_gate = SRWLOCK_INIT;  // held by each act, and by the stop
static std::atomic<const char*> g_stop{nullptr};

Millis Now()
{
    return static_cast<Millis>(GetTickCount64());
}

double SecondsSince(Millis start)
{
    return static_cast<double>(Now() - start) / 1000.0;
}

std::string Within(Millis timeout)
{
    return Format("within %g s", static_cast<double>(timeout) / 1000.0);
}

void NoteStop(const char* how)
{
    const char* none = nullptr;
    g_stop.compare_exchange_strong(none, how);
}

void Stop(const char* how)
{
    NoteStop(how);
    AcquireSRWLockExclusive(&g_gate);
    ReleaseSRWLockExclusive(&g_gate);
}

const char* Stopped()
{
    return g_stop.load();
}

bool UnlessStopped(const std::function<void()>& act)
{
    AcquireSRWLockExclusive(&g_gate);
    const bool go = Stopped() == nullptr;
    if (go) {
        act();
    }
    ReleaseSRWLockExclusive(&g_gate);
    return go;
}

bool WaitFor(const std::function<bool()>& done, Millis timeout, bool throughStop)
{
    const Millis deadline = Now() + timeout;
    while (!done()) {
        if ((Stopped() != nullptr && !throughStop) || Now() >= deadline) {
            return false;
        }
        Sleep(POLL_MS);
    }
    return true;
}

void RecordTaskbars()
{
    HWND taskbars[MAX_TASKBARS];
    g_taskbarCount = FindTaskbars(taskbars, MAX_TASKBARS);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_before[i] = ReadTaskbar(taskbars[i]);
    }
}

TaskbarsRead ReadTaskbars()
{
    TaskbarsRead read = {};
    for (int i = 0; i < g_taskbarCount; ++i) {
        read.now[i] = ReadTaskbar(g_before[i].window);
    }
    return read;
}

bool AllHave(const TaskbarsRead& read, int alpha)
{
    auto has = [alpha](const TaskbarState& state) { return HasAlpha(state, alpha); };
    return g_taskbarCount > 0 && std::all_of(read.now, read.now + g_taskbarCount, has);
}

std::string Said(const TaskbarsRead& read)
{
    Facts taskbars;
    for (int i = 0; i < g_taskbarCount; ++i) {
        taskbars.push_back(WindowClass(g_before[i].window) + " " + Describe(read.now[i]));
    }
    return Join(taskbars);
}

bool AwaitAlpha(int alpha, Millis timeout, TaskbarsRead* last)
{
    return WaitFor([=] { return AllHave(*last = ReadTaskbars(), alpha); }, timeout);
}
