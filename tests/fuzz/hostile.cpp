// hphostile.exe SEED COUNT: another program on the desktop throwing seeded
// random messages at a running Hushpane. COUNT messages are sent to its
// hidden window (they reach the window procedure while the program polls),
// a few dozen are posted to the window and to its thread. Values that are
// real commands (WM_COMMAND 1 or 2, a tray click of exactly WM_LBUTTONUP or
// WM_RBUTTONUP, hot key 1) are never produced: everything else must change
// nothing. Prints what it sent, by kind.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr UINT WM_TRAYICON = WM_USER + 1;

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    std::uint64_t Any() { return random_(); }
    std::uint64_t Below(std::uint64_t bound) { return random_() % bound; }

    // A value whose low word is `low` but whose whole value is not.
    std::uint64_t WithLowWord(std::uint64_t low)
    {
        std::uint64_t high = 0;
        while (high == 0) {
            high = Any() & ~0xFFFFULL;
            if (Below(2) == 0) {
                high &= 0xFFFF0000ULL;  // only the second word set, as a packed 32-bit value would be
            }
        }
        return high | low;
    }

    Message Next(int* kind)
    {
        static const UINT mouse[] = {WM_MOUSEMOVE,     WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                                     WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MBUTTONUP,     WM_CONTEXTMENU,
                                     WM_USER,          WM_USER + 1,    WM_USER + 2,      WM_USER + 5};
        *kind = static_cast<int>(Below(8));
        switch (*kind) {
        case 0:  // a command whose low word is Pause or Exit
            return {WM_COMMAND, static_cast<WPARAM>(WithLowWord(1 + Below(2))), static_cast<LPARAM>(Any())};
        case 1: {  // any other command
            WPARAM command = static_cast<WPARAM>(Any() & (Below(2) ? 0xFFFF : ~0ULL));
            if (command == 1 || command == 2) {
                command += 2;
            }
            return {WM_COMMAND, command, static_cast<LPARAM>(Any())};
        }
        case 2:  // a tray callback whose low word is a button release
            return {WM_TRAYICON, static_cast<WPARAM>(Any()),
                    static_cast<LPARAM>(WithLowWord(Below(2) ? WM_LBUTTONUP : WM_RBUTTONUP))};
        case 3:  // a tray callback with another mouse or notification message
            return {WM_TRAYICON, static_cast<WPARAM>(Below(3)), static_cast<LPARAM>(mouse[Below(12)])};
        case 4: {  // a hot key that is not ours
            WPARAM id = static_cast<WPARAM>(Any() & (Below(2) ? 0xFF : ~0ULL));
            if (id == 1) {
                id = 0;
            }
            return {WM_HOTKEY, id, static_cast<LPARAM>(MAKELPARAM(MOD_CONTROL, '0'))};
        }
        case 5:
            return {Below(2) ? static_cast<UINT>(WM_QUIT) : static_cast<UINT>(WM_CLOSE), static_cast<WPARAM>(Any()),
                    static_cast<LPARAM>(Any())};
        default: {  // private ranges, WM_USER..0x7FFF and WM_APP..0xBFFF
            UINT message = static_cast<UINT>(Below(2) ? WM_USER + Below(0x7C00) : WM_APP + Below(0x4000));
            LPARAM lParam = static_cast<LPARAM>(Any());
            if (message == WM_TRAYICON && (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP)) {
                lParam = WM_MOUSEMOVE;
            }
            return {message, static_cast<WPARAM>(Any()), lParam};
        }
        }
    }

private:
    std::mt19937_64 random_;
};

}  // namespace

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::printf("usage: hphostile SEED SENT POSTED\n");
        return 2;
    }
    const auto seed = static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 0));
    const unsigned long sentCount = std::wcstoul(argv[2], nullptr, 0);
    const unsigned long postedCount = std::wcstoul(argv[3], nullptr, 0);
    HWND hidden = FindWindowExW(HWND_MESSAGE, nullptr, L"TrayIconApp", nullptr);
    if (hidden == nullptr) {
        std::printf("seed=%u hidden=none\n", seed);
        return 1;
    }
    const DWORD thread = GetWindowThreadProcessId(hidden, nullptr);
    Generator generator(seed);
    unsigned long kinds[8] = {};
    unsigned long refused = 0;

    for (unsigned long i = 0; i < sentCount; ++i) {
        int kind = 0;
        const Message m = generator.Next(&kind);
        ++kinds[kind];
        refused += SendNotifyMessageW(hidden, m.message, m.wParam, m.lParam) ? 0UL : 1UL;
    }
    for (unsigned long i = 0; i < postedCount; ++i) {
        int kind = 0;
        const Message m = generator.Next(&kind);
        ++kinds[kind];
        const BOOL posted = generator.Below(2) ? PostMessageW(hidden, m.message, m.wParam, m.lParam)
                                               : PostThreadMessageW(thread, m.message, m.wParam, m.lParam);
        refused += posted ? 0UL : 1UL;
    }
    // Sent messages are handled in order: when this one is answered, all the
    // others have been through the window procedure.
    DWORD_PTR result = 0;
    const LRESULT answered = SendMessageTimeoutW(hidden, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);

    std::printf("seed=%u sent=%lu posted=%lu refused=%lu answered=%d kinds=", seed, sentCount, postedCount, refused,
                answered != 0 ? 1 : 0);
    for (unsigned long count : kinds) {
        std::printf("%lu,", count);
    }
    std::printf("\n");
    return answered != 0 && refused == 0 ? 0 : 1;
}
