// What the eye sees of each taskbar, captured hidden and shown with a backdrop
// of a known colour right behind it: the share of its pixels in that colour
// says whether it vanished, which its alpha does not prove (Windows 11 draws it
// with XAML); the strip around it, whether the screen shows that colour at all.
#include "check/check.h"

#include <shellapi.h>
#include <wincodec.h>

#include <cstdlib>
#include <cwchar>

constexpr int NOT_SEEN = -1;
constexpr int STRIP_PX = 4;             // the backdrop's margin around the taskbar, at 96 dpi
constexpr int STRIP_TRUE_PERCENT = 95;  // below it, the screen does not show the colour as it is
constexpr int VISIBLE_BELOW = 90;       // a share below it: the taskbar hid part of its backdrop

struct Sight {
    int share = NOT_SEEN;  // percent of the taskbar's pixels in the colour
    int strip = NOT_SEEN;  // of the backdrop around it; NOT_SEEN when none of it lies on the monitor
};

static Sight g_sights[MAX_TASKBARS][2];  // [0] hidden, [1] shown

// The screen's pixels in `rect`, 32 bits each, top-down, blue in the low byte, layered
// windows included (without CAPTUREBLT they are left out, and every taskbar looks invisible).
static HBITMAP CaptureScreen(const RECT& rect, const DWORD** pixels)
{
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = rect.right - rect.left;
    format.bmiHeader.biHeight = rect.top - rect.bottom;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, picture);
    if (picture != nullptr && !BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left,
                                      rect.top, SRCCOPY | CAPTUREBLT)) {
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

static bool IsBackdrop(DWORD pixel)
{
    const int tolerance = 16;  // for a screen of fewer colours
    return std::abs(static_cast<int>((pixel >> 16) & 0xFF) - GetRValue(BACKDROP_COLOUR)) <= tolerance &&
           std::abs(static_cast<int>((pixel >> 8) & 0xFF) - GetGValue(BACKDROP_COLOUR)) <= tolerance &&
           std::abs(static_cast<int>(pixel & 0xFF) - GetBValue(BACKDROP_COLOUR)) <= tolerance;
}

// Captures `whole`: how much of `inner` (a part of it), and of the rest, shows the backdrop's colour.
static Sight Capture(const RECT& whole, const RECT& inner)
{
    const DWORD* pixel = nullptr;
    HBITMAP picture = CaptureScreen(whole, &pixel);
    long counts[2] = {0, 0};  // inner, strip; then of them, in the colour
    long matching[2] = {0, 0};
    for (LONG y = whole.top; picture != nullptr && y < whole.bottom; ++y) {
        for (LONG x = whole.left; x < whole.right; ++x, ++pixel) {
            const int part = PtInRect(&inner, {x, y}) ? 0 : 1;
            ++counts[part];
            matching[part] += IsBackdrop(*pixel) ? 1 : 0;
        }
    }
    DeleteObject(picture);
    Sight sight;
    sight.share = counts[0] == 0 ? NOT_SEEN : static_cast<int>(matching[0] * 100 / counts[0]);
    sight.strip = counts[1] == 0 ? NOT_SEEN : static_cast<int>(matching[1] * 100 / counts[1]);
    return sight;
}

// The taskbar's rectangle and the backdrop's, both within the taskbar's monitor: an
// auto-hide taskbar lies mostly off the screen, which a capture gives as black.
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
    if (sight.strip < STRIP_TRUE_PERCENT) {
        return Format("void while %s (%d %%), since the strip of backdrop around it %s (a colour filter, HDR, colour "
                      "management, or a window above the strip)",
                      state, sight.share,
                      sight.strip == NOT_SEEN ? "lies off its monitor"
                                              : Format("read %d %% in that colour", sight.strip).c_str());
    }
    return Format("%d %% while %s", sight.share, state);
}

template <typename Interface>
static void Release(Interface* object)
{
    if (object != nullptr) {
        object->Release();
    }
}

void LookAtTaskbars(bool shown)
{
    if (!AllTaskbars(shown ? 255 : 0)) {
        return;
    }
    RECT bars[MAX_TASKBARS];
    RECT backdrops[MAX_TASKBARS];
    for (int i = 0; i < g_taskbarCount; ++i) {
        Rects(g_before[i].window, &bars[i], &backdrops[i]);
        // Right after the taskbar in the z-order, whether it is top-most or not.
        SetWindowPos(g_backdrops[i], g_before[i].window, backdrops[i].left, backdrops[i].top,
                     backdrops[i].right - backdrops[i].left, backdrops[i].bottom - backdrops[i].top,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
    }
    Sleep(300);  // drawn, and composed onto the screen
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_sights[i][shown ? 1 : 0] = Capture(backdrops[i], bars[i]);
        ShowWindow(g_backdrops[i], SW_HIDE);
    }
}

void NoteWhatTheEyeSees()
{
    APPBARDATA appBar = {};
    appBar.cbSize = sizeof(appBar);
    const bool autoHide = (SHAppBarMessage(ABM_GETSTATE, &appBar) & ABS_AUTOHIDE) != 0;
    for (int i = 0; i < g_taskbarCount; ++i) {
        RECT bar = {};
        RECT backdrop = {};
        Rects(g_before[i].window, &bar, &backdrop);
        Note(Format("what the eye sees of %s at %s, with a window of the check's own in #%02X%02X%02X behind it and "
                    "around it: the share of its pixels in that colour is %s, %s (on Windows 10 and 11 expected near "
                    "100 %% hidden and near 0 %% shown%s%s)",
                    WindowClass(g_before[i].window).c_str(), RectText(bar).c_str(), GetRValue(BACKDROP_COLOUR),
                    GetGValue(BACKDROP_COLOUR), GetBValue(BACKDROP_COLOUR), Seen(g_sights[i][0], "hidden").c_str(),
                    Seen(g_sights[i][1], "shown").c_str(),
                    autoHide ? "; the taskbars auto-hide: read on its monitor" : "",
                    UnderWine() ? "; Wine draws no layered alpha, so under Wine both read alike" : ""));
    }
}

std::string SeenVisibleWhileHidden()
{
    std::string seen;
    for (int i = 0; i < g_taskbarCount; ++i) {
        const Sight& hidden = g_sights[i][0];
        if (hidden.share != NOT_SEEN && hidden.strip >= STRIP_TRUE_PERCENT && hidden.share < VISIBLE_BELOW) {
            seen += Format("; yet %s stayed visible while hidden (%d %% of it showed the backdrop behind it)",
                           WindowClass(g_before[i].window).c_str(), hidden.share);
        }
    }
    return seen;
}

// The whole virtual screen as PNG (BMP for a name ending in .bmp), by the system's imaging component.
bool SaveScreenshot(const wchar_t* path, std::string* problem)
{
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const RECT screen = {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                         top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    const DWORD* pixels = nullptr;
    HBITMAP picture = CaptureScreen(screen, &pixels);
    const wchar_t* extension = std::wcsrchr(path, L'.');
    const bool bmp = extension != nullptr && lstrcmpiW(extension, L".bmp") == 0;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmap* source = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    HRESULT result = picture == nullptr ? E_FAIL
                                        : CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                                           IID_PPV_ARGS(&factory));
    result =
        FAILED(result) ? result : factory->CreateBitmapFromHBITMAP(picture, nullptr, WICBitmapIgnoreAlpha, &source);
    result = FAILED(result) ? result : factory->CreateStream(&stream);
    result = FAILED(result) ? result : stream->InitializeFromFilename(path, GENERIC_WRITE);
    result = FAILED(result)
                 ? result
                 : factory->CreateEncoder(bmp ? GUID_ContainerFormatBmp : GUID_ContainerFormatPng, nullptr, &encoder);
    result = FAILED(result) ? result : encoder->Initialize(stream, WICBitmapEncoderNoCache);
    result = FAILED(result) ? result : encoder->CreateNewFrame(&frame, nullptr);
    result = FAILED(result) ? result : frame->Initialize(nullptr);
    result = FAILED(result) ? result : frame->WriteSource(source, nullptr);
    result = FAILED(result) ? result : frame->Commit();
    result = FAILED(result) ? result : encoder->Commit();
    Release(frame);
    Release(encoder);
    Release(stream);
    Release(source);
    Release(factory);
    if (SUCCEEDED(initialised)) {
        CoUninitialize();
    }
    DeleteObject(picture);
    *problem = Format("%s, error 0x%08lX", RectText(screen).c_str(), static_cast<unsigned long>(result));
    return SUCCEEDED(result);
}
