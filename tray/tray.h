// The hidden message-only window, the notification-area icon and the
// window procedure behind them.
#pragma once

#include "platform/desktop.h"
#include "res/resource.h"

constexpr UINT WM_TRAYICON = WM_USER + 1;  // the icon's callback message
constexpr UINT TRAY_ICON_ID = 1;
constexpr UINT_PTR ID_TRAY_PAUSE = 1;
constexpr UINT_PTR ID_TRAY_EXIT = 2;
constexpr int TRAY_EXIT_STATUS = 1;

extern NOTIFYICONDATAW g_trayIcon;

void SetUpTray(HINSTANCE instance);
LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ShowTrayMenu(HWND window);
