// How the check ends on an error of its own, saying so in a fixed line on the standard error
// where it talks to its user; its guard then ends Hushpane and puts the taskbars back.
// libstdc++'s own terminate handler would bring its demangler into the exe to name an uncaught
// exception, and hardening/overrun.cpp ends on a stack overrun without a word.
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32) && defined(__GLIBCXX__)
#include "hardening/canary.h"

namespace __gnu_cxx {
// NOLINTNEXTLINE(bugprone-reserved-identifier): libstdc++'s own name, which this replaces
void __verbose_terminate_handler();
void __verbose_terminate_handler()
{
    std::fputs(
        "hushpane-check: ended by an error of its own (an uncaught C++ exception); its guard "
        "ends Hushpane and puts the taskbars back\n",
        stderr);
    std::abort();
}
}  // namespace __gnu_cxx

// The stack protector found an overrun: the stack cannot be trusted, so the line goes out
// through the system alone, not the C runtime, before the process ends.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's own name
extern "C" [[noreturn]] void __stack_chk_fail();
extern "C" void __stack_chk_fail()
{
    const char line[] = "hushpane-check: ended on a stack overrun that its stack protector found; "
                        "its guard ends Hushpane and puts the taskbars back\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, sizeof(line) - 1, &written, nullptr);
    FastFail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}
#endif
