#include "tray/tray.h"

// Zero-initialised: only the fields set in SetUpTray are ever non-zero.
NOTIFYICONDATAW g_trayIcon;

void SetUpTray(HINSTANCE instance)
{
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON));
    if (icon == nullptr) {
        MessageBoxW(nullptr, L"Failed to load icon.", L"Error", MB_ICONERROR);
    }

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = TrayWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TrayIconApp";
    RegisterClassExW(&windowClass);

    // HWND_MESSAGE: a message-only window is never shown and is enough to
    // receive the icon's callbacks and the menu's commands.
    HWND window = CreateWindowExW(0, L"TrayIconApp", L"Tray Icon Hidden Window", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);

    g_trayIcon.cbSize = sizeof(g_trayIcon);
    g_trayIcon.hWnd = window;
    g_trayIcon.uID = TRAY_ICON_ID;
    g_trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_trayIcon.uCallbackMessage = WM_TRAYICON;
    g_trayIcon.hIcon = icon;
    StringCchCopyW(g_trayIcon.szTip, ARRAYSIZE(g_trayIcon.szTip), L"Hushpane");
    // No NIM_SETVERSION: the default callback form carries the mouse message
    // itself in lParam, which TrayWndProc compares whole.
    Shell_NotifyIconW(NIM_ADD, &g_trayIcon);
}
