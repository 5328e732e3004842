#include "app/app.h"
#include "taskbar/taskbar.h"
#include "tray/tray.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    RegisterPeekHotKey();
    CountMonitors();
    if (!ConcealTaskbars()) {
        MessageBoxW(nullptr, L"Failed to find taskbar", L"Error", MB_OK);
        return -1;
    }
    SetUpTray(instance);
    RunMessageLoop();
}
