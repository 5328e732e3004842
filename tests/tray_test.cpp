// The hidden window, the icon, the message table, the menu and Exit.
#include "tests/harness.h"

#include "taskbar/taskbar.h"
#include "tray/tray.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

class Tray : public Desktop {
protected:
    void SetUp() override
    {
        Desktop::SetUp();
        primary = SimAddShellWindow(L"Shell_TrayWnd");
    }

    // Starts the program and lets it reach the polling loop.
    void Start(int monitors = 1)
    {
        SimSetMonitorCount(monitors);
        ASSERT_EQ(RunHushpane(500), STILL_RUNNING);
        ASSERT_NE(HiddenWindow(), nullptr);
    }

    static LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return TrayWndProc(HiddenWindow(), message, wParam, lParam);
    }

    HWND primary = nullptr;
};

TEST_F(Tray, SetUpMakesAMessageOnlyWindowAndOneIconWithOnlyTheListedFields)
{
    Start();

    HWND window = HiddenWindow();
    EXPECT_TRUE(SimWindowState(window).messageOnly);
    EXPECT_EQ(SimWindowState(window).title, L"Tray Icon Hidden Window");
    EXPECT_EQ(FindWindowW(L"TrayIconApp", nullptr), nullptr) << "message-only windows are not top-level";

    const WNDCLASSEXW* windowClass = SimRegisteredClass(L"TrayIconApp");
    ASSERT_NE(windowClass, nullptr);
    EXPECT_EQ(windowClass->style, 0U);
    EXPECT_EQ(windowClass->lpfnWndProc, &TrayWndProc);
    EXPECT_EQ(windowClass->hInstance, Instance());
    EXPECT_EQ(windowClass->hIcon, nullptr);
    EXPECT_EQ(windowClass->hCursor, nullptr);
    EXPECT_EQ(windowClass->hbrBackground, nullptr);
    EXPECT_EQ(windowClass->lpszMenuName, nullptr);
    EXPECT_EQ(windowClass->hIconSm, nullptr);

    ASSERT_EQ(SimIcons().size(), 1U);
    const NOTIFYICONDATAW& icon = SimIcons().begin()->second;
    NOTIFYICONDATAW expected = {};
    expected.cbSize = sizeof(NOTIFYICONDATAW);
    expected.hWnd = window;
    expected.uID = 1;
    expected.uFlags = 7;
    expected.uCallbackMessage = 0x0401;
    expected.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
    std::wcscpy(expected.szTip, L"Hushpane");
    EXPECT_NE(expected.hIcon, nullptr);
    EXPECT_EQ(std::memcmp(&icon, &expected, sizeof(expected)), 0) << "every other field stays zero";

    const auto notifyCalls = SimCallsNamed("Shell_NotifyIconW");
    ASSERT_EQ(notifyCalls.size(), 1U) << "added once, no NIM_SETVERSION";
    EXPECT_EQ(notifyCalls[0].first, NIM_ADD);
}

TEST_F(Tray, AMissingIconResourceShowsOneBoxAndTheIconIsAddedAnyway)
{
    SimRemoveIconResource();
    Start();

    ExpectOnlyBox(nullptr, L"Failed to load icon.", L"Error", MB_ICONERROR);
    ASSERT_EQ(SimIcons().size(), 1U);
    EXPECT_EQ(SimIcons().begin()->second.hIcon, nullptr);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
}

TEST_F(Tray, CommandsAreComparedWhole)
{
    Start();

    EXPECT_EQ(Send(WM_COMMAND, 0x10001, 0), 0);
    EXPECT_EQ(Send(WM_COMMAND, 0x10002, 0), 0);
    EXPECT_EQ(Send(WM_COMMAND, static_cast<WPARAM>(0x100000002ULL), 0), 0);
    EXPECT_EQ(Send(WM_COMMAND, 3, 0), 0);
    EXPECT_EQ(Send(WM_COMMAND, 0, ID_TRAY_PAUSE), 0);
    EXPECT_FALSE(g_paused);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_NE(HiddenWindow(), nullptr);

    EXPECT_EQ(Send(WM_COMMAND, ID_TRAY_PAUSE, 0x7777), 0);
    EXPECT_TRUE(g_paused);
    EXPECT_EQ(SimWindowState(primary).alpha, 255);
}

TEST_F(Tray, IconCallbacksAreComparedWhole)
{
    Start();
    const UINT ignored[] = {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK,
                            WM_MOUSEMOVE,   WM_CONTEXTMENU,   0x0400,         0x0000};
    for (UINT mouse : ignored) {
        EXPECT_EQ(Send(WM_TRAYICON, TRAY_ICON_ID, mouse), 0);
    }
    EXPECT_EQ(Send(WM_TRAYICON, TRAY_ICON_ID, 0x10202), 0);
    EXPECT_EQ(Send(WM_TRAYICON, TRAY_ICON_ID, 0x10205), 0);
    EXPECT_EQ(Send(WM_TRAYICON, TRAY_ICON_ID, static_cast<LPARAM>(0x100000202LL)), 0);
    EXPECT_EQ(Send(WM_TRAYICON, WM_LBUTTONUP, 0), 0) << "only lParam is looked at";

    EXPECT_TRUE(SimBoxes().empty());
    EXPECT_TRUE(SimShownMenus().empty());
    EXPECT_TRUE(SimCallsNamed("DefWindowProcW").size() == 2U) << "only the two creation messages";
}

TEST_F(Tray, ALeftClickShowsTheBoxOwnedByTheWindowAndChangesNothing)
{
    Start();

    ASSERT_TRUE(SimClickIcon(WM_LBUTTONUP));
    RunLoopFor(500);

    ExpectOnlyBox(HiddenWindow(), L"Left Click on Tray Icon!", L"Hushpane", MB_OK);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_FALSE(g_paused);
}

TEST_F(Tray, OtherMessagesGoToDefWindowProcWithTheirResult)
{
    Start();

    EXPECT_EQ(Send(WM_NCCREATE, 0, 0), TRUE);
    EXPECT_EQ(Send(WM_USER + 2, 5, 6), 0);
    const auto defaults = SimCallsNamed("DefWindowProcW");
    EXPECT_EQ(defaults.back().first, WM_USER + 2);
}

TEST_F(Tray, CloseIsRefusedSoTheIconAndWindowStay)
{
    Start();

    EXPECT_EQ(Send(WM_CLOSE, 0, 0), 0);
    SimPost(HiddenWindow(), WM_CLOSE, 0, 0);
    SimSend(HiddenWindow(), WM_CLOSE, 0, 0);
    RunLoopFor(1000);

    EXPECT_NE(HiddenWindow(), nullptr);
    EXPECT_EQ(SimIcons().size(), 1U);
    EXPECT_FALSE(SimQuitPosted());
    EXPECT_TRUE(SimCallsNamed("DestroyWindow").empty());
}

TEST_F(Tray, TheMenuIsBuiltAtTheCursorWithTheWindowInFrontAndDestroyedAfter)
{
    Start();
    SimSetCursor(1000, 740);

    RightClickAndChoose(0);

    ASSERT_EQ(SimShownMenus().size(), 1U);
    const SimShownMenu& menu = SimShownMenus()[0];
    ASSERT_EQ(menu.items.size(), 2U);
    EXPECT_EQ(menu.items[0].id, 1U);
    EXPECT_EQ(menu.items[0].text, L"Pause");
    EXPECT_EQ(menu.items[0].flags, static_cast<UINT>(MF_STRING));
    EXPECT_EQ(menu.items[1].id, 2U);
    EXPECT_EQ(menu.items[1].text, L"Exit");
    EXPECT_EQ(menu.items[1].flags, static_cast<UINT>(MF_STRING));
    EXPECT_EQ(menu.x, 1000);
    EXPECT_EQ(menu.y, 740);
    EXPECT_EQ(menu.flags, static_cast<UINT>(TPM_RIGHTBUTTON));
    EXPECT_EQ(menu.owner, HiddenWindow());
    EXPECT_EQ(menu.foreground, HiddenWindow());
    EXPECT_EQ(SimMenusNotDestroyed(), 0);
}

TEST_F(Tray, DismissingTheMenuChangesNothing)
{
    Start();

    RightClickAndChoose(0);

    EXPECT_TRUE(SimPostedMessages().empty());
    EXPECT_TRUE(SimCallsNamed("DispatchMessageW").empty());
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_FALSE(g_paused);
}

TEST_F(Tray, PauseTwiceShowsThenHidesAndTheMenuIsRebuiltWithTheSameLabels)
{
    HWND secondary = SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    Start(2);

    RightClickAndChoose(ID_TRAY_PAUSE);
    EXPECT_EQ(SimWindowState(primary).alpha, 255);
    EXPECT_EQ(SimWindowState(secondary).alpha, 255);
    EXPECT_TRUE(g_paused);
    const DWORD chosenAt = SimCallsNamed("TrackPopupMenu").back().time;
    EXPECT_LE(AlphaTimes(primary, 255).back() - chosenAt, 500U) << "within one poll of the choice";

    RightClickAndChoose(ID_TRAY_PAUSE);
    EXPECT_EQ(SimWindowState(primary).alpha, 0);
    EXPECT_EQ(SimWindowState(secondary).alpha, 0);
    EXPECT_FALSE(g_paused);

    ASSERT_EQ(SimShownMenus().size(), 2U);
    EXPECT_NE(SimShownMenus()[0].menu, SimShownMenus()[1].menu);
    EXPECT_EQ(SimShownMenus()[1].items[0].text, L"Pause") << "the label never changes";
    EXPECT_EQ(SimCallsNamed("CreatePopupMenu").size(), 2U);
    EXPECT_EQ(SimMenusNotDestroyed(), 0);
}

// Exit ends the process: each case runs in a child process, and an at-exit
// handler reports what the desktop looks like once the program has gone.
void ReportDesktopAtExit()
{
    std::string report = "icons=" + std::to_string(SimIcons().size());
    report += SimFindOurWindow(L"TrayIconApp") == nullptr ? " window=destroyed" : " window=alive";
    report += SimQuitPosted() ? " quit=posted" : " quit=none";
    report += " after-menu:";
    const auto& calls = SimCalls();
    auto menu = std::find_if(calls.rbegin(), calls.rend(), [](const SimCall& c) { return c.name == "TrackPopupMenu"; });
    for (auto call = menu.base(); call != calls.end(); ++call) {
        if (call->name == "DestroyWindow" || call->name == "PostQuitMessage") {
            report += " " + call->name;
        } else if (call->name == "Shell_NotifyIconW") {
            report += call->first == NIM_DELETE ? " NIM_DELETE" : " NIM_other";
        } else if (call->name == "SetLayeredWindowAttributes") {
            report += " alpha" + std::to_string(call->first);
        }
    }
    report += " final:";
    for (const wchar_t* className : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"}) {
        for (HWND found = FindWindowW(className, nullptr); found != nullptr;
             found = FindWindowExW(nullptr, found, className, nullptr)) {
            report += " " + std::to_string(SimWindowState(found).alpha);
        }
    }
    std::fprintf(stderr, "%s\n", report.c_str());
}

struct ExitCase {
    const char* name;
    int monitors;
    int pauses;
    bool peekAfterPausing;
    const char* report;
};

void PrintTo(const ExitCase& exitCase, std::ostream* out)
{
    *out << exitCase.name;
}

class Exit : public Tray, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(Exit, RemovesTheIconThenRestoresAndEndsWithStatusOne)
{
    const ExitCase& exitCase = GetParam();
    if (exitCase.monitors > 1) {
        SimAddShellWindow(L"Shell_SecondaryTrayWnd");
    }
    Start(exitCase.monitors);
    auto exitFromTheMenu = [&exitCase] {
        std::atexit(ReportDesktopAtExit);
        for (int i = 0; i < exitCase.pauses; ++i) {
            TogglePause();
        }
        if (exitCase.peekAfterPausing) {
            SimStopAt(SimNow() + PEEK_DURATION_MS + 1);
            PeekTaskbars();
        }
        RightClickAndChoose(ID_TRAY_EXIT);
        std::fprintf(stderr, "the program did not exit\n");
        std::_Exit(99);
    };
    EXPECT_EXIT(exitFromTheMenu(), ::testing::ExitedWithCode(1), exitCase.report);
}

INSTANTIATE_TEST_SUITE_P(
    States, Exit,
    ::testing::Values(
        ExitCase{"Hidden", 1, 0, false,
                 "icons=0 window=destroyed quit=posted after-menu: DestroyWindow NIM_DELETE PostQuitMessage "
                 "alpha255 final: 255\n"},
        ExitCase{"Paused", 1, 1, false,
                 "icons=0 window=destroyed quit=posted after-menu: DestroyWindow NIM_DELETE PostQuitMessage "
                 "alpha255 final: 255\n"},
        ExitCase{"HiddenFlagged", 1, 1, true,
                 "icons=0 window=destroyed quit=posted after-menu: DestroyWindow NIM_DELETE PostQuitMessage "
                 "alpha255 final: 255\n"},
        ExitCase{"PausedTwiceOnTwoMonitors", 2, 2, false,
                 "icons=0 window=destroyed quit=posted after-menu: DestroyWindow NIM_DELETE PostQuitMessage "
                 "alpha255 alpha255 final: 255 255\n"}),
    [](const ::testing::TestParamInfo<ExitCase>& param) { return std::string(param.param.name); });

}  // namespace
