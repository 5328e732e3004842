// The shell's taskbar windows and every change of their visibility.
#pragma once

#include "platform/desktop.h"

#include <vector>

// Opacity 0 hides a taskbar, 255 shows it; no other value is used.
constexpr unsigned char TASKBAR_ALPHA_HIDDEN = 0;
constexpr unsigned char TASKBAR_ALPHA_SHOWN = 255;
constexpr DWORD PEEK_DURATION_MS = 20000;

extern int g_monitorCount;            // counted once at start-up
extern HWND g_primaryTaskbar;         // Shell_TrayWnd, looked up once before wWinMain
extern std::vector<HWND> g_taskbars;  // primary then secondaries, filled only with 2+ monitors
extern bool g_paused;                 // flipped only by TogglePause

void CountMonitors();
bool ConcealTaskbars();
void SetTaskbarAlpha(unsigned char alpha);
void PeekTaskbars();
void TogglePause();
void RestoreTaskbars();
