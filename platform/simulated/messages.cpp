// The thread's message queue, the hot key and the virtual clock behind Sleep.
#include "platform/simulated/state.h"

#include <algorithm>
#include <stdexcept>

namespace {

LRESULT Deliver(const SimMessage& message)
{
    SimWindow* window = SimLookup(message.hwnd);
    if (window == nullptr || window->proc == nullptr) {
        return 0;
    }
    return window->proc(message.hwnd, message.message, message.wParam, message.lParam);
}

}  // namespace

DWORD SimNow()
{
    return Sim().now;
}

void SimAt(DWORD time, std::function<void()> action)
{
    auto& events = Sim().events;
    auto later = std::upper_bound(events.begin(), events.end(), time,
                                  [](DWORD t, const SimEvent& event) { return t < event.time; });
    events.insert(later, SimEvent{time, std::move(action)});
}

void SimStopAt(DWORD time)
{
    Sim().stopAt = time;
}

void SimRunDueEvents()
{
    auto& events = Sim().events;
    while (!events.empty() && events.front().time <= Sim().now) {
        std::function<void()> action = std::move(events.front().action);
        events.erase(events.begin());
        action();
    }
}

void WINAPI Sleep(DWORD milliseconds)
{
    SimLog("Sleep", nullptr, milliseconds);
    const DWORD until = Sim().now + milliseconds;
    while (!Sim().events.empty() && Sim().events.front().time <= until) {
        Sim().now = std::max(Sim().now, Sim().events.front().time);
        SimRunDueEvents();
    }
    Sim().now = until;
    if (Sim().stopAt && Sim().now >= *Sim().stopAt) {
        throw SimLoopEnd{Sim().now};
    }
}

void SimTakeHotKey(UINT modifiers, UINT virtualKey)
{
    Sim().hotKeysTakenElsewhere.emplace_back(modifiers, virtualKey);
}

bool SimHotKeyRegistered()
{
    return Sim().hotKey.registered;
}

bool SimPressHotKey(UINT modifiers, UINT virtualKey)
{
    const SimHotKey& hotKey = Sim().hotKey;
    if (!hotKey.registered || hotKey.modifiers != modifiers || hotKey.virtualKey != virtualKey) {
        return false;
    }
    const auto keys = static_cast<LPARAM>(modifiers | virtualKey << 16);
    Sim().posted.push_back({nullptr, WM_HOTKEY, static_cast<WPARAM>(hotKey.id), keys});
    return true;
}

void SimPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Sim().posted.push_back({window, message, wParam, lParam});
}

void SimSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Sim().sent.push_back({window, message, wParam, lParam});
}

const std::deque<SimMessage>& SimPostedMessages()
{
    return Sim().posted;
}

bool SimQuitPosted()
{
    return Sim().quitPosted;
}

BOOL WINAPI RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey)
{
    SimLog("RegisterHotKey", window, id, modifiers, virtualKey);
    const auto keys = std::make_pair(modifiers & ~static_cast<UINT>(MOD_NOREPEAT), virtualKey);
    const auto& taken = Sim().hotKeysTakenElsewhere;
    if (Sim().hotKey.registered || std::find(taken.begin(), taken.end(), keys) != taken.end()) {
        SimFail(ERROR_HOTKEY_ALREADY_REGISTERED);
        return FALSE;
    }
    Sim().hotKey = SimHotKey{true, id, keys.first, keys.second};
    return TRUE;
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    SimLog("PeekMessageW", window, removeFlags);
    if (window != nullptr || filterMin != 0 || filterMax != 0) {
        throw std::logic_error("the simulated desktop models only unfiltered PeekMessageW");
    }
    SimRunDueEvents();
    // Sent messages are delivered to their window procedure first, inside the call.
    while (!Sim().sent.empty()) {
        const SimMessage sent = Sim().sent.front();
        Sim().sent.pop_front();
        Deliver(sent);
    }
    SimMessage taken = {};
    if (!Sim().posted.empty()) {
        taken = Sim().posted.front();
        if (removeFlags & PM_REMOVE) {
            Sim().posted.pop_front();
        }
    } else if (Sim().quitPosted) {
        // Like Windows, WM_QUIT comes out only once the queue is otherwise empty.
        taken = SimMessage{nullptr, WM_QUIT, 0, 0};
        if (removeFlags & PM_REMOVE) {
            Sim().quitPosted = false;
        }
    } else {
        return FALSE;
    }
    *msg = MSG{taken.hwnd, taken.message, taken.wParam, taken.lParam, Sim().now, Sim().cursor};
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* msg)
{
    SimLog("TranslateMessage", msg->hwnd, msg->message);
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* msg)
{
    SimLog("DispatchMessageW", msg->hwnd, msg->message, static_cast<LONG_PTR>(msg->wParam));
    return Deliver({msg->hwnd, msg->message, msg->wParam, msg->lParam});
}

void WINAPI PostQuitMessage(int exitCode)
{
    SimLog("PostQuitMessage", nullptr, exitCode);
    Sim().quitPosted = true;
}
