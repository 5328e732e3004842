// What the eye sees of each taskbar, hidden and shown, with a backdrop of a known colour
// behind it: its alpha does not prove that it vanished (Windows 11 draws it with XAML); the
// share of its pixels in the colour does, if the strip around it shows the colour at all.
#include "check/check.h"

#include <shellapi.h>
#include <cstdlib>

constexpr int NOT_SEEN = -1;
constexpr int STRIP_PX = 4;             // the backdrop's margin around the taskbar, at 96 dpi
constexpr int STRIP_TRUE_PERCENT = 95;  // below it, the screen does not show the colour as it is
constexpr int VISIBLE_BELOW = 90;       // a share below it: the taskbar hid part of its backdrop
constexpr int COLOUR_TOLERANCE = 16;    // for a screen of fewer colours
constexpr DWORD DRAWN_MS = 300;         // for the backdrops to be drawn and composed

struct Sight {
    int share = NOT_SEEN;  // percent of the taskbar's pixels in the colour
    int strip = NOT_SEEN;  // of the backdrop around it; NOT_SEEN when none of it is on the monitor
};

static Sight g_sights[MAX_TASKBARS][2];  // [0] hidden, [1] shown
static RECT g_bars[MAX_TASKBARS];        // each taskbar within its monitor, as last looked at

// The screen in `rect` as `header` says: 32 bits a pixel, rows top-down, layered windows
// included (without CAPTUREBLT they are left out, and every taskbar looks gone).
static HBITMAP CaptureScreen(const RECT& rect, BITMAPINFOHEADER* header, const DWORD** pixels)
{
    *header = {};
    header->biSize = sizeof(*header);
    header->biWidth = rect.right - rect.left;
    header->biHeight = rect.top - rect.bottom;
    header->biPlanes = 1;
    header->biBitCount = 32;
    header->biSizeImage = static_cast<DWORD>(header->biWidth * -header->biHeight * 4);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    // A BITMAPINFO that needs no colour table is its header alone.
    auto* format = reinterpret_cast<BITMAPINFO*>(header);
    HBITMAP picture = CreateDIBSection(screen, format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, picture);
    if (!BitBlt(memory, 0, 0, header->biWidth, -header->biHeight, screen, rect.left, rect.top,
                SRCCOPY | CAPTUREBLT)) {
        DeleteObject(picture);
        picture = nullptr;
    }
    SelectObject(memory, previous);
    GdiFlush();
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    *pixels = static_cast<const DWORD*>(bits);
    return picture;
}

static bool Near(DWORD channel, BYTE wanted)
{
    return std::abs(static_cast<int>(channel & 0xFF) - wanted) <= COLOUR_TOLERANCE;
}

static bool IsBackdrop(DWORD pixel)
{
    return Near(pixel >> 16, GetRValue(BACKDROP_COLOUR)) &&
           Near(pixel >> 8, GetGValue(BACKDROP_COLOUR)) && Near(pixel, GetBValue(BACKDROP_COLOUR));
}

static int Percent(long part, long whole)
{
    return whole == 0 ? NOT_SEEN : static_cast<int>(part * 100 / whole);
}

// How much of `inner`, and of the rest of `whole` around it, shows the backdrop's colour.
static Sight Capture(const RECT& whole, const RECT& inner)
{
    const DWORD* pixel = nullptr;
    BITMAPINFOHEADER header = {};
    HBITMAP picture = CaptureScreen(whole, &header, &pixel);
    long counts[2] = {0, 0};  // inner, strip; then of them, in the colour
    long matching[2] = {0, 0};
    for (LONG y = whole.top; picture != nullptr && y < whole.bottom; ++y) {
        for (LONG x = whole.left; x < whole.right; ++x, ++pixel) {
            const bool strip = PtInRect(&inner, {x, y}) == FALSE;
            ++counts[strip];
            matching[strip] += IsBackdrop(*pixel);
        }
    }
    DeleteObject(picture);
    return {Percent(matching[0], counts[0]), Percent(matching[1], counts[1])};
}

// The taskbar's rectangle and the backdrop's, within its monitor (an auto-hide one lies off it).
static void Rects(HWND taskbar, RECT* bar, RECT* backdrop)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(taskbar, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT window = {};
    GetWindowRect(taskbar, &window);
    IntersectRect(bar, &window, &monitor.rcMonitor);
    const int strip = MulDiv(STRIP_PX, static_cast<int>(GetDpiForWindow(taskbar)), 96);
    InflateRect(&window, strip, strip);
    IntersectRect(backdrop, &window, &monitor.rcMonitor);
}

static std::string Seen(const Sight& sight, const char* state)
{
    if (sight.share == NOT_SEEN) {
        return Format("not captured while %s", state);
    }
    if (sight.strip >= STRIP_TRUE_PERCENT) {
        return Format("%d %% while %s", sight.share, state);
    }
    const std::string strip = sight.strip == NOT_SEEN
                                  ? "lies off its monitor"
                                  : Format("read %d %% in that colour", sight.strip);
    return Format("void while %s (%d %%), since the strip of backdrop around it %s (a colour "
                  "filter, HDR, colour management, or a window above the strip)",
                  state, sight.share, strip.c_str());
}

void LookAtTaskbars(bool shown)
{
    RECT backdrops[MAX_TASKBARS];
    for (int i = 0; i < g_taskbarCount; ++i) {
        Rects(g_before[i].window, &g_bars[i], &backdrops[i]);
    }
    if (!AllHave(ReadTaskbars(), shown ? 255 : 0)) {
        return;
    }
    for (int i = 0; i < g_taskbarCount; ++i) {
        const RECT& backdrop = backdrops[i];
        // Right after the taskbar in the z-order, whether it is top-most or not.
        SetWindowPos(g_backdrops[i], g_before[i].window, backdrop.left, backdrop.top,
                     backdrop.right - backdrop.left, backdrop.bottom - backdrop.top,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
    }
    Sleep(DRAWN_MS);
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_sights[i][shown] = Capture(backdrops[i], g_bars[i]);
        ShowWindow(g_backdrops[i], SW_HIDE);
    }
}

void NoteWhatTheEyeSees()
{
    APPBARDATA appBar = {};
    appBar.cbSize = sizeof(appBar);
    Facts expected = {"on Windows 10 and 11 expected near 100 % hidden and near 0 % shown"};
    if ((SHAppBarMessage(ABM_GETSTATE, &appBar) & ABS_AUTOHIDE) != 0) {
        expected.push_back("the taskbars auto-hide: read on its monitor");
    }
    if (UnderWine()) {
        expected.push_back("Wine draws no layered alpha, so under Wine both read alike");
    }
    for (int i = 0; i < g_taskbarCount; ++i) {
        Note(Format("what the eye sees of %s at %s, with a window of the check's own in "
                    "#%02X%02X%02X behind it and around it: the share of its pixels in that colour "
                    "is %s, %s (%s)",
                    WindowClass(g_before[i].window).c_str(), RectText(g_bars[i]).c_str(),
                    GetRValue(BACKDROP_COLOUR), GetGValue(BACKDROP_COLOUR),
                    GetBValue(BACKDROP_COLOUR), Seen(g_sights[i][0], "hidden").c_str(),
                    Seen(g_sights[i][1], "shown").c_str(), Join(expected).c_str()));
    }
}

std::string SeenVisibleWhileHidden()
{
    std::string seen;
    for (int i = 0; i < g_taskbarCount; ++i) {
        const Sight& hidden = g_sights[i][0];
        const bool valid = hidden.share != NOT_SEEN && hidden.strip >= STRIP_TRUE_PERCENT;
        if (valid && hidden.share < VISIBLE_BELOW) {
            seen += Format("; yet %s stayed visible while hidden (%d %% of it showed the backdrop "
                           "behind it)",
                           WindowClass(g_before[i].window).c_str(), hidden.share);
        }
    }
    return seen;
}

// The whole virtual screen as a BMP file: the capture's header and pixels, after the file's.
bool SaveScreenshot(const wchar_t* path, std::string* problem)
{
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const RECT screen = {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                         top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    BITMAPINFOHEADER info = {};
    const DWORD* pixels = nullptr;
    HBITMAP picture = CaptureScreen(screen, &info, &pixels);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written[3] = {};
    const bool saved = picture != nullptr && out != INVALID_HANDLE_VALUE &&
                       WriteFile(out, &file, sizeof(file), &written[0], nullptr) &&
                       WriteFile(out, &info, sizeof(info), &written[1], nullptr) &&
                       WriteFile(out, pixels, info.biSizeImage, &written[2], nullptr) &&
                       written[2] == info.biSizeImage;
    *problem = Format("the screen %s could not be captured and written (error %lu)",
                      RectText(screen).c_str(), GetLastError());
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
    }
    DeleteObject(picture);
    return saved;
}
