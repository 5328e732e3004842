#include "tray/tray.h"

void ShowTrayMenu(HWND window)
{
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, ID_TRAY_PAUSE, L"Pause");
    AppendMenuW(menu, MF_STRING, ID_TRAY_EXIT, L"Exit");

    POINT point = {};
    GetCursorPos(&point);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere. The chosen item arrives later, posted as WM_COMMAND.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, point.x, point.y, 0, window, nullptr);
    DestroyMenu(menu);
}
