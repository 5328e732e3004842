// The do-nothing baseline of tools/bench: a GUI-subsystem program linked
// like hushpane.exe that starts, says so through a named event, creates
// nothing else and sleeps. Built again with BASELINE_FINDS_TASKBAR, it first
// looks the taskbar up, which loads the windowing half of the system (USER32
// and, under Wine, its X11 driver); with BASELINE_USES_SHELL as well, it also
// imports SHELL32 as hushpane.exe does (deleting an icon that does not exist,
// which changes nothing). Together they show what the system's DLLs cost
// before the program does anything.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#ifdef BASELINE_USES_SHELL
#include <shellapi.h>
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
#ifdef BASELINE_FINDS_TASKBAR
    FindWindowW(L"Shell_TrayWnd", nullptr);
#endif
#ifdef BASELINE_USES_SHELL
    NOTIFYICONDATAW nothing = {};
    nothing.cbSize = sizeof(nothing);
    Shell_NotifyIconW(NIM_DELETE, &nothing);
#endif
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"HushpaneBenchBaselineReady");
    if (ready != nullptr) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    for (;;) {
        Sleep(INFINITE);
    }
}
