#include "check/check.h"

#include <cstdarg>
#include <cstdio>

std::string Join(const Facts& facts, const char* between)
{
    std::string line;
    for (const std::string& fact : facts) {
        if (!line.empty() && !fact.empty()) {
            line += between;
        }
        line += fact;
    }
    return line;
}

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
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                            static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(static_cast<size_t>(written));
    return bytes;
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\n') {
            quoted += "\\n";
        } else {
            quoted += c;
        }
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
    if (process == nullptr || !QueryFullProcessImageNameW(process, 0, path, &size)) {
        size = 0;
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    const std::wstring image(path, size);
    return Utf8(image.substr(image.find_last_of(L"\\/") + 1));
}

std::string ProcessText(DWORD pid)
{
    const std::string image = ImageName(pid);
    return Format("process %lu", pid) + (image.empty() ? "" : " (" + image + ")");
}

std::string WindowText(HWND window)
{
    const std::string owner = " of " + ProcessText(WindowProcess(window));
    return window == nullptr ? "no window" : "a window of class " + WindowClass(window) + owner;
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
    if (state.window == nullptr) {
        return "gone";
    }
    if (!state.layered) {
        return "not layered";
    }
    if (!state.alphaKnown) {
        return "layered, no alpha set";
    }
    const bool used = (state.flags & LWA_ALPHA) != 0;
    return Format("layered, alpha %d%s", state.alpha, used ? "" : " (without LWA_ALPHA)");
}

void Note(const std::string& line)
{
    std::printf("NOTE %s\n", line.c_str());
}

bool Want(Finding* finding, bool met, const std::string& wanted, const std::string& ifMet,
          const std::string& ifNot)
{
    const std::string unmet = "wanted " + wanted + ", read " + ifNot;
    if (met || !finding->failed.empty()) {
        finding->seen.push_back(met ? ifMet : unmet);
    } else {
        finding->failed = unmet;
    }
    return met;
}

bool Want(Finding* finding, bool met, const std::string& wanted, const std::string& read)
{
    return Want(finding, met, wanted, read, read);
}

void Skip(Finding* finding, const std::string& why)
{
    if (finding->skipped.empty()) {
        finding->skipped = why;
    } else {
        finding->seen.push_back(why);
    }
}
