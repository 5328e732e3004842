// What the eye sees of each taskbar: a backdrop of the check's own, of a
// known colour, is put right behind it, and the taskbar's rectangle is
// captured from the screen while Hushpane hides the taskbar and while it
// shows it. The share of pixels in that colour says whether the taskbar
// vanished, which the stored alpha alone does not prove (Windows 11 draws its
// taskbar's content with XAML inside the window).
#include "check/check.h"

#include <vector>

namespace {

constexpr int NOT_SEEN = -1;
int g_shares[MAX_TASKBARS][2];  // percent of backdrop pixels: [0] hidden, [1] shown
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

// Percent of the pixels of that part of the screen that show the backdrop's colour.
int BackdropShare(const RECT& rect)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return NOT_SEEN;
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
    int share = NOT_SEEN;
    if (picture != nullptr) {
        HGDIOBJ previous = SelectObject(memory, picture);
        // Without CAPTUREBLT the capture leaves layered windows out, and every
        // taskbar would look invisible.
        if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT)) {
            GdiFlush();
            const auto* pixels = static_cast<const DWORD*>(bits);
            const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
            size_t matching = 0;
            for (size_t i = 0; i < count; ++i) {
                if (IsBackdrop(pixels[i])) {
                    ++matching;
                }
            }
            share = static_cast<int>(matching * 100 / count);
        }
        SelectObject(memory, previous);
        DeleteObject(picture);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return share;
}

// Right behind the taskbar: a top-most taskbar has every window that is not
// top-most below it, so the backdrop goes to the top of those; another one
// goes right after the taskbar in the z-order.
HWND Behind(HWND taskbar)
{
    return (GetWindowLongPtrW(taskbar, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0 ? HWND_NOTOPMOST : taskbar;
}

}  // namespace

void LookAtTaskbars(bool shown)
{
    if (!AllTaskbars(shown ? 255 : 0)) {
        return;
    }
    std::vector<RECT> rects(static_cast<size_t>(g_taskbarCount));
    for (int i = 0; i < g_taskbarCount; ++i) {
        RECT& rect = rects[static_cast<size_t>(i)];
        GetWindowRect(g_taskbars[i], &rect);
        SetWindowPos(Backdrop(i), Behind(g_taskbars[i]), rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    }
    Sleep(300);  // drawn, and composed onto the screen
    for (int i = 0; i < g_taskbarCount; ++i) {
        g_shares[i][shown ? 1 : 0] = BackdropShare(rects[static_cast<size_t>(i)]);
        ShowWindow(Backdrop(i), SW_HIDE);
    }
    g_looked[shown ? 1 : 0] = true;
}

void NoteWhatTheEyeSees()
{
    const char* states[] = {"hidden", "shown"};
    for (int i = 0; i < g_taskbarCount; ++i) {
        std::string seen;
        for (int state = 0; state < 2; ++state) {
            const int share = g_looked[state] ? g_shares[i][state] : NOT_SEEN;
            seen += (state > 0 ? ", " : "") + (share == NOT_SEEN ? Format("not captured while %s", states[state])
                                                                 : Format("%d %% while %s", share, states[state]));
        }
        RECT rect = {};
        GetWindowRect(g_taskbars[i], &rect);
        Note(Format("what the eye sees of %s at %s, with a window of the check's own in #%02X%02X%02X behind it: the "
                    "share of its pixels in that colour is %s (on Windows 10 and 11 expected near 100 %% hidden and "
                    "near 0 %% shown%s)",
                    WindowClass(g_taskbars[i]).c_str(), RectText(rect).c_str(), GetRValue(BACKDROP_COLOUR),
                    GetGValue(BACKDROP_COLOUR), GetBValue(BACKDROP_COLOUR), seen.c_str(),
                    UnderWine() ? "; Wine draws no layered alpha, so under Wine both read alike" : ""));
    }
}
