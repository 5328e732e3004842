// Toasts, Start and Alt+Tab lie above every top-most window, and a menu may close: a click
// goes only where its window lies, a key only to a known foreground (else it could cancel a
// user's dialog).
#include "check/check.h"

#include <algorithm>
#include <cstdlib>

constexpr DWORD MOVE_SETTLE_MS = 50;    // for the pointer to get where it was sent
constexpr DWORD CLICK_SETTLE_MS = 100;  // for a click to be taken before the pointer leaves

std::string NoInputDesktop()
{
    // Input reaches only the input desktop, which a lock or the secure desktop takes.
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) {
        return Format("there is no input desktop to press keys and click on (OpenInputDesktop "
                      "failed with error %lu): the workstation is locked, or the secure desktop "
                      "(a UAC prompt, Ctrl+Alt+Del) is shown",
                      GetLastError());
    }
    CloseDesktop(input);
    return {};
}

bool PointerAt(POINT point)
{
    POINT at = {};
    GetCursorPos(&at);
    return std::abs(at.x - point.x) <= 1 && std::abs(at.y - point.y) <= 1;
}

static INPUT Key(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Absolute positions run from 0 to 65535 across the whole virtual screen.
static INPUT Mouse(POINT point, DWORD button)
{
    const int width = std::max(GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1, 1);
    const int height = std::max(GetSystemMetrics(SM_CYVIRTUALSCREEN) - 1, 1);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(point.x - GetSystemMetrics(SM_XVIRTUALSCREEN), 65535, width);
    input.mi.dy = MulDiv(point.y - GetSystemMetrics(SM_YVIRTUALSCREEN), 65535, height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | button;
    return input;
}

static Gesture Send(INPUT* inputs, UINT count)
{
    UINT taken = 0;
    DWORD error = 0;
    const bool went = UnlessStopped([&] {
        taken = SendInput(count, inputs, sizeof(INPUT));
        error = GetLastError();
    });
    if (!went) {
        return {false, "not sent: the check was stopped", nullptr};
    }
    if (taken == count) {
        return {true, {}, nullptr};
    }
    const std::string why =
        Format("blocked: SendInput took %u of %u events (error %lu)", taken, count, error);
    return {false, Join({why, NoInputDesktop()}), nullptr};
}

static Gesture MovePointer(POINT point)
{
    INPUT move = Mouse(point, 0);
    Gesture moved = Send(&move, 1);
    Sleep(MOVE_SETTLE_MS);
    if (moved.sent && !PointerAt(point)) {  // Wine drops the first move after a click
        moved = Send(&move, 1);
        Sleep(MOVE_SETTLE_MS);
    }
    if (!moved.sent) {
        moved.why = "a pointer move " + moved.why;
    }
    return moved;
}

Gesture ClickOn(HWND aimed, const char* aimedName, POINT point, POINT rest)
{
    Gesture click = MovePointer(point);
    if (!click.sent) {
        return click;
    }
    POINT at = {};
    GetCursorPos(&at);
    HWND under = TopLevelAt(point);
    if (!PointerAt(point)) {
        click = {false,
                 "not sent: the pointer went to " + PointText(at) +
                     " instead (another program moves it)",
                 nullptr};
    } else if (under != aimed) {
        click = {false, "not sent: there lies " + WindowText(under) + ", not " + aimedName, under};
    } else {
        INPUT inputs[] = {Mouse(point, 0), Mouse(point, MOUSEEVENTF_LEFTDOWN),
                          Mouse(point, MOUSEEVENTF_LEFTUP)};
        click = Send(inputs, 3);
    }
    Sleep(CLICK_SETTLE_MS);
    MovePointer(rest);
    return click;
}

Gesture PressKeys(std::initializer_list<WORD> keys, HWND ownWindow, DWORD menuThread)
{
    bool inMenu = false;
    ThreadHoldsForeground(menuThread, &inMenu);
    HWND foreground = GetForegroundWindow();
    if (foreground != ownWindow && !inMenu) {
        return {false,
                "not sent: the foreground is " + WindowText(foreground) + ", not the " +
                    (menuThread == 0 ? "check's window" : "check's window or the menu"),
                foreground};
    }
    INPUT chord[4] = {};  // each key down in order, then each up in turn from the last
    UINT count = 0;
    for (const WORD key : keys) {
        chord[count++] = Key(key, false);
    }
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
        chord[count++] = Key(*key, true);
    }
    return Send(chord, count);
}
