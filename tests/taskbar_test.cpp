// Concealment, the target set and the visibility changes, against scenes of
// zero, one and several monitors.
#include "tests/harness.h"

#include "taskbar/taskbar.h"

namespace {

constexpr LONG_PTR WS_EX_TOPMOST = 0x00000008L;
constexpr LONG_PTR WS_EX_TOOLWINDOW = 0x00000080L;

class Taskbars : public Desktop {
protected:
    // Counts the monitors and conceals, as start-up does.
    static bool Conceal(int monitors)
    {
        SimSetMonitorCount(monitors);
        ResetProgram();
        CountMonitors();
        return ConcealTaskbars();
    }
};

TEST_F(Taskbars, OneMonitorAddsLayeredToTheExistingStyleAndHidesThePrimary)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd", WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
    SimAddShellWindow(L"Shell_SecondaryTrayWnd");

    ASSERT_TRUE(Conceal(1));

    EXPECT_EQ(g_monitorCount, 1);
    EXPECT_EQ(SimWindowState(primary).exStyle, WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_LAYERED);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_EQ(SimWindowState(primary).layeredFlags, static_cast<DWORD>(LWA_ALPHA));
    EXPECT_EQ(SimCallsNamed("SetWindowLongPtrW").size(), 1U);
    auto alphaCalls = SimCallsNamed("SetLayeredWindowAttributes");
    ASSERT_EQ(alphaCalls.size(), 1U);
    EXPECT_EQ(alphaCalls[0].third, 0) << "colour key";
    EXPECT_TRUE(g_taskbars.empty()) << "the list is for two or more monitors";
}

TEST_F(Taskbars, AStyleThatIsAlreadyLayeredIsNotWritten)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd", WS_EX_LAYERED | WS_EX_TOPMOST);

    ASSERT_TRUE(Conceal(1));

    EXPECT_TRUE(SimCallsNamed("SetWindowLongPtrW").empty());
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
}

TEST_F(Taskbars, AStyleThatCannotBeReadIsNotOverwrittenButTheAlphaIsStillSet)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd", WS_EX_TOPMOST);
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd", WS_EX_TOOLWINDOW);
    SimFailStyleRead(primary);
    SimFailStyleRead(secondary);

    ASSERT_TRUE(Conceal(1));
    EXPECT_EQ(SimWindowState(primary).exStyle, WS_EX_TOPMOST);
    EXPECT_EQ(AlphaTimes(primary, 0).size(), 1U);

    SimReset();
    primary = SimAddShellWindow(L"Shell_TrayWnd", WS_EX_TOPMOST);
    secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd", WS_EX_TOOLWINDOW);
    SimFailStyleRead(secondary);

    ASSERT_TRUE(Conceal(2));
    EXPECT_EQ(SimWindowState(secondary).exStyle, WS_EX_TOOLWINDOW);
    EXPECT_EQ(AlphaTimes(secondary, 0).size(), 1U);
    EXPECT_EQ(SimWindowState(primary).alpha, 0) << "one failed read does not stop the others";
}

TEST_F(Taskbars, AStyleThatReadsAsZeroWithoutAnErrorIsWritten)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd", 0);
    SetLastError(ERROR_ACCESS_DENIED);  // stale error from earlier: must not count as a failed read

    ASSERT_TRUE(Conceal(1));

    EXPECT_EQ(SimWindowState(primary).exStyle, WS_EX_LAYERED);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
}

TEST_F(Taskbars, OneMonitorWithoutTaskbarFailsAndChangesNothing)
{
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd");

    EXPECT_FALSE(Conceal(1));

    EXPECT_EQ(SimWindowState(secondary).alpha, -1);
    EXPECT_TRUE(SimCallsNamed("SetWindowLongPtrW").empty());
    EXPECT_TRUE(SimCallsNamed("SetLayeredWindowAttributes").empty());
}

TEST_F(Taskbars, SeveralMonitorsListPrimaryFirstThenSecondariesInPlatformOrder)
{
    HWND first = SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    SimAddShellWindow(L"Notepad");
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd", WS_EX_TOPMOST);
    HWND second = SimAddShellWindow(L"Shell_SecondaryTrayWnd", WS_EX_LAYERED);

    ASSERT_TRUE(Conceal(3));

    EXPECT_EQ(g_taskbars, (std::vector<HWND>{primary, first, second}));
    for (HWND taskbar : g_taskbars) {
        EXPECT_EQ(SimWindowState(taskbar).alpha, 0);
        EXPECT_NE(SimWindowState(taskbar).exStyle & WS_EX_LAYERED, 0);
    }
    EXPECT_EQ(SimWindowState(primary).exStyle, WS_EX_TOPMOST | WS_EX_LAYERED);
    EXPECT_EQ(SimCallsNamed("SetWindowLongPtrW").size(), 2U) << "the layered secondary is not written";
}

TEST_F(Taskbars, SeveralMonitorsFinishOneTaskbarBeforeTheNext)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd");
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    ASSERT_TRUE(Conceal(2));

    std::vector<std::pair<std::string, HWND>> changes;
    for (const SimCall& call : SimCalls()) {
        if (call.name == "GetWindowLongPtrW" || call.name == "SetWindowLongPtrW" ||
            call.name == "SetLayeredWindowAttributes") {
            changes.emplace_back(call.name, call.window);
        }
    }
    const std::vector<std::pair<std::string, HWND>> expected = {
        {"GetWindowLongPtrW", primary},   {"SetWindowLongPtrW", primary},   {"SetLayeredWindowAttributes", primary},
        {"GetWindowLongPtrW", secondary}, {"SetWindowLongPtrW", secondary}, {"SetLayeredWindowAttributes", secondary}};
    EXPECT_EQ(changes, expected);
}

TEST_F(Taskbars, SeveralMonitorsLookUpThePrimaryAfresh)
{
    SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    ResetProgram();  // the static lookup finds no primary yet
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd");
    SimSetMonitorCount(2);
    CountMonitors();

    ASSERT_TRUE(ConcealTaskbars());

    ASSERT_EQ(g_taskbars.size(), 2U);
    EXPECT_EQ(g_taskbars[0], primary);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
}

TEST_F(Taskbars, SeveralMonitorsWithoutAnyTaskbarSucceedSilentlyAndChangesDoNothing)
{
    ASSERT_TRUE(Conceal(2));
    EXPECT_TRUE(g_taskbars.empty());

    TogglePause();
    PeekTaskbars();
    RestoreTaskbars();

    EXPECT_TRUE(SimCallsNamed("SetLayeredWindowAttributes").empty());
    EXPECT_TRUE(g_paused) << "the flag flips even with nothing to change";
}

TEST_F(Taskbars, NoMonitorsConcealNothingAndLaterChangesTargetThePrimary)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd", WS_EX_LAYERED);
    SimAddShellWindow(L"Shell_SecondaryTrayWnd", WS_EX_LAYERED);

    ASSERT_TRUE(Conceal(0));
    EXPECT_EQ(g_monitorCount, 0);
    EXPECT_TRUE(SimCallsNamed("SetLayeredWindowAttributes").empty());

    TogglePause();

    const auto alphaCalls = SimCallsNamed("SetLayeredWindowAttributes");
    ASSERT_EQ(alphaCalls.size(), 1U);
    EXPECT_EQ(alphaCalls[0].window, primary);
    EXPECT_EQ(SimWindowState(primary).alpha, 255);
}

TEST_F(Taskbars, TheTargetSetFollowsTheMonitorCount)
{
    HWND primary = SimAddShellWindow(L"Shell_TrayWnd");
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    ASSERT_TRUE(Conceal(2));

    SetTaskbarAlpha(255);
    EXPECT_EQ(SimWindowState(primary).alpha, 255);
    EXPECT_EQ(SimWindowState(secondary).alpha, 255);

    g_monitorCount = 1;
    SetTaskbarAlpha(0);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_EQ(SimWindowState(secondary).alpha, 255) << "one monitor: the primary alone";
}

TEST_F(Taskbars, OneMonitorWithANullPrimaryStillMakesTheCall)
{
    ResetProgram();
    g_monitorCount = 1;

    RestoreTaskbars();

    const auto alphaCalls = SimCallsNamed("SetLayeredWindowAttributes");
    ASSERT_EQ(alphaCalls.size(), 1U);
    EXPECT_EQ(alphaCalls[0].window, nullptr);
    EXPECT_EQ(alphaCalls[0].first, 255);
}

TEST_F(Taskbars, ATaskbarAddedLaterIsNeitherListedNorHidden)
{
    SimAddShellWindow(L"Shell_TrayWnd");
    ASSERT_TRUE(Conceal(2));
    HWND late = SimAddShellWindow(L"Shell_SecondaryTrayWnd", WS_EX_LAYERED);
    SimSetMonitorCount(3);

    TogglePause();
    TogglePause();

    EXPECT_EQ(g_monitorCount, 2);
    EXPECT_EQ(g_taskbars.size(), 1U);
    EXPECT_EQ(SimWindowState(late).alpha, -1);
}

TEST_F(Taskbars, AVanishedTaskbarStaysInUseHarmlessly)
{
    SimAddShellWindow(L"Shell_TrayWnd");
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    ASSERT_TRUE(Conceal(2));
    SimCloseShellWindow(secondary);

    RestoreTaskbars();

    EXPECT_EQ(AlphaTimes(secondary, 255).size(), 1U);
    EXPECT_EQ(g_taskbars.size(), 2U);
}

// The lifecycle: Hidden, Paused, Peeking, Peeking-while-paused, Hidden-flagged.
class Lifecycle : public Taskbars, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        Taskbars::SetUp();
        taskbars.push_back(SimAddShellWindow(L"Shell_TrayWnd"));
        for (int i = 1; i < GetParam(); ++i) {
            taskbars.push_back(SimAddShellWindow(L"Shell_SecondaryTrayWnd"));
        }
        ASSERT_TRUE(Conceal(GetParam()));
    }

    void ExpectState(int alpha, bool paused) const
    {
        for (HWND taskbar : taskbars) {
            EXPECT_EQ(SimWindowState(taskbar).alpha, alpha);
        }
        EXPECT_EQ(g_paused, paused);
    }

    // Peeks, checking that the taskbars are shown for exactly the peek.
    void PeekAndCheckTimeline() const
    {
        const DWORD start = SimNow();
        int alphaJustBeforeTheEnd = -1;
        SimAt(start + PEEK_DURATION_MS - 1, [&] { alphaJustBeforeTheEnd = SimWindowState(taskbars[0]).alpha; });
        PeekTaskbars();
        EXPECT_EQ(alphaJustBeforeTheEnd, 255);
        EXPECT_EQ(SimNow(), start + PEEK_DURATION_MS);
        EXPECT_EQ(AlphaTimes(taskbars.back(), 0).back(), start + PEEK_DURATION_MS);
    }

    std::vector<HWND> taskbars;
};

TEST_P(Lifecycle, HiddenPausedHiddenAgain)
{
    ExpectState(0, false);
    TogglePause();
    ExpectState(255, true);
    TogglePause();
    ExpectState(0, false);
}

TEST_P(Lifecycle, PeekFromHiddenReturnsToHidden)
{
    PeekAndCheckTimeline();
    ExpectState(0, false);
}

TEST_P(Lifecycle, PeekWhilePausedLeavesHiddenFlaggedAndTakesTwoPausesToShow)
{
    TogglePause();
    PeekAndCheckTimeline();
    ExpectState(0, true);  // Hidden-flagged

    const auto alphaZeroBefore = AlphaTimes(taskbars[0], 0).size();
    TogglePause();
    ExpectState(0, false);
    EXPECT_EQ(AlphaTimes(taskbars[0], 0).size(), alphaZeroBefore + 1) << "alpha 0 is set again";

    TogglePause();
    ExpectState(255, true);
}

INSTANTIATE_TEST_SUITE_P(Monitors, Lifecycle, ::testing::Values(1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& param) { return std::to_string(param.param); });

}  // namespace
