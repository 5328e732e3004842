#include "app/app.h"
#include "taskbar/taskbar.h"

void RunMessageLoop()
{
    MSG msg = {};
    for (;;) {
        // Sent messages (the icon's clicks) reach the window procedure inside
        // PeekMessageW; at most one posted message is taken per iteration.
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_HOTKEY && msg.wParam == static_cast<WPARAM>(HOTKEY_ID_PEEK)) {
                PeekTaskbars();
            } else if (msg.message == WM_COMMAND) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        Sleep(LOOP_INTERVAL_MS);
    }
}
