// The simulated desktop as tests see it: build a scene (shell windows, a
// monitor count, a hot key already taken, a missing icon), run the program
// against it, then read what it did (styles, alphas, icons, boxes, menus).
#pragma once

#include "platform/simulated/win32.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct SimWindow {
    std::wstring className;
    std::wstring title;
    LONG_PTR exStyle = 0;
    int alpha = -1;  // -1 until an alpha has been set
    DWORD layeredFlags = 0;
    WNDPROC proc = nullptr;  // null for the shell's windows
    bool messageOnly = false;
    bool alive = true;
    bool ours = false;  // created by the program's thread
    bool styleReadFails = false;
};

struct SimMenuItem {
    UINT flags;
    UINT_PTR id;
    std::wstring text;
};

struct SimMenu {
    std::vector<SimMenuItem> items;
    bool destroyed = false;
};

struct SimShownMenu {
    HMENU menu;
    std::vector<SimMenuItem> items;
    int x;
    int y;
    UINT flags;
    HWND owner;
    HWND foreground;  // the foreground window when the menu opened
    UINT_PTR chosen;  // 0 when dismissed
};

struct SimBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    DWORD time;
};

// One platform call, for what the end state cannot show (order, counts).
struct SimCall {
    std::string name;
    HWND window;
    LONG_PTR first;
    LONG_PTR second;
    LONG_PTR third;
    DWORD time;
};

struct SimMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Thrown by Sleep when the virtual clock reaches the stop time: the polling
// loop never returns, so this is how a scenario ends.
struct SimLoopEnd {
    DWORD time;
};

// Scene
void SimReset();
HWND SimAddShellWindow(const wchar_t* className, LONG_PTR exStyle = 0);
void SimCloseShellWindow(HWND window);
void SimSetMonitorCount(int count);
void SimFailStyleRead(HWND window);
void SimTakeHotKey(UINT modifiers, UINT virtualKey);
void SimRemoveIconResource();
void SimSetCursor(int x, int y);
void SimScriptMenuChoice(UINT_PTR id);  // 0 dismisses the menu

// Time
DWORD SimNow();
void SimAt(DWORD time, std::function<void()> action);
void SimStopAt(DWORD time);

// Input, as another process or the shell would deliver it
bool SimPressHotKey(UINT modifiers, UINT virtualKey);
void SimPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SimSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool SimClickIcon(UINT mouseMessage);

// What happened
const SimWindow& SimWindowState(HWND window);
HWND SimFindOurWindow(const wchar_t* className);
const WNDCLASSEXW* SimRegisteredClass(const wchar_t* className);
bool SimHotKeyRegistered();
const std::vector<SimCall>& SimCalls();
std::vector<SimCall> SimCallsNamed(const std::string& name);
const std::vector<SimBox>& SimBoxes();
const std::map<std::pair<HWND, UINT>, NOTIFYICONDATAW>& SimIcons();
const std::vector<SimShownMenu>& SimShownMenus();
int SimMenusNotDestroyed();
const std::deque<SimMessage>& SimPostedMessages();
bool SimQuitPosted();
HWND SimForeground();
