// The channel to the guard: a second hushpane-check.exe without a console, which holds each
// Hushpane by a handle of its own and sees the check end when its input ends.
#include "check/check.h"

#include <vector>

static HANDLE g_guard = nullptr;
static HANDLE g_toGuard = nullptr;  // the guard's standard input

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    return {path, GetModuleFileNameW(nullptr, path, MAX_PATH)};
}

bool Launch(std::wstring commandLine, DWORD flags, HANDLE input, HANDLE output,
            PROCESS_INFORMATION* started)
{
    HANDLE handed = input != nullptr ? input : output;  // each child is handed one end of a pipe
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> buffer(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data());
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.lpAttributeList = list;
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        return false;
    }
    const DWORD creation =
        flags | EXTENDED_STARTUPINFO_PRESENT | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
    const bool made = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handed,
                                                sizeof(handed), nullptr, nullptr) &&
                      CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, creation,
                                     nullptr, nullptr, &startup.StartupInfo, started);
    DeleteProcThreadAttributeList(list);
    return made;
}

static bool Tell(const GuardNews& news)
{
    DWORD written = 0;
    return WriteFile(g_toGuard, &news, sizeof(news), &written, nullptr) && written == sizeof(news);
}

std::string StartGuard()
{
    HANDLE readEnd = nullptr;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};  // as handed, alone
    if (!CreatePipe(&readEnd, &g_toGuard, &inheritable, 0)) {
        return Format("no pipe could be made for its guard (error %lu)", GetLastError());
    }
    const std::wstring commandLine = L"\"" + OwnPath() + L"\" --guard";
    BOOL inJob = FALSE;
    IsProcessInJob(GetCurrentProcess(), nullptr, &inJob);
    PROCESS_INFORMATION guard = {};
    // Ending a job ends every process in it: the guard leaves the check's job where it can.
    bool started =
        inJob && Launch(commandLine, CREATE_BREAKAWAY_FROM_JOB, readEnd, nullptr, &guard);
    if (!started) {
        started = Launch(commandLine, 0, readEnd, nullptr, &guard);
    }
    const DWORD error = GetLastError();
    CloseHandle(readEnd);
    if (!started) {
        return Format(
            "its guard, which ends Hushpane if the check is ended from outside, could not "
            "be started (error %lu)",
            error);
    }
    CloseHandle(guard.hThread);
    g_guard = guard.hProcess;
    BOOL guardInJob = FALSE;  // a job that let the guard go may lie in one that does not
    IsProcessInJob(g_guard, nullptr, &guardInJob);
    if (guardInJob) {
        Note("the check and its guard run in a job: ending it (a CI step's time-out, some "
             "terminals' closing) would end them with Hushpane, and leave the taskbars hidden");
    } else if (inJob) {
        Note("the check runs in a job; its guard left the job, so ending the job cannot end it");
    }
    for (int i = 0; i < g_taskbarCount; ++i) {
        if (!Tell({TASKBAR_NEWS, g_before[i], nullptr})) {
            return Format("its guard did not take the taskbars' record (error %lu)",
                          GetLastError());
        }
    }
    return {};
}

std::string HandOver(HANDLE process)
{
    const DWORD access = SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE theirs = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), process, g_guard, &theirs, access, FALSE, 0)) {
        return Format("DuplicateHandle into the guard failed with error %lu", GetLastError());
    }
    if (!Tell({COPY_NEWS, {}, theirs})) {
        return Format("the guard did not take its record (error %lu)", GetLastError());
    }
    return {};
}

void TellGuardDone()
{
    Tell({DONE_NEWS, {}, nullptr});
}

bool HearNews(GuardNews* news)
{
    DWORD count = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), news, sizeof(*news), &count, nullptr) &&
           count == sizeof(*news);
}
