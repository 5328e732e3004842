// What hushpane-check.exe decides from what it reads: where it clicks a menu
// item at any display scale, and how it puts each taskbar back.
#include "check/readout.h"

#include <gtest/gtest.h>

namespace {

// A menu of two items made by a DPI-unaware program, as a per-monitor-aware
// caller sees it at `scale` percent: its window rectangle in physical pixels
// (GetWindowRect, the one rectangle Windows scales for such a caller). The
// frame (with Windows 11's padding) is as thick at the top as at the bottom.
constexpr LONG ITEM_HEIGHT = 20;  // unscaled
constexpr LONG ITEM_WIDTH = 94;
constexpr LONG FRAME = 3;
constexpr POINT ORIGIN = {1600, 900};

LONG Scaled(LONG length, int scale)
{
    return length * scale / 100;
}

TEST(MenuRows, EachRowOfTheWindowRectangleHasItsMiddleInsideItsItemAtAnyScale)
{
    for (int scale = 100; scale <= 350; scale += 25) {
        const RECT window = {ORIGIN.x, ORIGIN.y, ORIGIN.x + Scaled(2 * FRAME + ITEM_WIDTH, scale),
                             ORIGIN.y + Scaled(2 * FRAME + 2 * ITEM_HEIGHT, scale)};
        for (int item = 0; item < 2; ++item) {
            const POINT middle = Middle(SplitRow(window, item, 2));
            EXPECT_GE(middle.y, ORIGIN.y + Scaled(FRAME + item * ITEM_HEIGHT, scale)) << item << " at " << scale;
            EXPECT_LT(middle.y, ORIGIN.y + Scaled(FRAME + (item + 1) * ITEM_HEIGHT, scale)) << item << " at " << scale;
            EXPECT_GT(middle.x, ORIGIN.x + Scaled(FRAME, scale));
        }
    }
}

HWND Taskbar()
{
    static int window;
    return reinterpret_cast<HWND>(&window);
}

constexpr DWORD COLOUR_KEY = 0x1;  // LWA_COLORKEY

// A taskbar read with those attributes; alpha -1 for none set.
TaskbarState Read(bool layered, int alpha, DWORD flags = LWA_ALPHA)
{
    const LONG_PTR style = 0x80 | (layered ? WS_EX_LAYERED : 0);
    return {Taskbar(), style, true, layered, alpha >= 0, static_cast<BYTE>(alpha < 0 ? 0 : alpha), flags, 0};
}

struct Row {
    const char* what;
    bool recorded;
    TaskbarState before;
    TaskbarState now;
    PutBackAction wanted;
};

TEST(PutBack, EachTaskbarAsItWasButNeverHidden)
{
    const TaskbarState gone = {};
    const Row rows[] = {
        {"not layered before, hidden now: opaque, then not layered and redrawn",
         true,
         Read(false, -1, 0),
         Read(true, 0),
         {true, 0, 255, LWA_ALPHA, true, 0x80, false}},
        {"not layered before, left layered at 255 by Exit: not layered and redrawn",
         true,
         Read(false, -1, 0),
         Read(true, 255),
         {false, 0, 255, LWA_ALPHA, true, 0x80, false}},
        {"not layered before or now: nothing", true, Read(false, -1, 0), Read(false, -1, 0), {}},
        {"layered at 200 before, hidden now: 200 again",
         true,
         Read(true, 200),
         Read(true, 0),
         {true, 0, 200, LWA_ALPHA, false, 0, false}},
        {"layered at 200 before and now: nothing", true, Read(true, 200), Read(true, 200), {}},
        {"hidden before (a Hushpane ended from outside): shown, never hidden again",
         true,
         Read(true, 0),
         Read(true, 0),
         {true, 0, 255, LWA_ALPHA, false, 0, false}},
        {"layered with no alpha before, which draws nothing: shown",
         true,
         Read(true, -1, 0),
         Read(true, 0),
         {true, 0, 255, LWA_ALPHA, false, 0, false}},
        {"gone: nothing", true, Read(false, -1, 0), gone, {}},
        {"made during the run and hidden: shown",
         false,
         gone,
         Read(true, 0),
         {true, 0, 255, LWA_ALPHA, false, 0, false}},
        {"made during the run, not layered: nothing", false, gone, Read(false, -1, 0), {}},
        {"a colour key alone, its unused alpha 0: drawn, so nothing",
         true,
         Read(true, 0, COLOUR_KEY),
         Read(true, 0, COLOUR_KEY),
         {}},
        {"made during the run with a colour key alone: drawn, so nothing", false, gone, Read(true, 0, COLOUR_KEY), {}},
        {"an alpha read before the run that cannot be read now: that alpha again",
         true,
         Read(true, 200),
         Read(true, -1, 0),
         {true, 0, 200, LWA_ALPHA, false, 0, false}},
        {"layered, its attributes unreadable before the run and now: untouched",
         true,
         Read(true, -1, 0),
         Read(true, -1, 0),
         {}},
    };
    for (const Row& row : rows) {
        const PutBackAction got = DecidePutBack(row.recorded ? &row.before : nullptr, row.now);
        const PutBackAction& wanted = row.wanted;
        EXPECT_EQ(got.setAttributes, wanted.setAttributes) << row.what;
        if (wanted.setAttributes) {
            EXPECT_EQ(got.alpha, wanted.alpha) << row.what;
            EXPECT_EQ(got.flags, wanted.flags) << row.what;
        }
        EXPECT_EQ(got.setStyle, wanted.setStyle) << row.what;
        if (wanted.setStyle) {
            EXPECT_EQ(got.exStyle, wanted.exStyle) << row.what;
        }
        EXPECT_EQ(got.show, wanted.show) << row.what;
    }
}

TEST(PutBack, AColourKeyAndAWindowHiddenFromViewComeBackToo)
{
    TaskbarState keyed = Read(true, 180, LWA_ALPHA | COLOUR_KEY);
    keyed.key = 0x00FF00FF;
    const PutBackAction action = DecidePutBack(&keyed, Read(true, 255));
    EXPECT_TRUE(action.setAttributes);
    EXPECT_EQ(action.key, keyed.key);
    EXPECT_EQ(action.alpha, 180);
    EXPECT_EQ(action.flags, LWA_ALPHA | COLOUR_KEY);

    const TaskbarState shown = Read(false, -1, 0);
    TaskbarState hiddenFromView = shown;
    hiddenFromView.visible = false;
    EXPECT_TRUE(DecidePutBack(&shown, hiddenFromView).show) << "visible before, not now: shown";
    EXPECT_FALSE(DecidePutBack(&hiddenFromView, hiddenFromView).show) << "not visible before either: left so";
}

// A gesture that was not made: Hushpane's own window in its way is a finding about Hushpane;
// anything else, nothing included, is the desktop's doing, even where no process is known.
TEST(Verdicts, OnlyHushpanesOwnWindowInTheWayFailsAGesture)
{
    EXPECT_EQ(BlockedVerdict(4242, 4242), FAIL);
    EXPECT_EQ(BlockedVerdict(77, 4242), SKIP) << "another program's window";
    EXPECT_EQ(BlockedVerdict(0, 4242), SKIP) << "nothing in the way: no input desktop";
    EXPECT_EQ(BlockedVerdict(0, 0), SKIP) << "nothing in the way, no process known";
}

// The user's touch: any button or wheel, or a move of the pointer to another place, made by
// anything but SendInput. When a window under the pointer goes away, Wine moves the pointer,
// not injected, to where the X server has it: where the user left it, SendInput or not.
TEST(Touch, AMoveToWhereThePointerIsOrWhereTheUserLeftItIsNoTouch)
{
    const POINT pointer = {500, 400};
    const POINT home = {300, 200};
    auto moveTo = [&](POINT at, bool injected) { return IsTouch(WM_MOUSEMOVE, injected, at, pointer, home); };
    EXPECT_FALSE(moveTo(pointer, false)) << "where the pointer is";
    EXPECT_FALSE(moveTo({pointer.x + TOUCH_SLOP_PX - 1, pointer.y}, false)) << "within the slop";
    EXPECT_FALSE(moveTo(home, false)) << "where the user left it";
    EXPECT_TRUE(moveTo({pointer.x, pointer.y - TOUCH_SLOP_PX}, false)) << "a few pixels up";
    EXPECT_TRUE(moveTo({pointer.x + 150, pointer.y}, false)) << "a hand on the mouse";
    EXPECT_FALSE(moveTo({pointer.x + 150, pointer.y}, true)) << "the check's own move";
    EXPECT_TRUE(IsTouch(WM_LBUTTONDOWN, false, pointer, pointer, pointer)) << "a button where the pointer is";
    EXPECT_FALSE(IsTouch(WM_LBUTTONDOWN, true, pointer, pointer, pointer)) << "the check's own click";
}

}  // namespace
