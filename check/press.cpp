// Presses only on what they were aimed at. Toasts, the notification centre,
// Start, search and Alt+Tab lie above every top-most window, a menu may have
// closed, a mouse may have been nudged: so after the pointer has moved, the
// check looks at what lies under it, and presses only on the window it meant.
#include "check/check.h"

const char DESKTOP_STOPPED[] = "the desktop, not Hushpane, stopped this check";

HWND TopLevelAt(POINT point)
{
    return GetAncestor(WindowFromPoint(point), GA_ROOT);
}

std::string BlockedInput()
{
    std::string why =
        Format("the input was blocked: SendInput took fewer events than it was given (error %lu)", g_inputError);
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) {
        return why + Format("; there is no input desktop now (error %lu): the workstation is locked, or the "
                            "secure desktop (a UAC prompt, Ctrl+Alt+Del) is shown",
                            GetLastError());
    }
    CloseDesktop(input);
    return why;
}

PressOutcome PressOn(HWND aimed, const char* aimedName, POINT point, ULONGLONG* pressed, std::string* detail)
{
    *detail += InputDropped();
    POINT was = {};
    GetCursorPos(&was);
    if (!MoveMouse(point)) {
        *detail += ", not pressed: " + BlockedInput();
        return PRESS_BLOCKED;
    }
    POINT at = {};
    GetCursorPos(&at);
    // Absolute mouse positions are rounded to the pixel either way.
    const bool there = at.x - point.x <= 1 && point.x - at.x <= 1 && at.y - point.y <= 1 && point.y - at.y <= 1;
    const bool onTarget = there && TopLevelAt(at) == aimed;
    const bool sent = !onTarget || PressLeftButton();
    *pressed = GetTickCount64();
    MoveMouse(was);
    POINT back = {};
    GetCursorPos(&back);
    if (back.x != was.x || back.y != was.y) {
        MoveMouse(was);  // Wine drops the first move after a click
    }
    if (!there) {
        *detail += Format(", not pressed: the pointer went to %s instead (another program moves or holds it)",
                          PointText(at).c_str());
        return PRESS_REFUSED;
    }
    if (!onTarget) {
        *detail += Format(", not pressed: there lies %s, not %s", WindowText(TopLevelAt(at)).c_str(), aimedName);
        return PRESS_REFUSED;
    }
    if (!sent) {
        *detail += ", but " + BlockedInput();
        return PRESS_BLOCKED;
    }
    return PRESS_MADE;
}
