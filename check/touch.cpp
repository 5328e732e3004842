// The user's first touch stops the check, wherever the keyboard is (Hushpane's menu or box,
// the check's window, another program's): a key pressed, a mouse button or wheel, or the
// pointer moved by anything but the check. Low-level hooks hear it, on the thread that serves
// the check's windows; each only notes the stop and returns, since a slow hook stalls every
// key of the desktop, and Windows drops a hook that is slow.
#include "check/check.h"

#include <atomic>

static POINT g_home = {};  // where the user left the pointer, as the hooks were set
static std::atomic<Millis> g_lastInput{0};
static std::string g_touch;  // how the user touched, set once, before the stop that names it

static void NoteTouch(const std::string& how)
{
    if (Stopped() == nullptr) {
        g_touch = how;
        NoteStop(g_touch.c_str());
    }
}

static std::string KeyName(DWORD key)
{
    wchar_t name[64] = {};
    const LONG scan = static_cast<LONG>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    if (GetKeyNameTextW(scan << 16, name, 64) > 0) {
        return "the key " + Utf8(name);
    }
    return Format("the key or mouse button of virtual-key code 0x%02lX", key);
}

static LRESULT CALLBACK HeardKey(int code, WPARAM message, LPARAM data)
{
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const bool injected = (key->flags & LLKHF_INJECTED) != 0;
    if (code == HC_ACTION) {
        g_lastInput = Now();
    }
    if (code == HC_ACTION && down && !injected) {
        NoteTouch(KeyName(key->vkCode) + " pressed");
    }
    return CallNextHookEx(nullptr, code, message, data);
}

static LRESULT CALLBACK HeardMouse(int code, WPARAM message, LPARAM data)
{
    const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
    POINT pointer = {};  // where it is: the event is heard before it moves the pointer
    GetCursorPos(&pointer);
    const bool injected = (mouse->flags & LLMHF_INJECTED) != 0;
    const UINT kind = static_cast<UINT>(message);
    const bool touch = IsTouch(kind, injected, mouse->pt, pointer, g_home);
    if (code == HC_ACTION && (injected || touch)) {
        g_lastInput = Now();
    }
    if (code == HC_ACTION && touch && kind == WM_MOUSEMOVE) {
        NoteTouch("the pointer moved from " + PointText(pointer) + " to " + PointText(mouse->pt));
    } else if (code == HC_ACTION && touch) {
        NoteTouch(Format("a mouse button or wheel used (message 0x%04X)", kind));
    }
    return CallNextHookEx(nullptr, code, message, data);
}

std::string HeldKey()
{
    for (DWORD key = 1; key < 0xFF; ++key) {
        if ((GetAsyncKeyState(static_cast<int>(key)) & 0x8000) != 0) {
            return KeyName(key);
        }
    }
    return {};
}

bool HookTouches()
{
    GetCursorPos(&g_home);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    return SetWindowsHookExW(WH_KEYBOARD_LL, HeardKey, instance, 0) != nullptr &&
           SetWindowsHookExW(WH_MOUSE_LL, HeardMouse, instance, 0) != nullptr;
}

Millis LastInputAt()
{
    return g_lastInput.load();
}
