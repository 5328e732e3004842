// Shared set-up for the unit tests: a fresh simulated desktop per test, and
// the program's process-wide state put back to what it is at process start.
#pragma once

#include "platform/simulated/scene.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// What RunHushpane returns when the loop was still polling at the stop time.
constexpr int STILL_RUNNING = 1000;

class Desktop : public ::testing::Test {
protected:
    void SetUp() override;

    // Redoes the program's static initialisation against the scene built so
    // far (the primary-taskbar lookup) and clears every other global.
    static void ResetProgram();

    // Runs wWinMain from process start until the virtual clock reaches
    // stopAt; returns its result, or STILL_RUNNING.
    static int RunHushpane(DWORD stopAt);

    // Lets the polling loop run for `milliseconds` of virtual time.
    static void RunLoopFor(DWORD milliseconds);

    // A right click on the icon, the menu answered with the given item (0
    // dismisses), and a second of polling for the loop to take the command.
    static void RightClickAndChoose(UINT_PTR item);

    static HINSTANCE Instance();
    static HWND HiddenWindow();
};

// The times (virtual ms) at which an alpha was set on the given window.
std::vector<DWORD> AlphaTimes(HWND window, int alpha);

// Exactly one message box has been shown, and it was this one.
void ExpectOnlyBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

// The names of the calls made, in order, leaving out the polling itself.
std::vector<std::string> CallNames();
