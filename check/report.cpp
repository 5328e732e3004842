#include "check/check.h"

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
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

double SecondsSince(ULONGLONG start)
{
    return static_cast<double>(GetTickCount64() - start) / 1000.0;
}

void Report(int number, const char* name, bool passed, const std::string& detail)
{
    // Whatever an interruption cut short is not a finding about Hushpane.
    if (g_interrupted) {
        return;
    }
    ++(passed ? g_passed : g_failed);
    std::printf("%s %d %s: %s\n", passed ? "PASS" : "FAIL", number, name, detail.c_str());
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

std::string ProcessText(DWORD pid)
{
    std::string text = Format("process %lu", pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process != nullptr) {
        wchar_t path[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, path, &size)) {
            const std::wstring image(path, size);
            text += " (" + Utf8(image.substr(image.find_last_of(L"\\/") + 1)) + ")";
        }
        CloseHandle(process);
    }
    return text;
}

std::string WindowText(HWND window)
{
    if (window == nullptr) {
        return "no window";
    }
    return "a window of class " + WindowClass(window) + " of " + ProcessText(WindowProcess(window));
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
    if (state.window == nullptr || !IsWindow(state.window)) {
        return "gone";
    }
    if (!state.layered) {
        return "not layered";
    }
    if (!state.alphaKnown) {
        return "layered, no alpha set";
    }
    return Format("layered, alpha %d%s", state.alpha, (state.flags & LWA_ALPHA) != 0 ? "" : " (without LWA_ALPHA)");
}

bool AllTaskbars(int alpha)
{
    for (int i = 0; i < g_taskbarCount; ++i) {
        if (!HasAlpha(ReadTaskbar(g_taskbars[i]), alpha)) {
            return false;
        }
    }
    return g_taskbarCount > 0;
}

bool KeepsAlpha(int alpha, DWORD duration)
{
    return !WaitFor([alpha] { return !AllTaskbars(alpha); }, duration) && !g_interrupted;
}

std::string TaskbarsNow()
{
    std::string text;
    for (int i = 0; i < g_taskbarCount; ++i) {
        text += (i > 0 ? "; " : "") + WindowClass(g_taskbars[i]) + " " + Describe(ReadTaskbar(g_taskbars[i]));
    }
    return text;
}
