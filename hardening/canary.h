// The stack protector of the MinGW builds (-fstack-protector-strong): its canary, drawn from
// the system's random source at start (canary.cpp), and the end of a process in which it
// found a stack overrun (overrun.cpp, unless the exe says more first in a __stack_chk_fail of
// its own).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Ends the process at once, as Windows records a fast fail: what __fastfail compiles to, which
// MinGW-w64 10's headers do not declare.
[[noreturn]] inline void FastFail(unsigned int code)
{
    __asm__ volatile("int $0x29" : : "c"(code) : "memory");
    __builtin_unreachable();
}
