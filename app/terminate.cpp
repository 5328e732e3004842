// libstdc++'s default terminate handler writes the type of an uncaught
// exception to standard error, which a GUI program does not have, and so
// brings its demangler and printf into a static exe: 70 KB of 170. Like this
// one, it ends the process with abort().
#include <cstdlib>

#if defined(_WIN32) && defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx
#endif
