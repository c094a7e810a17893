/*
 * Manual check tool for the simulated board driver: talks to the board the
 * same way QUORVEL.dll does and prints what happened, one line per step.
 *
 * Build:  tests/wine/wine_board.sh build-probe probe.exe, that is
 *         x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -s -o probe.exe probe.c -ladvapi32
 * Usage:  probe.exe [STEP...]        (default: map open w 13 c0 r 13 close)
 *   map            list SERIALCOMM values:      map NAME=DATA
 *   open [N]       open \\.\COMN, default the lowest board port
 *                                               open COMN ok | open COMN fail ERR
 *   open2          open the same port again (handle kept separately)
 *                                               open2 COMN ok | fail ERR
 *   w RR VV        write-register request       w RR VV ok | fail ERR
 *   r RR           read-register request        r RR ok VV | fail ERR
 *                  (accepted with no byte returned:  r RR ok none)
 *   raw CODE HEX N DeviceIoControl with any code, input bytes HEX ("-" for
 *                  none) and output length N    raw ... ok LEN | fail ERR
 *   swap           exchange the open and open2 handles, so that later steps
 *                  use the other one                        swap
 *   cwd            print the current directory  cwd PATH
 *   sleep MS       wait MS milliseconds         sleep MS
 *   close          close the handle(s)          close
 *   exit           end now, leaving handles open for the system to close
 *   crash          write through a null pointer (an unhandled access violation)
 * ERR is GetLastError() in decimal.  The exit status is the number of
 * failed steps, so a caller can also check status pass-through.
 */

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define IOCTL_READ_REGISTER 0x80052034u
#define IOCTL_WRITE_REGISTER 0x80052038u

static HANDLE port = INVALID_HANDLE_VALUE;
static HANDLE port2 = INVALID_HANDLE_VALUE;
static int port_com;
static int failures;

static int board_coms(int *coms)
{
    HKEY key;
    DWORD i, n = 0;

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key))
        return 0;
    for (i = 0;; i++) {
        WCHAR name[256], data[64];
        DWORD name_len = 256, data_len = sizeof(data) - sizeof(WCHAR), type;
        if (RegEnumValueW(key, i, name, &name_len, NULL, &type, (BYTE *)data, &data_len))
            break;
        data[data_len / sizeof(WCHAR)] = 0;
        if (type == REG_SZ && !wcsncmp(name, L"\\Device\\ser15x", 14) && !wcsncmp(data, L"COM", 3))
            coms[n++] = _wtoi(data + 3);
        if (n == 4)
            break;
    }
    RegCloseKey(key);
    return (int)n;
}

static void step_map(void)
{
    HKEY key;
    DWORD i;

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key)) {
        printf("map none\n");
        return;
    }
    for (i = 0;; i++) {
        WCHAR name[256], data[64];
        DWORD name_len = 256, data_len = sizeof(data) - sizeof(WCHAR), type;
        if (RegEnumValueW(key, i, name, &name_len, NULL, &type, (BYTE *)data, &data_len))
            break;
        data[data_len / sizeof(WCHAR)] = 0;
        if (!wcsncmp(name, L"\\Device\\ser15x", 14))
            printf("map %ls=%ls\n", name, type == REG_SZ ? data : L"(not REG_SZ)");
    }
    RegCloseKey(key);
}

static HANDLE open_com(int com)
{
    WCHAR path[32];
    swprintf(path, 32, L"\\\\.\\COM%d", com);
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

static void step_open(int com)
{
    if (!com) {
        int coms[4], n = board_coms(coms), i;
        if (!n) {
            printf("open none\n");
            failures++;
            return;
        }
        com = coms[0];
        for (i = 1; i < n; i++)
            if (coms[i] < com)
                com = coms[i];
    }
    port_com = com;
    port = open_com(com);
    if (port == INVALID_HANDLE_VALUE) {
        printf("open COM%d fail %lu\n", com, GetLastError());
        failures++;
    } else {
        printf("open COM%d ok\n", com);
    }
}

static void step_open2(void)
{
    port2 = open_com(port_com);
    if (port2 == INVALID_HANDLE_VALUE) {
        printf("open2 COM%d fail %lu\n", port_com, GetLastError());
        failures++;
    } else {
        printf("open2 COM%d ok\n", port_com);
    }
}

static int hex_bytes(const char *s, BYTE *out, DWORD cap)
{
    DWORD n = 0;
    if (!strcmp(s, "-"))
        return 0;
    while (s[0] && s[1] && n < cap) {
        unsigned v;
        if (sscanf(s, "%2x", &v) != 1)
            return -1;
        out[n++] = (BYTE)v;
        s += 2;
    }
    return *s ? -1 : (int)n;
}

static BOOL ioctl(DWORD code, BYTE *in, DWORD in_len, BYTE *out, DWORD out_len, DWORD *got)
{
    *got = 0;
    return DeviceIoControl(port, code, in_len ? in : NULL, in_len, out_len ? out : NULL, out_len, got, NULL);
}

int main(int argc, char **argv)
{
    static char *defaults[] = {"map", "open", "w", "13", "c0", "r", "13", "close"};
    char **args = argv + 1;
    int nargs = argc - 1, i;

    if (!nargs) {
        args = defaults;
        nargs = sizeof(defaults) / sizeof(defaults[0]);
    }
    for (i = 0; i < nargs; i++) {
        const char *op = args[i];
        BYTE in[256], out[256];
        DWORD got;

        if (!strcmp(op, "map")) {
            step_map();
        } else if (!strcmp(op, "open")) {
            int com = 0;
            if (i + 1 < nargs && args[i + 1][0] >= '0' && args[i + 1][0] <= '9')
                com = atoi(args[++i]);
            step_open(com);
        } else if (!strcmp(op, "open2")) {
            step_open2();
        } else if (!strcmp(op, "w") && i + 2 < nargs) {
            in[0] = (BYTE)strtoul(args[i + 1], NULL, 16);
            in[1] = (BYTE)strtoul(args[i + 2], NULL, 16);
            i += 2;
            if (ioctl(IOCTL_WRITE_REGISTER, in, 2, out, 0, &got)) {
                printf("w %02x %02x ok\n", in[0], in[1]);
            } else {
                printf("w %02x %02x fail %lu\n", in[0], in[1], GetLastError());
                failures++;
            }
        } else if (!strcmp(op, "r") && i + 1 < nargs) {
            in[0] = (BYTE)strtoul(args[++i], NULL, 16);
            out[0] = 0xee;
            if (ioctl(IOCTL_READ_REGISTER, in, 1, out, 1, &got)) {
                /* The driver accepted the request; whether a byte came back
                 * is the caller's to judge, so this is no failed step. */
                if (got == 0)
                    printf("r %02x ok none\n", in[0]);
                else
                    printf("r %02x ok %02x\n", in[0], out[0]);
            } else {
                printf("r %02x fail %lu\n", in[0], GetLastError());
                failures++;
            }
        } else if (!strcmp(op, "raw") && i + 3 < nargs) {
            DWORD code = strtoul(args[i + 1], NULL, 16);
            int in_len = hex_bytes(args[i + 2], in, sizeof(in));
            DWORD out_len = strtoul(args[i + 3], NULL, 10);
            i += 3;
            if (in_len < 0 || out_len > sizeof(out)) {
                fprintf(stderr, "probe: bad raw step\n");
                return 100;
            }
            if (ioctl(code, in, (DWORD)in_len, out, out_len, &got)) {
                printf("raw %08lx ok %lu\n", code, got);
            } else {
                printf("raw %08lx fail %lu\n", code, GetLastError());
                failures++;
            }
        } else if (!strcmp(op, "swap")) {
            HANDLE h = port;
            port = port2;
            port2 = h;
            printf("swap\n");
        } else if (!strcmp(op, "sleep") && i + 1 < nargs) {
            DWORD ms = strtoul(args[++i], NULL, 10);
            Sleep(ms);
            printf("sleep %lu\n", ms);
        } else if (!strcmp(op, "cwd")) {
            char dir[MAX_PATH];
            GetCurrentDirectoryA(sizeof(dir), dir);
            printf("cwd %s\n", dir);
        } else if (!strcmp(op, "close")) {
            if (port != INVALID_HANDLE_VALUE)
                CloseHandle(port);
            if (port2 != INVALID_HANDLE_VALUE)
                CloseHandle(port2);
            port = port2 = INVALID_HANDLE_VALUE;
            printf("close\n");
        } else if (!strcmp(op, "exit")) {
            break;
        } else if (!strcmp(op, "crash")) {
            /* An access violation nobody handles: the rig must report it
             * as a failure, whatever Wine's crash handling does. */
            volatile int *nowhere = NULL;
            *nowhere = 1;
        } else {
            fprintf(stderr, "probe: unknown or incomplete step '%s'\n", op);
            return 100;
        }
        fflush(stdout);
    }
    return failures > 99 ? 99 : failures;
}
