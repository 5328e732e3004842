// What the stack protector calls once it finds a function's canary overwritten: the stack can
// no longer be trusted, so the process ends at once, and Windows records why (a GUI program
// has no console to tell). An exe that can say more first defines its own.
#include "hardening/canary.h"

// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's own name
extern "C" [[noreturn]] void __stack_chk_fail();

extern "C" void __stack_chk_fail()
{
    FastFail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}
