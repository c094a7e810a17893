// The stack protector's failure handler in every Windows binary. A function
// whose stack cookie no longer matches calls it instead of returning; it
// ends the process at once as the Microsoft compiler's own cookie check does,
// with __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE): status 0xC0000409,
// no exception handler of the process runs on the smashed stack, and Windows
// Error Reporting writes its report and dump with this function on top. The
// libssp handler it replaces (QuorvelHardening.cmake) writes to a terminal a
// Windows process does not have and ends in an illegal instruction
// (0xC000001D) in an unnamed routine, which the process's handlers see first.
#include <windows.h>

extern "C" [[noreturn]] void __stack_chk_fail()
{
    // __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) as the compilers that
    // declare it emit it, on x86 and x64 alike: int 0x29 with the code in
    // ecx. MinGW-w64 10's winnt.h names the codes but declares no __fastfail.
    __asm__ __volatile__("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    __builtin_unreachable();
}
