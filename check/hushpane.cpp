#include "check/check.h"

#include <shellapi.h>

std::wstring g_exe;
Copy g_copies[MAX_COPIES];
int g_copyCount = 0;

Copy* StartHushpane(std::string* problem)
{
    if (g_copyCount == MAX_COPIES) {
        *problem = "too many copies started";
        return nullptr;
    }
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        *problem = Format("no pipe for its standard output (error %lu)", GetLastError());
        return nullptr;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    std::wstring commandLine = L"\"" + g_exe + L"\"";
    PROCESS_INFORMATION started = {};
    // No console and a process group of its own, as when started from
    // Explorer: Ctrl+C or closing this console is the check's to handle, and
    // the check (or its guard) then ends Hushpane through its Exit.
    const BOOL ok = CreateProcessW(g_exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                   DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &started);
    const DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (!ok) {
        CloseHandle(readEnd);
        *problem = Format("could not start %s (error %lu)", Utf8(g_exe).c_str(), error);
        return nullptr;
    }
    CloseHandle(started.hThread);
    Copy& copy = g_copies[g_copyCount];
    copy.process = started.hProcess;
    copy.pid = started.dwProcessId;
    copy.output = readEnd;
    ++g_copyCount;
    Guarded(copy.pid);
    return &copy;
}

bool Running(const Copy& copy)
{
    return WaitForSingleObject(copy.process, 0) == WAIT_TIMEOUT;
}

std::string EndedHow(const Copy& copy)
{
    DWORD status = 0;
    GetExitCodeProcess(copy.process, &status);
    return Format("Hushpane ended with status %ld", static_cast<long>(status));
}

std::string ReadOutput(Copy& copy)
{
    DWORD available = 0;
    while (PeekNamedPipe(copy.output, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char bytes[512];
        DWORD count = 0;
        if (!ReadFile(copy.output, bytes, sizeof(bytes), &count, nullptr) || count == 0) {
            break;
        }
        copy.written.append(bytes, count);
    }
    return copy.written;
}

std::string ClickIcon(const Copy& copy, LPARAM mouseMessage)
{
    // As the shell does on a click: it holds the foreground, and lets the
    // clicked program take it, so that its menu gets the keys and closes
    // when the user clicks elsewhere.
    std::string click;
    // Sampled right before the callback: whatever was activated since the click may hold it now.
    HWND holder = TakeForeground(&click);
    g_checkHeldForeground = holder == CheckWindow();
    const bool allowed = AllowSetForegroundWindow(copy.pid) != FALSE;
    const DWORD error = GetLastError();
    SendNotifyMessageW(FindHushpaneWindow(copy.pid), WM_TRAYICON, TRAY_ICON_ID, mouseMessage);
    std::string how = HeldText(holder, click);
    if (!allowed) {
        how += Format("; AllowSetForegroundWindow failed (error %lu)", error);
    }
    return how;
}

HWND AwaitHushpaneWindow(const Copy& copy)
{
    HWND window = nullptr;
    WaitFor([&] { return (window = FindHushpaneWindow(copy.pid)) != nullptr || !Running(copy); }, 2000);
    return window;
}

bool IconPresent(HWND window, std::string* how)
{
    NOTIFYICONIDENTIFIER icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = TRAY_ICON_ID;
    RECT rect = {};
    const HRESULT result = Shell_NotifyIconGetRect(&icon, &rect);
    if (SUCCEEDED(result)) {
        *how = Format("Shell_NotifyIconGetRect %s (%ldx%ld)%s", RectText(rect).c_str(), rect.right - rect.left,
                      rect.bottom - rect.top, result == S_OK ? "" : ", S_FALSE");
        return true;
    }
    // No rectangle: not implemented (Wine), or an icon that Windows 11 keeps
    // behind the overflow arrow. A NIM_MODIFY that changes nothing is
    // answered TRUE only for an icon the shell knows.
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    const bool known = Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    *how = Format("Shell_NotifyIconGetRect answered 0x%08lX%s; an empty NIM_MODIFY answered %s",
                  static_cast<unsigned long>(result), result == E_NOTIMPL ? " (not implemented)" : "",
                  known ? "TRUE" : "FALSE");
    return known;
}

namespace {

void EndCopy(Copy& copy)
{
    if (!Running(copy)) {
        return;
    }
    // Exit where it can: close a box that is open, then click Exit in the
    // menu, the one left open or a new one.
    if (HWND box = FindVisibleWindow(L"#32770", copy.pid)) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return FindVisibleWindow(L"#32770", copy.pid) == nullptr; }, 2000);
    }
    std::string how;
    ULONGLONG when = 0;
    const bool chosen = ChooseFromMenu(copy, EXIT_ITEM, &how, &when);
    if (!chosen || WaitForSingleObject(copy.process, 3000) != WAIT_OBJECT_0) {
        TerminateProcess(copy.process, 255);
        WaitForSingleObject(copy.process, 5000);
        Note(Format("Hushpane (process %lu) did not end through Exit (%s%s): the check ended it", copy.pid, how.c_str(),
                    chosen ? "still running 3 s later" : ""));
    }
}

}  // namespace

void EndCopies()
{
    for (int i = 0; i < g_copyCount; ++i) {
        EndCopy(g_copies[i]);
    }
}
