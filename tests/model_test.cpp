// Seeded random sequences of user actions, run through the real loop on the
// simulated desktop and checked after every step against a small model of
// the taskbars' states: the alpha of every taskbar and the paused flag.
#include "tests/harness.h"

#include "taskbar/taskbar.h"
#include "tray/tray.h"

#include <cstdio>
#include <random>
#include <sstream>

namespace {

enum class Action { Pause, Peek, LeftClick, RightClickDismissed };

const char* Name(Action action)
{
    switch (action) {
    case Action::Pause:
        return "Pause";
    case Action::Peek:
        return "Ctrl+0";
    case Action::LeftClick:
        return "LeftClick";
    case Action::RightClickDismissed:
        return "Dismiss";
    }
    return "?";
}

struct Model {
    int alpha = 0;
    bool paused = false;

    void Apply(Action action)
    {
        if (action == Action::Pause) {
            alpha = paused ? 0 : 255;
            paused = !paused;
        } else if (action == Action::Peek) {
            alpha = 0;  // shown for the peek, then hidden whatever the flag says
        }
    }
};

class StateModel : public Desktop, public ::testing::WithParamInterface<int> {
protected:
    void StartProgram()
    {
        SimReset();
        taskbars.clear();
        taskbars.push_back(SimAddShellWindow(L"Shell_TrayWnd"));
        for (int i = 1; i < GetParam(); ++i) {
            taskbars.push_back(SimAddShellWindow(L"Shell_SecondaryTrayWnd"));
        }
        SimSetMonitorCount(GetParam());
        ASSERT_EQ(RunHushpane(500), STILL_RUNNING);
    }

    // Delivers one action as the user would, lets the loop run until it has
    // been handled, and says how the program then differs from the model
    // (empty when it does not).
    std::string Step(Action action, const Model& after)
    {
        std::string midPeek;
        switch (action) {
        case Action::Pause:
            RightClickAndChoose(ID_TRAY_PAUSE);
            break;
        case Action::Peek:
            SimPressHotKey(MOD_CONTROL, 0x30);
            SimAt(SimNow() + PEEK_DURATION_MS / 2, [this, &midPeek] {
                for (HWND taskbar : taskbars) {
                    if (SimWindowState(taskbar).alpha != 255) {
                        midPeek = "not shown during the peek";
                    }
                }
            });
            RunLoopFor(PEEK_DURATION_MS + 1000);
            break;
        case Action::LeftClick:
            SimClickIcon(WM_LBUTTONUP);
            RunLoopFor(1000);
            break;
        case Action::RightClickDismissed:
            RightClickAndChoose(0);
            break;
        }
        std::ostringstream difference;
        difference << midPeek;
        for (std::size_t i = 0; i < taskbars.size(); ++i) {
            const int alpha = SimWindowState(taskbars[i]).alpha;
            if (alpha != after.alpha) {
                difference << " taskbar " << i << " alpha " << alpha << " (model " << after.alpha << ")";
            }
        }
        if (g_paused != after.paused) {
            difference << " paused " << g_paused << " (model " << after.paused << ")";
        }
        return difference.str();
    }

    // Runs a whole sequence; returns the index of the first step after which
    // the program and the model differ, or -1.
    int FirstDifference(const std::vector<Action>& actions, std::string* difference)
    {
        StartProgram();
        Model model;
        for (std::size_t i = 0; i < actions.size(); ++i) {
            model.Apply(actions[i]);
            *difference = Step(actions[i], model);
            if (!difference->empty()) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // Drops steps one at a time while the sequence still fails.
    std::vector<Action> Shrink(std::vector<Action> actions)
    {
        std::string ignored;
        for (std::size_t i = 0; i < actions.size();) {
            std::vector<Action> shorter = actions;
            shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(i));
            if (FirstDifference(shorter, &ignored) >= 0) {
                actions = shorter;
            } else {
                ++i;
            }
        }
        return actions;
    }

    static std::vector<Action> RandomActions(unsigned seed, std::size_t count)
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> pick(0, 3);
        std::vector<Action> actions;
        for (std::size_t i = 0; i < count; ++i) {
            actions.push_back(static_cast<Action>(pick(random)));
        }
        return actions;
    }

    std::vector<HWND> taskbars;
};

TEST_P(StateModel, RandomSequencesFollowTheModelAndExitRestores)
{
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const std::vector<Action> actions = RandomActions(seed * 7919U + static_cast<unsigned>(GetParam()), 1500);
        std::string difference;
        const int first = FirstDifference(actions, &difference);
        if (first >= 0) {
            std::vector<Action> failing(actions.begin(), actions.begin() + first + 1);
            std::string shortest;
            for (Action action : Shrink(failing)) {
                shortest += std::string(Name(action)) + " ";
            }
            FAIL() << "seed " << seed << ", " << GetParam() << " monitors: after step " << first << ":" << difference
                   << "; shortest failing sequence: " << shortest;
        }
    }

    // Exit from wherever the last sequence left the program.
    auto exitNow = [] {
        RightClickAndChoose(ID_TRAY_EXIT);
        std::_Exit(99);
    };
    EXPECT_EXIT(
        {
            std::atexit([] {
                int shown = 0;
                for (HWND found = FindWindowW(nullptr, nullptr); found != nullptr;
                     found = FindWindowExW(nullptr, found, nullptr, nullptr)) {
                    shown += SimWindowState(found).alpha == 255 ? 1 : 0;
                }
                std::fprintf(stderr, "shown=%d icons=%zu\n", shown, SimIcons().size());
            });
            exitNow();
        },
        ::testing::ExitedWithCode(1), "shown=" + std::to_string(GetParam()) + " icons=0");
}

INSTANTIATE_TEST_SUITE_P(Monitors, StateModel, ::testing::Values(1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& param) { return std::to_string(param.param); });

}  // namespace
