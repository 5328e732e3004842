#include "taskbar/taskbar.h"

void SetTaskbarAlpha(unsigned char alpha)
{
    // The target set is chosen from the monitor count at every change: with
    // fewer than two monitors it is the primary taskbar alone, even if null.
    if (g_monitorCount < 2) {
        SetLayeredWindowAttributes(g_primaryTaskbar, 0, alpha, LWA_ALPHA);
        return;
    }
    for (HWND taskbar : g_taskbars) {
        SetLayeredWindowAttributes(taskbar, 0, alpha, LWA_ALPHA);
    }
}

void PeekTaskbars()
{
    SetTaskbarAlpha(TASKBAR_ALPHA_SHOWN);
    Sleep(PEEK_DURATION_MS);
    SetTaskbarAlpha(TASKBAR_ALPHA_HIDDEN);
}

void TogglePause()
{
    SetTaskbarAlpha(g_paused ? TASKBAR_ALPHA_HIDDEN : TASKBAR_ALPHA_SHOWN);
    g_paused = !g_paused;
}

void RestoreTaskbars()
{
    SetTaskbarAlpha(TASKBAR_ALPHA_SHOWN);
}
