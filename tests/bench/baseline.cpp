// The do-nothing baseline of tools/bench: a GUI-subsystem program linked
// like hushpane.exe that starts, says so through a named event, creates
// nothing else and sleeps. Built a second time with
// BASELINE_FINDS_TASKBAR, it first looks the taskbar up, which loads the
// windowing half of the system (USER32 and, under Wine, its X11 driver) the
// way any GUI program does.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
#ifdef BASELINE_FINDS_TASKBAR
    FindWindowW(L"Shell_TrayWnd", nullptr);
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
