// hpmenuclick.exe: opens a popup menu of its own, made as Hushpane makes its
// menu ("Pause", "Exit", from a message-only window), and clicks each item
// as hushpane-check.exe does: in the middle of the item's row of the menu
// window's rectangle. Menus open near the middle of the screen and near its
// bottom-right corner, where a notification-area menu opens up and to the
// left. One line per click; status 0 when every click chose the item it
// aimed at.
#include "check/readout.h"

#include <cstdio>

namespace {

const wchar_t* const ITEMS[] = {L"Pause", L"Exit"};
constexpr int ITEM_COUNT = 2;

// Move, down and up at the same absolute position, in one SendInput call.
void ClickAt(POINT point)
{
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(point.x, 65535, GetSystemMetrics(SM_CXVIRTUALSCREEN) - 1);
        input.mi.dy = MulDiv(point.y, 65535, GetSystemMetrics(SM_CYVIRTUALSCREEN) - 1);
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    }
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
}

struct Round {
    int item;
    POINT clicked;
};

// The other thread's part: waits for the menu, then clicks the item's row
// as the check would. A click that misses leaves the menu open, so it ends
// the run.
DWORD WINAPI ClickItem(void* data)
{
    auto* round = static_cast<Round*>(data);
    HWND menu = nullptr;
    for (DWORD waited = 0; (menu = FindVisibleWindow(L"#32768", GetCurrentProcessId())) == nullptr; waited += POLL_MS) {
        if (waited > 3000) {
            std::printf("no menu window within 3 s\n");
            ExitProcess(1);
        }
        Sleep(POLL_MS);
    }
    RECT whole = {};
    GetWindowRect(menu, &whole);
    round->clicked = Middle(SplitRow(whole, round->item, ITEM_COUNT));
    ClickAt(round->clicked);
    for (DWORD waited = 0; IsWindowVisible(menu); waited += POLL_MS) {
        if (waited > 3000) {
            std::printf("the menu stayed open after a click at %ld,%ld\n", round->clicked.x, round->clicked.y);
            ExitProcess(1);
        }
        Sleep(POLL_MS);
    }
    return 0;
}

}  // namespace

int wmain();

int wmain()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HushpaneMenuClick";
    RegisterClassW(&windowClass);
    HWND owner = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
    const POINT places[] = {{GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2},
                            {GetSystemMetrics(SM_CXSCREEN) - 10, GetSystemMetrics(SM_CYSCREEN) - 10}};
    int wrong = 0;
    for (const POINT place : places) {
        for (int item = 0; item < ITEM_COUNT; ++item) {
            HMENU menu = CreatePopupMenu();
            for (int i = 0; i < ITEM_COUNT; ++i) {
                AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(i + 1), ITEMS[i]);
            }
            Round round = {item, {}};
            HANDLE clicker = CreateThread(nullptr, 0, ClickItem, &round, 0, nullptr);
            SetForegroundWindow(owner);
            const auto chosen = static_cast<int>(
                TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, place.x, place.y, 0, owner, nullptr));
            WaitForSingleObject(clicker, INFINITE);
            CloseHandle(clicker);
            DestroyMenu(menu);
            std::printf("menu at %ld,%ld, %ls clicked at %ld,%ld: chose %d\n", place.x, place.y, ITEMS[item],
                        round.clicked.x, round.clicked.y, chosen);
            wrong += chosen == item + 1 ? 0 : 1;
        }
    }
    return wrong == 0 ? 0 : 1;
}
