// The polling loop on the virtual clock: the peek timeline, held keys, and
// which posted messages are acted on.
#include "tests/harness.h"

#include "taskbar/taskbar.h"
#include "tray/tray.h"

#include <algorithm>

namespace {

class Loop : public Desktop {
protected:
    void SetUp() override
    {
        Desktop::SetUp();
        primary = SimAddShellWindow(L"Shell_TrayWnd");
    }

    static void PressAt(DWORD time, int times = 1)
    {
        SimAt(time, [times] {
            for (int i = 0; i < times; ++i) {
                ASSERT_TRUE(SimPressHotKey(MOD_CONTROL, 0x30));
            }
        });
    }

    HWND primary = nullptr;
};

TEST_F(Loop, CtrlZeroShowsAtOnceAndHidesExactlyTwentySecondsLater)
{
    PressAt(1200);
    int alphaJustBeforeTheEnd = -1;
    SimAt(21499, [&] { alphaJustBeforeTheEnd = SimWindowState(primary).alpha; });

    ASSERT_EQ(RunHushpane(30000), STILL_RUNNING);

    // Pressed between polls: taken at the next poll, t=1500.
    EXPECT_EQ(AlphaTimes(primary, 255), std::vector<DWORD>{1500});
    EXPECT_EQ(alphaJustBeforeTheEnd, 255);
    const auto hidden = AlphaTimes(primary, 0);
    ASSERT_EQ(hidden.size(), 2U);
    EXPECT_EQ(hidden[1], 21500U);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);

    // After the peek, the loop sleeps its 500 ms before polling again.
    const auto sleeps = SimCallsNamed("Sleep");
    auto after = std::find_if(sleeps.begin(), sleeps.end(), [](const SimCall& c) { return c.time == 21500; });
    ASSERT_NE(after, sleeps.end());
    EXPECT_EQ(after->first, 500);
    EXPECT_FALSE(g_paused);
}

TEST_F(Loop, AHeldKeyGivesBackToBackFullPeeks)
{
    PressAt(1000, 3);
    PressAt(5000);  // pressed during the first peek: queued, not merged

    ASSERT_EQ(RunHushpane(100000), STILL_RUNNING);

    const std::vector<DWORD> shown = {1000, 21500, 42000, 62500};
    EXPECT_EQ(AlphaTimes(primary, 255), shown);
    const std::vector<DWORD> hidden = {0, 21000, 41500, 62000, 82500};
    EXPECT_EQ(AlphaTimes(primary, 0), hidden);
}

TEST_F(Loop, OtherHotKeysAndQuitAreDroppedOnePerPoll)
{
    SimAt(1000, [] {
        SimPost(nullptr, WM_HOTKEY, 2, 0);
        SimPost(nullptr, WM_HOTKEY, static_cast<WPARAM>(0x100000001ULL), 0);
        SimPost(nullptr, WM_QUIT, 0, 0);
        SimPost(nullptr, WM_TIMER, 1, 0);
        ASSERT_TRUE(SimPressHotKey(MOD_CONTROL, 0x30));
    });

    ASSERT_EQ(RunHushpane(10000), STILL_RUNNING);

    // Four dropped messages take four polls; the real press comes fifth.
    EXPECT_EQ(AlphaTimes(primary, 255), std::vector<DWORD>{3000});
    EXPECT_TRUE(SimCallsNamed("TranslateMessage").empty());
    EXPECT_TRUE(SimCallsNamed("DispatchMessageW").empty());
}

TEST_F(Loop, ACommandIsTranslatedThenDispatchedToItsWindow)
{
    SimAt(1000, [] { SimPost(HiddenWindow(), WM_COMMAND, ID_TRAY_PAUSE, 0); });

    ASSERT_EQ(RunHushpane(5000), STILL_RUNNING);

    EXPECT_EQ(AlphaTimes(primary, 255), std::vector<DWORD>{1000});
    EXPECT_TRUE(g_paused);
    std::vector<std::string> order;
    for (const SimCall& call : SimCalls()) {
        if (call.name == "TranslateMessage" || call.name == "DispatchMessageW") {
            order.push_back(call.name);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"TranslateMessage", "DispatchMessageW"}));
}

TEST_F(Loop, SentMessagesAreServedWhileQueuedOnesWait)
{
    SimAt(1000, [] {
        SimPost(nullptr, WM_TIMER, 1, 0);
        SimPost(nullptr, WM_TIMER, 2, 0);
        ASSERT_TRUE(SimPressHotKey(MOD_CONTROL, 0x30));
        SimSend(HiddenWindow(), WM_COMMAND, ID_TRAY_PAUSE, 0);
    });

    ASSERT_EQ(RunHushpane(5000), STILL_RUNNING);

    EXPECT_EQ(AlphaTimes(primary, 255), (std::vector<DWORD>{1000, 2000})) << "the sent Pause at once, the peek third";
}

TEST_F(Loop, ThePeekBlocksEverythingElseUntilItEnds)
{
    PressAt(1000);
    SimAt(2000, [] { SimSend(HiddenWindow(), WM_TRAYICON, TRAY_ICON_ID, WM_LBUTTONUP); });

    ASSERT_EQ(RunHushpane(30000), STILL_RUNNING);

    ASSERT_EQ(SimBoxes().size(), 1U);
    EXPECT_EQ(SimBoxes()[0].time, 21500U) << "the click is served at the first poll after the peek";
}

}  // namespace
