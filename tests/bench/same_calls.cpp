// The same-calls baseline of tools/bench: a GUI program linked like
// hushpane.exe, with the same resources, that makes the kinds of system calls
// Hushpane makes and nothing of Hushpane's own. It registers a hot key
// (Ctrl+9, so that it and Hushpane can run side by side), loads the icon,
// creates a message-only window, adds a notification-area icon, then polls
// its queue every 500 ms. Hushpane's figures minus this program's are what
// Hushpane's own logic costs. The set-up is a function that returns, as
// Hushpane's are, so that the stack protector guards it and its canary is
// drawn at start as in hushpane.exe: that is the mitigation's cost, not
// Hushpane's.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

namespace {

// Not inlined into wWinMain, whose loop never returns and so is never guarded.
[[gnu::noinline]] void SetUp(HINSTANCE instance)
{
    RegisterHotKey(nullptr, 1, MOD_CONTROL, '9');
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"HushpaneBenchSameCalls";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, L"HushpaneBenchSameCalls", L"Same calls", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);

    NOTIFYICONDATAW tray = {};
    tray.cbSize = sizeof(tray);
    tray.hWnd = window;
    tray.uID = 1;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_USER + 1;
    tray.hIcon = icon;
    lstrcpynW(tray.szTip, L"Same calls", ARRAYSIZE(tray.szTip));
    Shell_NotifyIconW(NIM_ADD, &tray);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    SetUp(instance);
    MSG msg = {};
    for (;;) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_COMMAND) {
            DispatchMessageW(&msg);
        }
        Sleep(500);
    }
}
