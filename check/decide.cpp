#include "check/readout.h"

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
    action.show = before != nullptr && before->visible && !now.visible;
    return action;
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
