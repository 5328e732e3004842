// The canary that the compiler's stack protector compares, drawn from the system's random
// source (RtlGenRandom, which the C runtime's rand_s uses) by the first constructor of the
// process, before any function it protects runs. GCC's libssp would draw it with
// CryptAcquireContext, which loads the cryptographic provider and reads its registry keys at
// every start. Built without the protector: this is where the canary changes.
#include "hardening/canary.h"

#include <ntsecapi.h>

#include <cstdint>

extern "C" {
// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's own name for it
uintptr_t __stack_chk_guard;
}

[[gnu::constructor(101)]] static void DrawCanary()
{
    uintptr_t canary = 0;
    if (!RtlGenRandom(&canary, sizeof(canary))) {
        // As the Visual C++ runtime seeds its cookie: the clock and an address of this run.
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        canary = static_cast<uintptr_t>(now.QuadPart) ^ reinterpret_cast<uintptr_t>(&canary);
    }
    __stack_chk_guard = canary;
}
