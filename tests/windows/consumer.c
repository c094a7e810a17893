/* Host programs for QUORVEL.dll built the Microsoft way (clang-cl, lld-link,
 * no C runtime of their own), run under Wine by run_consumers.sh. One source,
 * three programs, chosen with /D:
 *
 *   (default)          linked against QUORVEL.lib: INIT, write register
 *                      0x21, read it back, CLOSE; exit 0 only when the byte
 *                      came back
 *   CONSUMER_UNLOAD    loads the DLL at run time: INIT, FreeLibrary without
 *                      CLOSE, load again, INIT and a write must work
 *   CONSUMER_TERMINATE INIT (no board: the library prints why), then ends
 *                      itself with TerminateProcess, which flushes nothing */
#include "QUORVEL.h"

#include <stddef.h>

/* kernel32, declared here: no Windows SDK headers are needed. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) void *__stdcall LoadLibraryW(const wchar_t *name);
__declspec(dllimport) void *__stdcall GetProcAddress(void *module, const char *name);
__declspec(dllimport) int __stdcall FreeLibrary(void *module);
__declspec(dllimport) void *__stdcall GetCurrentProcess(void);
__declspec(dllimport) int __stdcall TerminateProcess(void *process, unsigned int code);

#if defined(CONSUMER_UNLOAD)

typedef int(QUORVEL_CALL *control_function)(void);
typedef int(QUORVEL_CALL *write_function)(int reg, int value);

/* Loads the DLL and runs INIT; the module, or 0 when either failed. */
static void *load_and_init(void)
{
    void *library = LoadLibraryW(L"QUORVEL.dll");
    control_function init = library ? (control_function)GetProcAddress(library, "QUORVEL_INIT") : 0;
    return init && init() == 0 ? library : 0;
}

static unsigned int run(void)
{
    void *library = load_and_init();
    write_function write_register;
    control_function close_device;
    if (!library) {
        return 1;
    }
    /* A host that unloads the library without QUORVEL_CLOSE. */
    FreeLibrary(library);
    library = load_and_init();
    if (!library) {
        return 2;
    }
    write_register = (write_function)GetProcAddress(library, "QUORVEL_WRITE");
    close_device = (control_function)GetProcAddress(library, "QUORVEL_CLOSE");
    if (!write_register || !close_device || write_register(0x13, 0xC0) != 0) {
        return 3;
    }
    return close_device() != 0 ? 0 : 4;
}

#elif defined(CONSUMER_TERMINATE)

static unsigned int run(void)
{
    QUORVEL_INIT();
    TerminateProcess(GetCurrentProcess(), 7);
    return 8;
}

#else

static unsigned int run(void)
{
    unsigned char value = 0;
    if (QUORVEL_INIT() != 0) {
        return 1;
    }
    if (QUORVEL_WRITE(0x21, 0xA5) != 0) {
        return 2;
    }
    if (QUORVEL_READ(0x21, &value) != 0) {
        return 3;
    }
    if (QUORVEL_CLOSE() == 0) {
        return 4;
    }
    return value == 0xA5 ? 0 : 5;
}

#endif

/* The entry point (lld-link /entry:consumer_start); cdecl whatever /Gz says. */
void __cdecl consumer_start(void)
{
    ExitProcess(run());
}
