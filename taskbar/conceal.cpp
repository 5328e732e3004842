#include "taskbar/taskbar.h"

namespace {

BOOL CALLBACK CountMonitorsProc(HMONITOR, HDC, LPRECT, LPARAM data)
{
    ++*reinterpret_cast<int*>(data);
    return TRUE;
}

// Makes one taskbar layered (if it is not yet) and invisible.
void ConcealTaskbar(HWND taskbar)
{
    // The style is another process's; a read that fails returns 0 with the
    // last error set, and writing WS_EX_LAYERED over that 0 would wipe every
    // other extended style bit the shell had set. Leave such a style alone.
    SetLastError(ERROR_SUCCESS);
    const LONG_PTR style = GetWindowLongPtrW(taskbar, GWL_EXSTYLE);
    const bool styleRead = style != 0 || GetLastError() == ERROR_SUCCESS;
    if (styleRead && (style & WS_EX_LAYERED) == 0) {
        SetWindowLongPtrW(taskbar, GWL_EXSTYLE, style | WS_EX_LAYERED);
    }
    SetLayeredWindowAttributes(taskbar, 0, TASKBAR_ALPHA_HIDDEN, LWA_ALPHA);
}

void CollectTaskbars()
{
    HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (primary != nullptr) {
        g_taskbars.push_back(primary);
    }
    HWND after = nullptr;
    while ((after = FindWindowExW(nullptr, after, L"Shell_SecondaryTrayWnd", nullptr)) != nullptr) {
        g_taskbars.push_back(after);
    }
}

}  // namespace

void CountMonitors()
{
    EnumDisplayMonitors(nullptr, nullptr, CountMonitorsProc, reinterpret_cast<LPARAM>(&g_monitorCount));
}

bool ConcealTaskbars()
{
    if (g_monitorCount == 1) {
        if (g_primaryTaskbar == nullptr) {
            return false;
        }
        ConcealTaskbar(g_primaryTaskbar);
    } else if (g_monitorCount >= 2) {
        CollectTaskbars();
        for (HWND taskbar : g_taskbars) {
            ConcealTaskbar(taskbar);
        }
    }
    return true;
}
