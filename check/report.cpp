#include "check/check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

int g_passed = 0;
int g_failed = 0;

std::string Format(const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    return line;
}

std::string Utf8(const std::wstring& text)
{
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                                         &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr)));
    return bytes;
}

double SecondsSince(ULONGLONG start)
{
    return static_cast<double>(GetTickCount64() - start) / 1000.0;
}

void Report(int number, const char* name, bool passed, const std::string& detail)
{
    if (!g_interrupted) {  // what an interruption cut short is no finding about Hushpane
        ++(passed ? g_passed : g_failed);
        std::printf("%s %d %s: %s\n", passed ? "PASS" : "FAIL", number, name, detail.c_str());
    }
}

void Note(const std::string& line)
{
    std::printf("NOTE %s\n", line.c_str());
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string WindowClass(HWND window)
{
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return Utf8(name);
}

std::string TitleOf(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return Utf8(text);
}

std::string ImageName(DWORD pid)
{
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    const bool read = process != nullptr && QueryFullProcessImageNameW(process, 0, path, &size);
    if (process != nullptr) {
        CloseHandle(process);
    }
    const std::wstring image(path, read ? size : 0);
    return Utf8(image.substr(image.find_last_of(L"\\/") + 1));
}

std::string ProcessText(DWORD pid)
{
    const std::string image = ImageName(pid);
    return Format("process %lu", pid) + (image.empty() ? "" : " (" + image + ")");
}

std::string WindowText(HWND window)
{
    return window == nullptr ? "no window"
                             : "a window of class " + WindowClass(window) + " of " + ProcessText(WindowProcess(window));
}

std::string PointText(POINT point)
{
    return Format("%ld,%ld", point.x, point.y);
}

std::string RectText(const RECT& rect)
{
    return Format("%ld,%ld-%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
}

std::string Describe(const TaskbarState& state)
{
    return state.window == nullptr ? "gone"
           : !state.layered        ? "not layered"
           : !state.alphaKnown     ? "layered, no alpha set"
                                   : Format("layered, alpha %d%s", state.alpha,
                                        (state.flags & LWA_ALPHA) != 0 ? "" : " (without LWA_ALPHA)");
}

bool AllTaskbars(int alpha)
{
    return g_taskbarCount > 0 && std::all_of(g_before, g_before + g_taskbarCount, [alpha](const TaskbarState& before) {
               return HasAlpha(ReadTaskbar(before.window), alpha);
           });
}

bool KeepsAlpha(int alpha, DWORD duration)
{
    return !WaitFor([alpha] { return !AllTaskbars(alpha); }, duration) && !g_interrupted;
}

std::string TaskbarsNow()
{
    std::string text;
    for (int i = 0; i < g_taskbarCount; ++i) {
        text += (i > 0 ? "; " : "") + WindowClass(g_before[i].window) + " " + Describe(ReadTaskbar(g_before[i].window));
    }
    return text;
}
