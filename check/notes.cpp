#include "check/check.h"

#include <shellscalingapi.h>

namespace {

BOOL CALLBACK NoteMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    int* number = reinterpret_cast<int*>(data);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    UINT dpi = 96;
    UINT dpiY = 96;
    GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi, &dpiY);
    // The work area is what maximised windows fill: on Windows the hidden
    // taskbar is expected to keep its part of it.
    Note(Format("monitor %d%s: %s, %u dpi (%u %%), small icons %d px; work area with the taskbars hidden %s", ++*number,
                (info.dwFlags & MONITORINFOF_PRIMARY) != 0 ? " (primary)" : "", RectText(info.rcMonitor).c_str(), dpi,
                dpi * 100 / 96, GetSystemMetricsForDpi(SM_CXSMICON, dpi), RectText(info.rcWork).c_str()));
    return TRUE;
}

using WineVersion = const char*(CDECL*)();

WineVersion WineVersionOf()
{
    return reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
}

}  // namespace

bool UnderWine()
{
    return WineVersionOf() != nullptr;
}

void NoteSystem()
{
    using VersionOf = LONG(WINAPI*)(OSVERSIONINFOW*);
    // RtlGetVersion, unlike GetVersionExW, tells the truth to a program
    // whose manifest names no system.
    auto versionOf = reinterpret_cast<VersionOf>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    const WineVersion wineVersion = WineVersionOf();
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    versionOf(&version);
    const std::string number =
        Format("%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
    if (wineVersion != nullptr) {
        Note(Format("system: Wine %s, which reports Windows %s", wineVersion(), number.c_str()));
    } else {
        const char* name = version.dwMajorVersion != 10     ? "Windows"
                           : version.dwBuildNumber >= 22000 ? "Windows 11"
                                                            : "Windows 10";
        Note(Format("system: %s, version %s", name, number.c_str()));
    }
    for (int i = 0; i < g_taskbarCount; ++i) {
        RECT rect = {};
        GetWindowRect(g_taskbars[i], &rect);
        Note(Format("taskbar %s at %s; before the run: %s", WindowClass(g_taskbars[i]).c_str(), RectText(rect).c_str(),
                    Describe(g_before[i]).c_str()));
    }
}

void NoteWhileHidden()
{
    int number = 0;
    EnumDisplayMonitors(nullptr, nullptr, NoteMonitor, reinterpret_cast<LPARAM>(&number));
    for (int i = 0; i < g_taskbarCount; ++i) {
        RECT rect = {};
        GetWindowRect(g_taskbars[i], &rect);
        const POINT middle = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        // Where a click on the hidden taskbar goes: an alpha-0 layered window
        // is documented to let the mouse through to the window below.
        HWND under = GetAncestor(WindowFromPoint(middle), GA_ROOT);
        Note(Format("under the middle of the hidden %s (%ld,%ld): %s", WindowClass(g_taskbars[i]).c_str(), middle.x,
                    middle.y,
                    under == g_taskbars[i] ? "the taskbar itself"
                    : under == nullptr     ? "no window"
                                           : ("a window of class " + WindowClass(under)).c_str()));
    }
}
