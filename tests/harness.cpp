#include "tests/harness.h"

#include "app/app.h"
#include "taskbar/taskbar.h"
#include "tray/tray.h"

namespace {

void ClearProgramState()
{
    g_monitorCount = 0;
    g_primaryTaskbar = nullptr;
    g_taskbars.clear();
    g_paused = false;
    g_trayIcon = NOTIFYICONDATAW();
}

}  // namespace

void Desktop::SetUp()
{
    SimReset();
    ClearProgramState();
}

void Desktop::ResetProgram()
{
    ClearProgramState();
    g_primaryTaskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
}

int Desktop::RunHushpane(DWORD stopAt)
{
    ResetProgram();
    SimStopAt(stopAt);
    try {
        return wWinMain(Instance(), nullptr, nullptr, 0);
    } catch (const SimLoopEnd&) {
        return STILL_RUNNING;
    }
}

void Desktop::RunLoopFor(DWORD milliseconds)
{
    SimStopAt(SimNow() + milliseconds);
    EXPECT_THROW(RunMessageLoop(), SimLoopEnd);
}

void Desktop::RightClickAndChoose(UINT_PTR item)
{
    SimScriptMenuChoice(item);
    ASSERT_TRUE(SimClickIcon(WM_RBUTTONUP));
    RunLoopFor(1000);
}

HINSTANCE Desktop::Instance()
{
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));
}

HWND Desktop::HiddenWindow()
{
    return SimFindOurWindow(L"TrayIconApp");
}

std::vector<DWORD> AlphaTimes(HWND window, int alpha)
{
    std::vector<DWORD> times;
    for (const SimCall& call : SimCallsNamed("SetLayeredWindowAttributes")) {
        if (call.window == window && call.first == alpha) {
            times.push_back(call.time);
        }
    }
    return times;
}

std::vector<std::string> CallNames()
{
    std::vector<std::string> names;
    for (const SimCall& call : SimCalls()) {
        if (call.name != "PeekMessageW" && call.name != "Sleep") {
            names.push_back(call.name);
        }
    }
    return names;
}

void ExpectOnlyBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type)
{
    ASSERT_EQ(SimBoxes().size(), 1U);
    const SimBox& box = SimBoxes()[0];
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.type, type);
}
