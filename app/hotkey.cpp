#include "app/app.h"

#include <cstdio>

void RegisterPeekHotKey()
{
    // Registered for the thread, not a window: WM_HOTKEY arrives in the
    // thread's queue and is handled by the loop alone.
    if (!RegisterHotKey(nullptr, HOTKEY_ID_PEEK, PEEK_HOTKEY_MODIFIERS, PEEK_HOTKEY_KEY)) {
        // A GUI program's output is seen only when redirected; a failed write
        // changes nothing, so it is not checked.
        std::fputs("Failed to register hot key for Hushpane.\n", stdout);
        std::fflush(stdout);
    }
}
