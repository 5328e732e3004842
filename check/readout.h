// What any program can read of the shell's taskbars and of a running Hushpane, and what the
// check decides from it (decide.cpp, which the unit tests try): shared by hushpane-check.exe
// and the end-to-end suite's helpers, so that all of them see the same. No input.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/simulated/win32.h"
#endif

constexpr UINT WM_TRAYICON = WM_USER + 1;  // Hushpane's icon callback
constexpr UINT TRAY_ICON_ID = 1;
constexpr int MAX_TASKBARS = 16;
constexpr DWORD POLL_MS = 25;

// A taskbar as another program reads it; a null window when it is gone.
struct TaskbarState {
    HWND window;
    LONG_PTR exStyle;
    bool visible;
    bool layered;
    bool alphaKnown;  // GetLayeredWindowAttributes answered
    BYTE alpha;
    DWORD flags;
    COLORREF key;
};

// Putting a taskbar back, in this order: attributes, extended style and a redraw, showing it.
struct PutBackAction {
    bool setAttributes;
    COLORREF key;
    BYTE alpha;
    DWORD flags;
    bool setStyle;
    LONG_PTR exStyle;
    bool show;
};

enum Verdict { PASS, FAIL, SKIP };  // SKIP: what the desktop kept a check from, no finding
constexpr LONG TOUCH_SLOP_PX = 3;   // a move of the pointer nearer than this is no touch

bool HasAlpha(const TaskbarState& state, int alpha);  // layered, with LWA_ALPHA and that alpha
// For a taskbar `now`: as `before` the run (null: made during it), but never hidden.
PutBackAction DecidePutBack(const TaskbarState* before, const TaskbarState& now);
// A gesture kept from being made by a window of process `inTheWay`: FAIL where that is
// Hushpane's own, SKIP otherwise (nothing in the way included).
Verdict BlockedVerdict(DWORD inTheWay, DWORD hushpane);
// Whether a low-level mouse event at `at` is the user's touch: a button or the wheel, or a move
// that SendInput did not make to a place TOUCH_SLOP_PX or more from where the pointer is and
// from `home`, where the user left it. Wine moves the pointer of its own when a window under it
// goes away, to where the X server has it: the user's place, which SendInput does not change.
bool IsTouch(UINT message, bool injected, POINT at, POINT pointer, POINT home);
POINT Middle(const RECT& rect);
// Row `item` (0 first) of `count` equal rows filling `inside`: a menu's item in its window's
// rectangle, which Windows scales for this process's DPI awareness; the frame is as thick at
// the top as at the bottom, so each row's middle lies inside its item.
RECT SplitRow(const RECT& inside, int item, int count);

int FindTaskbars(HWND* taskbars, int capacity);  // Shell_TrayWnd, then each Shell_SecondaryTrayWnd
TaskbarState ReadTaskbar(HWND taskbar);
HWND FindHushpaneWindow(DWORD pid);  // its message-only window; pid 0 takes any Hushpane's
// A visible top-level window of that class (a menu #32768, a box #32770; null: any) and process.
HWND FindVisibleWindow(const wchar_t* className, DWORD pid);
DWORD WindowProcess(HWND window);
HWND TopLevelAt(POINT point);  // what a click there would reach
// Whether `thread` holds the foreground, and is in its menu: the foreground window may still
// be null then, and the foreground thread's own state names its windows.
bool ThreadHoldsForeground(DWORD thread, bool* inMenu);
