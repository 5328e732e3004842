#include "platform/simulated/state.h"

#include <stdexcept>

SimState& Sim()
{
    static SimState state;
    return state;
}

void SimReset()
{
    Sim() = SimState();
}

void SimLog(const char* name, HWND window, LONG_PTR first, LONG_PTR second, LONG_PTR third)
{
    Sim().calls.push_back({name, window, first, second, third, Sim().now});
}

HWND SimHandle(std::size_t index)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>((index + 1) * 0x10));
}

SimWindow* SimLookup(HWND window)
{
    const auto value = reinterpret_cast<std::uintptr_t>(window);
    if (value == 0 || value % 0x10 != 0) {
        return nullptr;
    }
    const std::size_t index = value / 0x10 - 1;
    if (index >= Sim().windows.size() || !Sim().windows[index].alive) {
        return nullptr;
    }
    return &Sim().windows[index];
}

void SimFail(DWORD error)
{
    Sim().lastError = error;
}

DWORD WINAPI GetLastError()
{
    return Sim().lastError;
}

void WINAPI SetLastError(DWORD error)
{
    Sim().lastError = error;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName)
{
    if (moduleName != nullptr) {
        throw std::logic_error("the simulated desktop knows only the program's own module");
    }
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x400000));
}

const std::vector<SimCall>& SimCalls()
{
    return Sim().calls;
}

std::vector<SimCall> SimCallsNamed(const std::string& name)
{
    std::vector<SimCall> named;
    for (const SimCall& call : Sim().calls) {
        if (call.name == name) {
            named.push_back(call);
        }
    }
    return named;
}
