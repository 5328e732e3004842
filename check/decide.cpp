#include "check/readout.h"

#include <cstdlib>

bool HasAlpha(const TaskbarState& state, int alpha)
{
    return state.window != nullptr && state.layered && state.alphaKnown && state.alpha == alpha &&
           (state.flags & LWA_ALPHA) != 0;
}

// A layered window is drawn only as its attributes say, and not at all before it has
// any; without LWA_ALPHA its alpha is not used (a colour key alone hides one colour).
static bool DrawnOpaque(const TaskbarState& state)
{
    const bool alphaUsed = (state.flags & LWA_ALPHA) != 0;
    return !state.layered || (state.alphaKnown && (!alphaUsed || state.alpha == 255));
}

PutBackAction DecidePutBack(const TaskbarState* before, const TaskbarState& now)
{
    PutBackAction action = {};
    if (now.window == nullptr) {
        return action;
    }
    const bool show = before != nullptr && before->visible && !now.visible;
    // Unreadable before and unreadable now: nothing is known to have changed.
    if (before != nullptr && before->layered && !before->alphaKnown && now.layered &&
        !now.alphaKnown) {
        action.show = show;
        return action;
    }
    if (before == nullptr || !before->layered || !before->alphaKnown) {
        action = {!DrawnOpaque(now), 0, 255, LWA_ALPHA, false, 0, false};
        // Opaque first, so that a taskbar whose style cannot be changed is still seen.
        if (before != nullptr && !before->layered && now.layered) {
            action.setStyle = true;
            action.exStyle = now.exStyle & ~static_cast<LONG_PTR>(WS_EX_LAYERED);
        }
    } else {
        // Its own alpha, flags and colour key, but an alpha of 0 (a Hushpane ended from
        // outside) never again.
        const bool wasHidden = (before->flags & LWA_ALPHA) != 0 && before->alpha == 0;
        const BYTE alpha = wasHidden ? 255 : before->alpha;
        const bool same = now.alphaKnown && now.alpha == alpha && now.flags == before->flags &&
                          now.key == before->key;
        action = {!same, before->key, alpha, before->flags, false, 0, false};
    }
    action.show = show;
    return action;
}

Verdict BlockedVerdict(DWORD inTheWay, DWORD hushpane)
{
    return inTheWay != 0 && inTheWay == hushpane ? FAIL : SKIP;
}

static bool Apart(POINT a, POINT b)
{
    return std::abs(a.x - b.x) >= TOUCH_SLOP_PX || std::abs(a.y - b.y) >= TOUCH_SLOP_PX;
}

bool IsTouch(UINT message, bool injected, POINT at, POINT pointer, POINT home)
{
    return !injected && (message != WM_MOUSEMOVE || (Apart(at, pointer) && Apart(at, home)));
}

POINT Middle(const RECT& rect)
{
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

RECT SplitRow(const RECT& inside, int item, int count)
{
    const LONG height = inside.bottom - inside.top;
    RECT row = inside;
    row.top = inside.top + height * item / count;
    row.bottom = inside.top + height * (item + 1) / count;
    return row;
}
