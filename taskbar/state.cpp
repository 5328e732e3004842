#include "taskbar/taskbar.h"

int g_monitorCount = 0;
bool g_paused = false;

// Defined in this order on purpose: the list exists (and its release is
// registered for process exit) before the primary taskbar is looked up.
std::vector<HWND> g_taskbars;
// NOLINTNEXTLINE(cert-err58-cpp): FindWindowW is a C function of the system and throws nothing.
HWND g_primaryTaskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
