// libstdc++'s own terminate handler brings its demangler into the exe to name an uncaught
// exception. This one says in a fixed line, on the standard error where the check talks to
// its user, that the check ended; its guard then ends Hushpane and puts the taskbars back.
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32) && defined(__GLIBCXX__)
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
#endif
