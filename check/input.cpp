// Every key and click the check makes, each gesture in one SendInput call so
// that nothing comes between its events and no kill leaves a key held. Toasts,
// Start and Alt+Tab lie above every top-most window, and a menu may close: a
// click goes only where its window lies, a key only to a known foreground.
#include "check/check.h"

#include <algorithm>
#include <cstdlib>

const char DESKTOP_STOPPED[] = "the desktop, not Hushpane, stopped this check";

static SRWLOCK g_inputLock = SRWLOCK_INIT;  // held while a gesture is sent, and to stop them

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
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(point.x - GetSystemMetrics(SM_XVIRTUALSCREEN), 65535,
                         std::max(GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1, 1));
    input.mi.dy = MulDiv(point.y - GetSystemMetrics(SM_YVIRTUALSCREEN), 65535,
                         std::max(GetSystemMetrics(SM_CYVIRTUALSCREEN) - 1, 1));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | button;
    return input;
}

// Sends a gesture unless `refusal` says why not or the check was stopped; `detail` gets `sent` or why not.
static bool Send(const std::string& refusal, INPUT* inputs, UINT count, std::string* detail, const char* sent = "")
{
    AcquireSRWLockExclusive(&g_inputLock);
    const bool stopped = g_interrupted;
    const UINT taken = stopped || !refusal.empty() ? 0 : SendInput(count, inputs, sizeof(INPUT));
    const DWORD error = GetLastError();
    ReleaseSRWLockExclusive(&g_inputLock);
    if (!refusal.empty() || stopped) {
        *detail += " not sent: " + (stopped ? std::string("the check was stopped") : refusal);
    } else if (taken != count) {
        const std::string desktop = NoInputDesktop();
        *detail += Format(" blocked: SendInput took %u of %u events (error %lu)%s", taken, count, error,
                          desktop.empty() ? "" : ("; " + desktop).c_str());
    } else {
        *detail += sent;
    }
    return refusal.empty() && !stopped && taken == count;
}

static bool At(POINT point)
{
    POINT at = {};
    GetCursorPos(&at);
    // Absolute positions are rounded to the pixel either way.
    return std::abs(at.x - point.x) <= 1 && std::abs(at.y - point.y) <= 1;
}

HWND TopLevelAt(POINT point)
{
    return GetAncestor(WindowFromPoint(point), GA_ROOT);
}

void StopInput()
{
    AcquireSRWLockExclusive(&g_inputLock);
    g_interrupted = true;
    ReleaseSRWLockExclusive(&g_inputLock);
}

bool MovePointer(POINT point, std::string* detail)
{
    INPUT move = Mouse(point, 0);
    std::string how;
    const bool moved = Send({}, &move, 1, &how);
    Sleep(50);
    if (moved && !At(point) && Send({}, &move, 1, &how)) {  // Wine drops the first move after a click
        Sleep(50);
    }
    *detail += how.empty() ? "" : "; a pointer move" + how;
    return moved;
}

bool ClickOn(HWND aimed, const char* aimedName, POINT point, std::string* detail)
{
    POINT was = {};
    GetCursorPos(&was);
    if (!MovePointer(point, detail)) {
        return false;
    }
    POINT at = {};
    GetCursorPos(&at);
    HWND under = TopLevelAt(point);
    std::string refusal;
    if (!At(point)) {
        refusal = "the pointer went to " + PointText(at) + " instead (another program moves it)";
    } else if (under != aimed) {
        refusal = "there lies " + WindowText(under) + ", not " + aimedName;
    }
    INPUT click[] = {Mouse(point, 0), Mouse(point, MOUSEEVENTF_LEFTDOWN), Mouse(point, MOUSEEVENTF_LEFTUP)};
    std::string how;
    const bool clicked = Send(refusal, click, 3, &how);
    *detail += clicked ? "" : ", the click" + how;
    Sleep(100);
    std::string back;
    MovePointer(was, &back);
    return clicked;
}

bool PressCtrl0(std::string* detail)
{
    HWND foreground = GetForegroundWindow();
    INPUT keys[] = {Key(VK_CONTROL, false), Key('0', false), Key('0', true), Key(VK_CONTROL, true)};
    *detail += "Ctrl+0";
    return Send(
        foreground == g_checkWindow ? "" : "the foreground is " + WindowText(foreground) + ", not the check's window",
        keys, 4, detail, " sent");
}

bool PressEscape(const Copy& copy, std::string* detail)
{
    bool inMenu = false;  // Hushpane's thread, the foreground thread, in its menu
    INPUT keys[] = {Key(VK_ESCAPE, false), Key(VK_ESCAPE, true)};
    *detail += "Escape (" + Foreground(copy, &inMenu) + ")";
    return Send(GetForegroundWindow() == g_checkWindow || inMenu
                    ? ""
                    : "neither the check's window nor Hushpane's menu holds the foreground",
                keys, 2, detail, " sent");
}
