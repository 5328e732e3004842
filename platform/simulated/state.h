// The simulated desktop's state, shared by its implementation files.
#pragma once

#include "platform/simulated/scene.h"

#include <optional>

struct SimHotKey {
    bool registered = false;
    int id = 0;
    UINT modifiers = 0;
    UINT virtualKey = 0;
};

struct SimEvent {
    DWORD time;
    std::function<void()> action;
};

struct SimState {
    std::vector<SimWindow> windows;  // a window's handle is its index, encoded by SimHandle
    std::map<std::wstring, WNDCLASSEXW> classes;
    int monitorCount = 1;

    std::vector<std::pair<UINT, UINT>> hotKeysTakenElsewhere;
    SimHotKey hotKey;
    std::deque<SimMessage> posted;
    std::deque<SimMessage> sent;
    bool quitPosted = false;

    DWORD now = 0;
    std::optional<DWORD> stopAt;
    std::vector<SimEvent> events;  // kept in time order, equal times in the order scheduled

    DWORD lastError = ERROR_SUCCESS;
    bool iconResourcePresent = true;
    std::map<std::pair<HWND, UINT>, NOTIFYICONDATAW> icons;
    std::vector<SimBox> boxes;
    std::vector<SimMenu> menus;
    std::vector<SimShownMenu> shownMenus;
    std::deque<UINT_PTR> menuChoices;
    POINT cursor = {0, 0};
    HWND foreground = nullptr;
    std::vector<SimCall> calls;
};

// Constructed on first use: the program's static initialisation calls
// FindWindowW before this file's globals would exist.
SimState& Sim();
void SimLog(const char* name, HWND window, LONG_PTR first = 0, LONG_PTR second = 0, LONG_PTR third = 0);
HWND SimHandle(std::size_t index);
SimWindow* SimLookup(HWND window);  // null for a handle that names no live window
void SimFail(DWORD error);
void SimRunDueEvents();
