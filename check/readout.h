// What any program on the desktop can read of the shell's taskbars and of a
// running Hushpane, and the keys it can press: shared by hushpane-check.exe
// and the end-to-end suite's probe, so that both see the same things.
#pragma once

#include "check/menurows.h"

constexpr UINT WM_TRAYICON = WM_USER + 1;  // Hushpane's icon callback
constexpr UINT TRAY_ICON_ID = 1;
constexpr int MAX_TASKBARS = 16;
constexpr DWORD POLL_MS = 25;

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

// Shell_TrayWnd first, then each Shell_SecondaryTrayWnd; returns how many.
int FindTaskbars(HWND* taskbars, int capacity);
TaskbarState ReadTaskbar(HWND taskbar);
// Layered, with LWA_ALPHA and exactly that alpha.
bool HasAlpha(const TaskbarState& state, int alpha);

// Hushpane's message-only window; pid 0 takes any Hushpane's.
HWND FindHushpaneWindow(DWORD pid);
// A visible top-level window of that class (an open menu is #32768, a message
// box #32770; null takes any class); pid 0 takes any process's.
HWND FindVisibleWindow(const wchar_t* className, DWORD pid);
DWORD WindowProcess(HWND window);

// Real keyboard input, as if typed. Each returns false when the system took
// fewer events than it was given: the input was blocked.
bool PressKey(WORD key, bool up);
bool TapKey(WORD key);
bool PressCtrl0();

// Real mouse input, as if moved and clicked with the left button, at a point
// in this process's pixels; false when it was blocked. PressLeftButton
// presses where the pointer is, down and up in one go, so that no other
// input comes between them.
bool MoveMouse(POINT point);
bool PressLeftButton();
bool ClickAt(POINT point);
extern DWORD g_inputError;  // the last error of the last SendInput that was blocked

// The menu shown in an open popup menu's window (MN_GETHMENU); its items can
// be read only where the system lets this process read them (Wine keeps
// menus per process).
HMENU MenuOfWindow(HWND menuWindow);
// Where an item (0 is the first) of an open popup menu lies on the screen,
// read from the menu itself: GetMenuItemRect on the menu that MN_GETHMENU
// gives. False where this process cannot read it (Wine keeps menus per
// process). Above 100 % scale it may be wrong: see ChooseItemRect.
bool ReadMenuItemRect(HWND menuWindow, int item, RECT* rect);
// The same from the menu window alone: row `item` of `count` rows of equal
// height filling its window rectangle, the one rectangle of another
// program's window that Windows scales for this process's DPI awareness. The
// frame is as thick at the top as at the bottom, so each row's middle lies
// inside its item.
RECT SplitMenuItemRect(HWND menuWindow, int item, int count);
