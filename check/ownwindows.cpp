// The check's own windows, served by a thread of their own so that they are
// activated by a click and painted while the main thread waits: the window
// that the check clicks to hold the foreground, and the backdrops of a known
// colour that it puts behind the taskbars. They go with the process, so no
// failure, Ctrl+C or kill leaves one behind.
#include "check/check.h"

namespace {

const wchar_t CHECK_CLASS[] = L"HushpaneCheck";
const wchar_t BACKDROP_CLASS[] = L"HushpaneCheckBackdrop";
const wchar_t CHECK_TEXT[] = L"hushpane-check is running: leave the mouse and keyboard alone";

HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
HANDLE g_made = nullptr;
HWND g_checkWindow = nullptr;
HWND g_backdrops[MAX_TASKBARS] = {};

LRESULT CALLBACK CheckWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint = {};
        HDC dc = BeginPaint(window, &paint);
        RECT inside = {};
        GetClientRect(window, &inside);
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, CHECK_TEXT, -1, &inside, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_CLOSE) {
        return 0;  // it goes when the check is done
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI ServeOwnWindows(void*)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CheckWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_INFOBK);
    windowClass.lpszClassName = CHECK_CLASS;
    RegisterClassW(&windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hbrBackground = CreateSolidBrush(BACKDROP_COLOUR);
    windowClass.lpszClassName = BACKDROP_CLASS;
    RegisterClassW(&windowClass);

    // Top-most, so that nothing covers it where it is clicked; a tool window,
    // so that it adds no button to the taskbar.
    g_checkWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, CHECK_CLASS, L"hushpane-check",
                                    WS_POPUP | WS_BORDER, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_backdrops[i] = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, BACKDROP_CLASS, L"", WS_POPUP, 0, 0, 1, 1,
                                         nullptr, nullptr, instance, nullptr);
    }
    SetEvent(g_made);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}

void StartOwnWindows()
{
    if (g_thread != nullptr) {
        return;
    }
    g_made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_thread = CreateThread(nullptr, 0, ServeOwnWindows, nullptr, 0, &g_threadId);
    WaitForSingleObject(g_made, 5000);
}

}  // namespace

HWND CheckWindow()
{
    StartOwnWindows();
    return g_checkWindow;
}

HWND Backdrop(int taskbar)
{
    StartOwnWindows();
    return g_backdrops[taskbar];
}

SIZE CheckWindowSize()
{
    const UINT dpi = GetDpiForWindow(CheckWindow());
    HDC dc = GetDC(CheckWindow());
    RECT text = {};
    DrawTextW(dc, CHECK_TEXT, -1, &text, DT_CALCRECT | DT_SINGLELINE);
    ReleaseDC(CheckWindow(), dc);
    const int margin = MulDiv(16, static_cast<int>(dpi), 96);
    return {text.right - text.left + 2 * margin, text.bottom - text.top + 2 * margin};
}

void CloseOwnWindows()
{
    if (g_thread == nullptr) {
        return;
    }
    PostThreadMessageW(g_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_thread, 3000);
}
