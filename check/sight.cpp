// What the eye sees of each taskbar: a backdrop of the check's own, of a
// known colour and a few pixels larger, is put right behind it, and the
// backdrop's rectangle is captured from the screen while Hushpane hides the
// taskbar and while it shows it. The share of the taskbar's pixels in that
// colour says whether the taskbar vanished, which the stored alpha alone does
// not prove (Windows 11 draws its taskbar's content with XAML inside the
// window); the strip of backdrop around it says whether the screen shows that
// colour as it is at all (a colour filter, HDR or colour management may not).
#include "check/check.h"

#include <shellapi.h>

#include <vector>

namespace {

constexpr int NOT_SEEN = -1;
constexpr int STRIP_PX = 4;             // the backdrop's margin around the taskbar, at 96 dpi
constexpr int STRIP_TRUE_PERCENT = 95;  // below it, the screen does not show the colour as it is

struct Sight {
    int share;  // percent of the taskbar's pixels in the colour
    int strip;  // percent of the strip's pixels in the colour; NOT_SEEN when there is no strip on the monitor
};

Sight g_sights[MAX_TASKBARS][2];  // [0] hidden, [1] shown
bool g_looked[2] = {false, false};

bool Near(DWORD value, BYTE wanted)
{
    // Allows for a screen of fewer colours.
    const DWORD centre = wanted;
    return value + 16 >= centre && value <= centre + 16;
}

// A pixel of a 32-bit capture (blue in the low byte) in the backdrop's colour.
bool IsBackdrop(DWORD pixel)
{
    return Near((pixel >> 16) & 0xFF, GetRValue(BACKDROP_COLOUR)) &&
           Near((pixel >> 8) & 0xFF, GetGValue(BACKDROP_COLOUR)) && Near(pixel & 0xFF, GetBValue(BACKDROP_COLOUR));
}

int Percent(size_t part, size_t whole)
{
    return whole == 0 ? NOT_SEEN : static_cast<int>(part * 100 / whole);
}

// Captures `whole` from the screen: how much of `inner` (a part of it), and
// of the rest, shows the backdrop's colour.
Sight Capture(const RECT& whole, const RECT& inner)
{
    const int width = whole.right - whole.left;
    const int height = whole.bottom - whole.top;
    Sight sight = {NOT_SEEN, NOT_SEEN};
    if (width <= 0 || height <= 0) {
        return sight;
    }
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (picture != nullptr) {
        HGDIOBJ previous = SelectObject(memory, picture);
        // Without CAPTUREBLT the capture leaves layered windows out, and every
        // taskbar would look invisible.
        if (BitBlt(memory, 0, 0, width, height, screen, whole.left, whole.top, SRCCOPY | CAPTUREBLT)) {
            GdiFlush();
            const auto* pixel = static_cast<const DWORD*>(bits);  // row by row, top-down
            size_t counts[2] = {0, 0};                            // inner, strip
            size_t matching[2] = {0, 0};                          // of them, in the colour
            for (LONG y = whole.top; y < whole.bottom; ++y) {
                for (LONG x = whole.left; x < whole.right; ++x, ++pixel) {
                    const size_t part = PtInRect(&inner, {x, y}) ? 0 : 1;
                    ++counts[part];
                    matching[part] += IsBackdrop(*pixel) ? 1U : 0U;
                }
            }
            sight = {Percent(matching[0], counts[0]), Percent(matching[1], counts[1])};
        }
        SelectObject(memory, previous);
        DeleteObject(picture);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return sight;
}

// The taskbar's rectangle and the backdrop's, both within the taskbar's
// monitor: an auto-hide taskbar lies mostly off the screen, which a capture
// gives as black.
void Rects(HWND taskbar, RECT* bar, RECT* backdrop)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(taskbar, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT window = {};
    GetWindowRect(taskbar, &window);
    IntersectRect(bar, &window, &monitor.rcMonitor);
    const int strip = MulDiv(STRIP_PX, static_cast<int>(GetDpiForWindow(taskbar)), 96);
    RECT larger = window;
    InflateRect(&larger, strip, strip);
    IntersectRect(backdrop, &larger, &monitor.rcMonitor);
}

bool AutoHide()
{
    APPBARDATA bar = {};
    bar.cbSize = sizeof(bar);
    return (SHAppBarMessage(ABM_GETSTATE, &bar) & ABS_AUTOHIDE) != 0;
}

std::string Seen(const Sight& sight, const char* state)
{
    if (sight.share == NOT_SEEN) {
        return Format("not captured while %s", state);
    }
    if (sight.strip == NOT_SEEN) {
        return Format("void while %s: no part of the backdrop around the taskbar lies on its monitor to show "
                      "whether the screen gives that colour as it is",
                      state);
    }
    if (sight.strip < STRIP_TRUE_PERCENT) {
        return Format("void while %s (%d %%), since the strip of backdrop around it read %d %% in that colour (a "
                      "colour filter, HDR, colour management, or a window above the strip)",
                      state, sight.share, sight.strip);
    }
    return Format("%d %% while %s", sight.share, state);
}

}  // namespace

void LookAtTaskbars(bool shown)
{
    if (!AllTaskbars(shown ? 255 : 0)) {
        return;
    }
    std::vector<RECT> bars(static_cast<size_t>(g_taskbarCount));
    std::vector<RECT> backdrops(static_cast<size_t>(g_taskbarCount));
    for (int i = 0; i < g_taskbarCount; ++i) {
        const auto at = static_cast<size_t>(i);
        Rects(g_taskbars[i], &bars[at], &backdrops[at]);
        // Right after the taskbar in the z-order, whether it is top-most or not.
        SetWindowPos(Backdrop(i), g_taskbars[i], backdrops[at].left, backdrops[at].top,
                     backdrops[at].right - backdrops[at].left, backdrops[at].bottom - backdrops[at].top,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
    }
    Sleep(300);  // drawn, and composed onto the screen
    for (int i = 0; i < g_taskbarCount; ++i) {
        const auto at = static_cast<size_t>(i);
        g_sights[i][shown ? 1 : 0] = Capture(backdrops[at], bars[at]);
        ShowWindow(Backdrop(i), SW_HIDE);
    }
    g_looked[shown ? 1 : 0] = true;
}

void NoteWhatTheEyeSees()
{
    const bool autoHide = AutoHide();
    for (int i = 0; i < g_taskbarCount; ++i) {
        const Sight unseen = {NOT_SEEN, NOT_SEEN};
        RECT bar = {};
        RECT backdrop = {};
        Rects(g_taskbars[i], &bar, &backdrop);
        Note(Format("what the eye sees of %s at %s, with a window of the check's own in #%02X%02X%02X behind it and "
                    "around it: the share of its pixels in that colour is %s, %s (on Windows 10 and 11 expected near "
                    "100 %% hidden and near 0 %% shown%s%s)",
                    WindowClass(g_taskbars[i]).c_str(), RectText(bar).c_str(), GetRValue(BACKDROP_COLOUR),
                    GetGValue(BACKDROP_COLOUR), GetBValue(BACKDROP_COLOUR),
                    Seen(g_looked[0] ? g_sights[i][0] : unseen, "hidden").c_str(),
                    Seen(g_looked[1] ? g_sights[i][1] : unseen, "shown").c_str(),
                    autoHide ? "; ABM_GETSTATE says that the taskbars auto-hide, so only the part on its monitor "
                               "was read"
                             : "",
                    UnderWine() ? "; Wine draws no layered alpha, so under Wine both read alike" : ""));
    }
}
