// hushpane-check.exe clicks Pause and Exit at the rectangle ChooseItemRect
// picks; at any display scale that must be the item's own row.
#include "check/menurows.h"

#include <gtest/gtest.h>

namespace {

// A menu of two items made by a DPI-unaware program, as a per-monitor-aware
// caller sees it at `scale` percent: its window rectangle in physical pixels
// (GetWindowRect, the one rectangle Windows scales for such a caller), and
// what GetMenuItemRect may give for item `item`: the item's unscaled
// rectangle at the menu's physical origin. The frame (with Windows 11's
// padding) is as thick at the top as at the bottom.
constexpr LONG ITEM_HEIGHT = 20;  // unscaled
constexpr LONG ITEM_WIDTH = 94;
constexpr LONG FRAME = 3;
constexpr POINT ORIGIN = {1600, 900};

LONG Scaled(LONG length, int scale)
{
    return length * scale / 100;
}

RECT Window(int scale)
{
    return {ORIGIN.x, ORIGIN.y, ORIGIN.x + Scaled(2 * FRAME + ITEM_WIDTH, scale),
            ORIGIN.y + Scaled(2 * FRAME + 2 * ITEM_HEIGHT, scale)};
}

RECT TrueItem(int item, int scale)
{
    return {ORIGIN.x + Scaled(FRAME, scale), ORIGIN.y + Scaled(FRAME + item * ITEM_HEIGHT, scale),
            ORIGIN.x + Scaled(FRAME + ITEM_WIDTH, scale), ORIGIN.y + Scaled(FRAME + (item + 1) * ITEM_HEIGHT, scale)};
}

RECT Virtualised(int item)
{
    return {ORIGIN.x + FRAME, ORIGIN.y + FRAME + item * ITEM_HEIGHT, ORIGIN.x + FRAME + ITEM_WIDTH,
            ORIGIN.y + FRAME + (item + 1) * ITEM_HEIGHT};
}

bool Contains(const RECT& rect, POINT point)
{
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

TEST(MenuRows, AVirtualisedRectangleAboveOneHundredPercentStillClicksTheItemsOwnRow)
{
    for (const int scale : {150, 200}) {
        for (int item = 0; item < 2; ++item) {
            const RECT read = Virtualised(item);
            const RECT chosen = ChooseItemRect(&read, SplitRow(Window(scale), item, 2));
            EXPECT_TRUE(Contains(TrueItem(item, scale), Middle(chosen))) << "item " << item << " at " << scale << " %";
        }
    }
    // At 200 % the virtualised Exit lies inside the menu window but in Pause's row.
    const RECT exit = Virtualised(1);
    EXPECT_FALSE(MiddleInRow(exit, SplitRow(Window(200), 1, 2)));
    EXPECT_TRUE(Contains(TrueItem(0, 200), Middle(exit)));
}

TEST(MenuRows, EachRowOfTheWindowRectangleHasItsMiddleInsideItsItemAtAnyScale)
{
    for (int scale = 100; scale <= 350; scale += 25) {
        for (int item = 0; item < 2; ++item) {
            EXPECT_TRUE(Contains(TrueItem(item, scale), Middle(SplitRow(Window(scale), item, 2))))
                << "item " << item << " at " << scale << " %";
        }
    }
}

TEST(MenuRows, AtOneHundredPercentTheMenusOwnRectangleIsTakenAndWithoutOneTheRow)
{
    for (int item = 0; item < 2; ++item) {
        const RECT read = TrueItem(item, 100);
        const RECT row = SplitRow(Window(100), item, 2);
        const RECT chosen = ChooseItemRect(&read, row);
        EXPECT_EQ(chosen.top, read.top);
        EXPECT_EQ(chosen.bottom, read.bottom);
        EXPECT_EQ(ChooseItemRect(nullptr, row).top, row.top);
        const RECT empty = {read.left, read.top, read.left, read.top};
        EXPECT_EQ(ChooseItemRect(&empty, row).top, row.top) << "an empty rectangle is no answer";
    }
}

}  // namespace
