// What the desktop is: the system, the monitors, the shell's windows, the
// integrity levels (Windows drops input to a program of a higher level without
// saying so, and a check run elevated would start an elevated Hushpane, which
// its callbacks reach where the shell's clicks from Medium might not).
#include "check/check.h"

#include <shellscalingapi.h>

#include <algorithm>

constexpr DWORD INTEGRITY_UNKNOWN = 0xFFFFFFFF;

static std::string LevelName(DWORD level)
{
    return level == INTEGRITY_UNKNOWN                  ? "unknown"
           : level == SECURITY_MANDATORY_UNTRUSTED_RID ? "Untrusted"
           : level == SECURITY_MANDATORY_LOW_RID       ? "Low"
           : level == SECURITY_MANDATORY_MEDIUM_RID    ? "Medium"
           : level == SECURITY_MANDATORY_HIGH_RID      ? "High"
           : level == SECURITY_MANDATORY_SYSTEM_RID    ? "System"
                                                       : Format("0x%lX", level);
}

static DWORD ShellProcess()
{
    return WindowProcess(FindWindowW(L"Shell_TrayWnd", nullptr));
}

static DWORD IntegrityOf(DWORD pid)
{
    DWORD level = INTEGRITY_UNKNOWN;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    HANDLE token = nullptr;
    if (process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token)) {
        alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
            PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
            level = *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1U);
        }
        CloseHandle(token);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return level;
}

static BOOL CALLBACK NoteMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    int* number = reinterpret_cast<int*>(data);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    UINT dpi = 96;
    UINT dpiY = 96;
    GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi, &dpiY);
    // Maximised windows fill the work area: on Windows the hidden taskbar should keep its part of it.
    Note(Format("monitor %d%s: %s, %u dpi (%u %%), small icons %d px; work area with the taskbars hidden %s", ++*number,
                (info.dwFlags & MONITORINFOF_PRIMARY) != 0 ? " (primary)" : "", RectText(info.rcMonitor).c_str(), dpi,
                dpi * 100 / 96, GetSystemMetricsForDpi(SM_CXSMICON, dpi), RectText(info.rcWork).c_str()));
    return TRUE;
}

// RtlGetVersion, unlike GetVersionExW, tells the truth to a program whose manifest names no system.
template <typename Function>
static Function FromNtdll(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

using WineVersion = const char*(CDECL*)();

std::string IntegrityRefusal()
{
    const DWORD own = IntegrityOf(GetCurrentProcessId());
    const DWORD shell = IntegrityOf(ShellProcess());
    if (own == INTEGRITY_UNKNOWN || shell == INTEGRITY_UNKNOWN || own == shell) {
        return {};
    }
    return "the check runs at " + LevelName(own) + " integrity and the shell (" + ProcessText(ShellProcess()) +
           ") at " + LevelName(shell) +
           (own > shell ? ": run elevated, the check and the Hushpane it starts could pass where the shell's own "
                          "clicks would not reach Hushpane; run it from a Command Prompt that is not elevated (not "
                          "\"Run as administrator\")"
                        : ": Windows would drop the check's clicks and keys on the shell's level; run it from a "
                          "Command Prompt opened as the signed-in user, outside any sandbox");
}

void NoteIntegrity(DWORD hushpane)
{
    Note("integrity levels: the check " + LevelName(IntegrityOf(GetCurrentProcessId())) + ", Hushpane " +
         (hushpane == 0 ? std::string("not running") : LevelName(IntegrityOf(hushpane))) + ", the shell (" +
         ProcessText(ShellProcess()) + ") " + LevelName(IntegrityOf(ShellProcess())));
}

bool UnderWine()
{
    return FromNtdll<WineVersion>("wine_get_version") != nullptr;
}

void NoteSystem()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    FromNtdll<LONG(WINAPI*)(OSVERSIONINFOW*)>("RtlGetVersion")(&version);
    const std::string number =
        Format("%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
    const WineVersion wine = FromNtdll<WineVersion>("wine_get_version");
    Note(wine != nullptr ? Format("system: Wine %s, which reports Windows %s", wine(), number.c_str())
                         : Format("system: %s, version %s",
                                  version.dwMajorVersion != 10     ? "Windows"
                                  : version.dwBuildNumber >= 22000 ? "Windows 11"
                                                                   : "Windows 10",
                                  number.c_str()));
    // Status bars and shell replacements make windows of the shell's classes too.
    for (const wchar_t* className : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"}) {
        for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr;) {
            const TaskbarState* before = std::find_if(
                g_before, g_before + g_taskbarCount, [&](const TaskbarState& state) { return state.window == window; });
            const bool recorded = before != g_before + g_taskbarCount;
            RECT rect = {};
            GetWindowRect(window, &rect);
            Note((recorded ? "taskbar " : "another window of class ") + WindowClass(window) + " at " + RectText(rect) +
                 " of " + ProcessText(WindowProcess(window)) +
                 (recorded ? "; before the run: " + Describe(*before) : "") +
                 (lstrcmpiA(ImageName(WindowProcess(window)).c_str(), "explorer.exe") == 0
                      ? ""
                      : "; not Explorer's: Hushpane hides the first Shell_TrayWnd that Windows gives it (and on "
                        "several monitors every Shell_SecondaryTrayWnd), which may be this program's"));
        }
    }
}

void NoteWhileHidden()
{
    int number = 0;
    EnumDisplayMonitors(nullptr, nullptr, NoteMonitor, reinterpret_cast<LPARAM>(&number));
    for (int i = 0; i < g_taskbarCount; ++i) {
        HWND taskbar = g_before[i].window;
        RECT rect = {};
        GetWindowRect(taskbar, &rect);
        // Where a click on it goes: an alpha-0 layered window lets the mouse through to the window below.
        HWND under = TopLevelAt(Middle(rect));
        Note(Format("under the middle of the hidden %s (%s): %s", WindowClass(taskbar).c_str(),
                    PointText(Middle(rect)).c_str(),
                    under == taskbar ? "the taskbar itself" : WindowText(under).c_str()));
    }
}
