// The Win32 subset that Hushpane uses, with the original names, types and
// constants, for builds that are not Windows. Behind it is the simulated
// desktop (scene.h), which tests drive and inspect.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned int UINT;
typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uint8_t BYTE;
typedef std::int32_t LONG;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef wchar_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef void* LPVOID;
typedef int INT;
typedef LONG HRESULT;
typedef DWORD COLORREF;

#define TRUE 1
#define FALSE 0

#define DECLARE_SIMULATED_HANDLE(name) \
    struct name##__ {                  \
        int unused;                    \
    };                                 \
    typedef struct name##__* name
DECLARE_SIMULATED_HANDLE(HWND);
DECLARE_SIMULATED_HANDLE(HINSTANCE);
DECLARE_SIMULATED_HANDLE(HICON);
DECLARE_SIMULATED_HANDLE(HMENU);
DECLARE_SIMULATED_HANDLE(HDC);
DECLARE_SIMULATED_HANDLE(HMONITOR);
DECLARE_SIMULATED_HANDLE(HCURSOR);
DECLARE_SIMULATED_HANDLE(HBRUSH);
#undef DECLARE_SIMULATED_HANDLE
typedef HINSTANCE HMODULE;

struct POINT {
    LONG x;
    LONG y;
};
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL(CALLBACK* MONITORENUMPROC)(HMONITOR, HDC, LPRECT, LPARAM);

struct WNDCLASSEXW {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
    HICON hIconSm;
};

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    unsigned char Data4[8];
};

struct NOTIFYICONDATAW {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    union {
        UINT uTimeout;
        UINT uVersion;
    };
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    HICON hBalloonIcon;
};

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define LOWORD(l) (static_cast<WORD>(static_cast<std::uintptr_t>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<std::uintptr_t>(l) >> 16) & 0xffff))

#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))
#define S_OK 0L

#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3)))

#define GWL_EXSTYLE (-20)
#define WS_EX_LAYERED 0x00080000L
#define LWA_ALPHA 0x00000002

#define MOD_ALT 0x0001
#define MOD_CONTROL 0x0002
#define MOD_SHIFT 0x0004
#define MOD_WIN 0x0008
#define MOD_NOREPEAT 0x4000

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCCREATE 0x0081
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_HOTKEY 0x0312
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_CONTEXTMENU 0x007B
#define WM_USER 0x0400
#define WM_APP 0x8000

#define MB_OK 0x00000000L
#define MB_ICONERROR 0x00000010L
#define IDOK 1

#define MF_STRING 0x00000000L
#define TPM_RIGHTBUTTON 0x0002L

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIM_SETVERSION 0x00000004
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

#define ERROR_SUCCESS 0
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_HOTKEY_ALREADY_REGISTERED 1409
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813

// The program's entry point, called by the tests as the runtime would.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showMode);

// Kernel
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);
HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName);

// Windows and their styles
HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName);
HWND WINAPI FindWindowExW(HWND parent, HWND after, LPCWSTR className, LPCWSTR windowName);
LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index);
LONG_PTR WINAPI SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
BOOL WINAPI SetLayeredWindowAttributes(HWND window, DWORD colourKey, unsigned char alpha, DWORD flags);
BOOL WINAPI EnumDisplayMonitors(HDC dc, LPCRECT clip, MONITORENUMPROC callback, LPARAM data);
ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* windowClass);
HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL WINAPI DestroyWindow(HWND window);
LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI SetForegroundWindow(HWND window);

// Messages and the hot key
BOOL WINAPI RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey);
BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageW(const MSG* msg);
void WINAPI PostQuitMessage(int exitCode);

// Icons, menus, boxes and the notification area
HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name);
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
HMENU WINAPI CreatePopupMenu();
BOOL WINAPI AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text);
BOOL WINAPI GetCursorPos(POINT* point);
BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
BOOL WINAPI DestroyMenu(HMENU menu);
BOOL WINAPI Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data);

// Strings
HRESULT StringCchCopyW(LPWSTR destination, std::size_t capacity, LPCWSTR source);
