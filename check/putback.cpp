#include "check/check.h"

#include <algorithm>

static void Apply(HWND window, const PutBackAction& action)
{
    if (action.setAttributes) {
        SetLayeredWindowAttributes(window, action.key, action.alpha, action.flags);
    }
    if (action.setStyle) {
        SetWindowLongPtrW(window, GWL_EXSTYLE, action.exStyle);
        // A window that is no longer layered is painted again only when asked to.
        RedrawWindow(window, nullptr, nullptr,
                     RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
    }
    if (action.show) {
        ShowWindow(window, SW_SHOWNA);
    }
}

int PutTaskbarsBack(bool apply)
{
    int needed = 0;
    auto putBack = [&](HWND window, const TaskbarState* before) {
        const PutBackAction action = DecidePutBack(before, ReadTaskbar(window));
        needed += action.setAttributes || action.setStyle || action.show;
        if (apply) {
            Apply(window, action);
        }
    };
    for (int i = 0; i < g_taskbarCount; ++i) {
        putBack(g_before[i].window, &g_before[i]);
    }
    HWND now[MAX_TASKBARS];  // and those the shell made during the run
    const int count = FindTaskbars(now, MAX_TASKBARS);
    for (int i = 0; i < count; ++i) {
        auto same = [&](const TaskbarState& before) { return before.window == now[i]; };
        if (std::none_of(&g_before[0], &g_before[g_taskbarCount], same)) {
            putBack(now[i], nullptr);
        }
    }
    return needed;
}

void PutBack()
{
    EndCopies();
    const int changed = PutTaskbarsBack(true);
    Note("after the run: " + Said(ReadTaskbars()) +
         Format("; the check put %d taskbar(s) back as before the run", changed));
    CloseOwnWindows();
}
