// Test only, never shipped: a function that overruns its stack buffer, in a
// program built and linked as the shipped ones are (stack protector, the
// Windows failure handler, a PDB), to show what a smashed stack ends in.
//
//   stack_cookie_overrun [--handler] TEXT
//
// copies TEXT into an 8-byte buffer on the stack. With --handler, a vectored
// exception handler installed first prints what it is shown and lets the
// exception go on:
//   exception <code> flags <flags> parameter <first parameter> at +<RVA>
//   stack +<RVA> ...   (the words at the stack pointer that lie in this program)
// Windows never runs it for a __fastfail; Wine 8 hands int 0x29 to the
// process's handlers as a non-continuable exception.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const auto image_base = reinterpret_cast<ULONG_PTR>(GetModuleHandleW(nullptr));

bool in_image(ULONG_PTR address)
{
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(image_base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(image_base + dos->e_lfanew);
    return address >= image_base && address < image_base + nt->OptionalHeader.SizeOfImage;
}

LONG CALLBACK print_exception(EXCEPTION_POINTERS *pointers)
{
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    std::printf("exception %08lX flags %lu parameter %lu at +%lX\n", record->ExceptionCode, record->ExceptionFlags,
                record->NumberParameters ? static_cast<unsigned long>(record->ExceptionInformation[0]) : 0UL,
                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(record->ExceptionAddress) - image_base));
#if defined(_WIN64)
    const auto *stack = reinterpret_cast<const ULONG_PTR *>(pointers->ContextRecord->Rsp);
#else
    const auto *stack = reinterpret_cast<const ULONG_PTR *>(pointers->ContextRecord->Esp);
#endif
    std::printf("stack");
    for (int word = 0; word < 8; ++word) {
        if (in_image(stack[word])) {
            std::printf(" +%lX", static_cast<unsigned long>(stack[word] - image_base));
        }
    }
    std::printf("\n");
    std::fflush(stdout);
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
