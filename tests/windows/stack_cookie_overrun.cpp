// Test only, never shipped: a function that overruns its stack buffer, in a
// program built and linked as the shipped ones are (stack protector, the
// Windows failure handler, a PDB), to show what a smashed stack ends in.
//
//   stack_cookie_overrun [--handler] TEXT
//
// copies TEXT into an 8-byte buffer on the stack. With --handler, a vectored
// exception handler installed first prints "exception <code>" for any
// exception it is shown and lets it go on: Windows never runs it for a
// __fastfail, and neither does Wine 8.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

LONG CALLBACK print_exception(EXCEPTION_POINTERS *pointers)
{
    std::printf("exception %08lX\n", pointers->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A byte loop, not strcpy: the checked strcpy of _FORTIFY_SOURCE would stop
// the copy before the cookie is reached.
__attribute__((noinline)) void copy_into_small_buffer(const char *text)
{
    char buffer[8];
    for (std::size_t index = 0; index <= std::strlen(text); ++index) {
        buffer[index] = text[index];
    }
    std::printf("copied %s\n", buffer);
}

} // namespace

int main(int argc, char **argv)
{
    // Unbuffered: a process ended by __fastfail flushes nothing.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "--handler") == 0) {
        AddVectoredExceptionHandler(1, print_exception);
    } else if (argc != 2) {
        std::fprintf(stderr, "usage: stack_cookie_overrun [--handler] TEXT\n");
        return 2;
    }
    copy_into_small_buffer(argv[argc - 1]);
    std::printf("returned\n");
    return 0;
}
