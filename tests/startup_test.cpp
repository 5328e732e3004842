// Start-up from process start: its order, the hot key, and the failures.
#include "tests/harness.h"

#include "taskbar/taskbar.h"

namespace {

using Startup = Desktop;

TEST_F(Startup, RunsItsStepsInOrderThenPolls)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd");

    EXPECT_EQ(RunHushpane(1000), STILL_RUNNING);

    const std::vector<std::string> expected = {"FindWindowW",       "RegisterHotKey",    "EnumDisplayMonitors",
                                               "GetWindowLongPtrW", "SetWindowLongPtrW", "SetLayeredWindowAttributes",
                                               "LoadIconW",         "RegisterClassExW",  "CreateWindowExW",
                                               "DefWindowProcW",    "DefWindowProcW",    "Shell_NotifyIconW"};
    EXPECT_EQ(CallNames(), expected);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_EQ(SimIcons().size(), 1U);
    EXPECT_EQ(SimCallsNamed("Sleep").size(), 2U) << "two iterations of 500 ms by t=1000";
}

TEST_F(Startup, RegistersCtrlZeroForTheThreadWithoutNoRepeat)
{
    SimAddShellWindow(L"Shell_TrayWnd");

    RunHushpane(0);

    const auto registrations = SimCallsNamed("RegisterHotKey");
    ASSERT_EQ(registrations.size(), 1U);
    EXPECT_EQ(registrations[0].window, nullptr);
    EXPECT_EQ(registrations[0].first, 1);
    EXPECT_EQ(registrations[0].second, MOD_CONTROL);
    EXPECT_EQ(registrations[0].third, 0x30);
}

TEST_F(Startup, AHotKeyTakenElsewhereWritesOneLineAndStartUpGoesOn)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd");
    SimTakeHotKey(MOD_CONTROL, 0x30);

    testing::internal::CaptureStdout();
    const int result = RunHushpane(30000);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(result, STILL_RUNNING);
    EXPECT_EQ(output, "Failed to register hot key for Hushpane.\n");
    EXPECT_TRUE(SimBoxes().empty());
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_EQ(SimIcons().size(), 1U);
    EXPECT_FALSE(SimPressHotKey(MOD_CONTROL, 0x30)) << "the press belongs to the other program";
}

TEST_F(Startup, OneMonitorWithoutTaskbarShowsOneBoxAndReturnsMinusOne)
{
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd");

    EXPECT_EQ(RunHushpane(60000), -1);

    ExpectOnlyBox(nullptr, L"Failed to find taskbar", L"Error", MB_OK);
    EXPECT_TRUE(SimIcons().empty());
    EXPECT_EQ(SimRegisteredClass(L"TrayIconApp"), nullptr);
    EXPECT_EQ(SimWindowState(secondary).alpha, -1);
    EXPECT_TRUE(SimCallsNamed("Sleep").empty()) << "the loop never started";
}

TEST_F(Startup, SeveralMonitorsWithoutTaskbarStillStartSilently)
{
    SimSetMonitorCount(2);

    EXPECT_EQ(RunHushpane(1000), STILL_RUNNING);

    EXPECT_TRUE(SimBoxes().empty());
    EXPECT_EQ(SimIcons().size(), 1U);
}

TEST_F(Startup, TheStaticLookupIsTheOnlySourceOfThePrimary)
{
    // A taskbar that appears after the static lookup is not found on one
    // monitor: the lookup is never refreshed.
    ResetProgram();
    SimAddShellWindow(L"Shell_TrayWnd");
    SimStopAt(1000);

    EXPECT_EQ(wWinMain(Instance(), nullptr, nullptr, 0), -1);
    EXPECT_EQ(SimBoxes().size(), 1U);
}

}  // namespace
