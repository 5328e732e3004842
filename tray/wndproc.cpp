#include "tray/tray.h"
#include "taskbar/taskbar.h"

#include <cstdlib>

namespace {

[[noreturn]] void ExitHushpane(HWND window)
{
    DestroyWindow(window);  // WM_DESTROY removes the icon before this returns
    RestoreTaskbars();
    std::exit(TRAY_EXIT_STATUS);
}

LRESULT OnCommand(HWND window, WPARAM command)
{
    if (command == ID_TRAY_PAUSE) {
        TogglePause();
    } else if (command == ID_TRAY_EXIT) {
        ExitHushpane(window);
    }
    return 0;
}

LRESULT OnTrayIcon(HWND window, LPARAM mouseMessage)
{
    if (mouseMessage == WM_LBUTTONUP) {
        MessageBoxW(window, L"Left Click on Tray Icon!", L"Hushpane", MB_OK);
    } else if (mouseMessage == WM_RBUTTONUP) {
        ShowTrayMenu(window);
    }
    return 0;
}

}  // namespace

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        Shell_NotifyIconW(NIM_DELETE, &g_trayIcon);
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_TRAYICON:
        return OnTrayIcon(window, lParam);
    case WM_CLOSE:
        // Only Exit may destroy this window: DefWindowProcW would destroy it
        // for any process that sends WM_CLOSE, leaving the taskbars hidden
        // with no icon to bring them back.
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
