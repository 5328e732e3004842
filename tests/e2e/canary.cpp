// hpcanary.exe: hardened as the exes that ship, with the same canary (hardening/): says the
// canary this process drew, then, given a text longer than a buffer of eight bytes, copies it
// there, so that the stack protector finds the overrun when the function returns.
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" uintptr_t __stack_chk_guard;  // hardening/canary.cpp's

namespace {

[[gnu::noinline]] void Overrun(const char* text)
{
    char buffer[8];
    std::strcpy(buffer, text);  // NOLINT(clang-analyzer-security.insecureAPI.strcpy): on purpose
    std::printf("copied %s\n", buffer);
}

}  // namespace

int main(int argc, char** argv)
{
    std::printf("canary=%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    std::fflush(stdout);
    if (argc > 1) {
        Overrun(argv[1]);
    }
    std::printf("no overrun found\n");
    return 0;
}
