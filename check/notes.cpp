// The system, the shell's windows, the monitors, and the integrity level: Windows drops input
// to a higher level unsaid, and an elevated check starts an elevated Hushpane, which its
// callbacks reach where the shell's clicks from Medium might not.
#include "check/check.h"

#include <shellapi.h>
#include <shellscalingapi.h>

constexpr DWORD LEVEL_UNKNOWN = 0xFFFFFFFF;

// Untrusted is 0; Low, Medium, High and System follow in steps of Low's.
static std::string LevelName(DWORD level)
{
    const char* const names[] = {"Untrusted", "Low", "Medium", "High", "System"};
    const DWORD step = SECURITY_MANDATORY_LOW_RID;
    if (level % step == 0 && level / step < 5) {
        return names[level / step];
    }
    return Format("0x%lX", level);
}

static DWORD LevelOf(DWORD pid)
{
    DWORD level = LEVEL_UNKNOWN;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    HANDLE token = nullptr;
    if (process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token)) {
        alignas(TOKEN_MANDATORY_LABEL)
            BYTE label[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof(label), &size)) {
            PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
            level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1U);
        }
        CloseHandle(token);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return level;
}

// RtlGetVersion, unlike GetVersionExW, tells the truth whatever the manifest names.
template <typename Function>
static Function FromNtdll(const char* name)
{
    FARPROC found = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

using WineVersion = const char*(CDECL*)();

bool UnderWine()
{
    return FromNtdll<WineVersion>("wine_get_version") != nullptr;
}

std::string IntegrityRefusal()
{
    const DWORD explorer = WindowProcess(FindWindowW(L"Shell_TrayWnd", nullptr));
    const DWORD own = LevelOf(GetCurrentProcessId());
    const DWORD shell = LevelOf(explorer);
    if (own == LEVEL_UNKNOWN || shell == LEVEL_UNKNOWN || own == shell) {
        return {};
    }
    const std::string levels = "the check runs at " + LevelName(own) +
                               " integrity and the shell (" + ProcessText(explorer) + ") at " +
                               LevelName(shell);
    if (own > shell) {
        return levels + ": run elevated, the check and the Hushpane it starts could pass where the "
                        "shell's own clicks would not reach Hushpane; run it from a Command Prompt "
                        "that is not elevated (not \"Run as administrator\")";
    }
    return levels + ": Windows would drop the check's clicks and keys on the shell's level; run it "
                    "from a Command Prompt opened as the signed-in user, outside any sandbox";
}

std::string BusyRefusal()
{
    QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;  // where it cannot say
    SHQueryUserNotificationState(&state);
    const bool presenting = state == QUNS_PRESENTATION_MODE;
    if (!presenting && state != QUNS_BUSY && state != QUNS_RUNNING_D3D_FULL_SCREEN &&
        state != QUNS_APP) {
        return {};
    }
    return Format("%s (SHQueryUserNotificationState answered %d), and the check's first click "
                  "would take the foreground from it; run the check once it has ended",
                  presenting ? "presentation mode is on" : "a program runs full screen", state);
}

void NoteSystem()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    FromNtdll<LONG(WINAPI*)(OSVERSIONINFOW*)>("RtlGetVersion")(&version);
    const std::string number = Format("%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                                      version.dwBuildNumber);
    const WineVersion wine = FromNtdll<WineVersion>("wine_get_version");
    std::string system = "Windows, version " + number;
    if (wine != nullptr) {
        system = Format("Wine %s, which reports Windows %s", wine(), number.c_str());
    } else if (version.dwMajorVersion == 10) {
        system = Format("Windows %d, version %s", version.dwBuildNumber >= 22000 ? 11 : 10,
                        number.c_str());
    }
    Note("system: " + system);
    // Status bars and shell replacements make windows of the shell's classes too.
    for (const wchar_t* className : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"}) {
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr) {
            RECT rect = {};
            GetWindowRect(window, &rect);
            const DWORD pid = WindowProcess(window);
            const std::string where =
                WindowClass(window) + " at " + RectText(rect) + " of " + ProcessText(pid);
            std::string line = "another window of class " + where;
            for (int i = 0; i < g_taskbarCount; ++i) {
                if (g_before[i].window == window) {
                    line = "taskbar " + where + "; before the run: " + Describe(g_before[i]);
                }
            }
            const std::string image = ImageName(pid);
            if (image.empty()) {
                line += "; whose program's image could not be read";
            } else if (lstrcmpiA(image.c_str(), "explorer.exe") != 0) {
                line += "; not Explorer's: Hushpane hides the first Shell_TrayWnd that Windows "
                        "gives it (and every Shell_SecondaryTrayWnd), which may be this program's";
            }
            Note(line);
        }
    }
}

static BOOL CALLBACK NoteMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    int* number = reinterpret_cast<int*>(data);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    UINT dpi = 96;
    GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi, &dpi);
    const char* primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0 ? " (primary)" : "";
    // Maximised windows fill the work area: a hidden taskbar should keep its part of it.
    Note(Format("monitor %d%s: %s, %u dpi (%u %%), small icons %d px; work area with the "
                "taskbars hidden %s",
                ++*number, primary, RectText(info.rcMonitor).c_str(), dpi, dpi * 100 / 96,
                GetSystemMetricsForDpi(SM_CXSMICON, dpi), RectText(info.rcWork).c_str()));
    return TRUE;
}

void NoteWhileHidden()
{
    int number = 0;
    EnumDisplayMonitors(nullptr, nullptr, NoteMonitor, reinterpret_cast<LPARAM>(&number));
    for (int i = 0; i < g_taskbarCount; ++i) {
        HWND taskbar = g_before[i].window;
        RECT rect = {};
        GetWindowRect(taskbar, &rect);
        // Where a click on it goes: an alpha-0 layered window lets the mouse through.
        HWND under = TopLevelAt(Middle(rect));
        const std::string what = under == taskbar ? "the taskbar itself" : WindowText(under);
        Note("under the middle of the hidden " + WindowClass(taskbar) + " (" +
             PointText(Middle(rect)) + "): " + what);
    }
}
