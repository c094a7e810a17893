/*
 * Simulated QUORVEL serial board driver for end-to-end tests under Wine.
 *
 * It stands in for the real board driver so that the unmodified Windows
 * QUORVEL.dll and QUORVELSerialProtocolSelection.exe can be run inside a Wine
 * prefix: it creates the four \Device\ser15xN devices, links \DosDevices\COMn
 * to them, publishes the SERIALCOMM map entries and serves the two private
 * register requests over one shared 256-byte register file.  Every event is
 * appended as one text line to a log file, in the same format as the Linux
 * simulated machine, so one set of test expectations serves both.
 *
 * Scenario, read once at load from the service's Parameters key:
 *   Ports   REG_SZ   COM numbers in value-name order, blank separated,
 *                    e.g. "7 3 12 4" publishes \Device\ser15x0 = COM7 ...
 *                    \Device\ser15x3 = COM4.  Fewer than four numbers leave
 *                    the later entries out; "-" leaves out that one entry.
 *   Faults   REG_MULTI_SZ, or REG_SZ with one fault per line (optional):
 *                    open          every IRP_MJ_CREATE fails
 *                    read RR       read-register requests for register RR fail
 *                    read-empty RR read-register requests for register RR
 *                                  succeed but return no byte (information
 *                                  0, output buffer untouched)
 *                    write RR      write-register requests for register RR fail
 *                    RR is two hex digits or "*" for every register.  A read
 *                    fault wins over a read-empty fault for the same register.
 *                    Blank lines and lines starting with '#' are ignored.
 *   Registers REG_SZ blank separated RR=VV pairs, two hex digits each, e.g.
 *                    "13=c0 10=0a": the register file's values at load
 *                    (optional; every register not named starts at zero).
 *   LogFile REG_SZ   log path: a Linux path ("/tmp/x.log", reached through
 *                    Wine's Z: drive), a DOS path ("C:\x.log") or an NT
 *                    path ("\??\C:\x.log").  Optional; no log without it.
 * A malformed scenario makes DriverEntry fail, so a broken test setup shows
 * up as a failed service start rather than as a quietly different board.
 *
 * What a program sees (Wine 8 does not let a driver fail CreateFile, see
 * link_port):
 *   open fault          CreateFile fails, ERROR_FILE_NOT_FOUND; nothing logged
 *   port already open   CreateFile succeeds, but every request on that handle
 *                       fails with ERROR_ACCESS_DENIED and is logged as fail;
 *                       the refused open itself logs nothing
 *   read/write fault,   DeviceIoControl returns FALSE (ERROR_IO_DEVICE for a
 *   other request       fault, ERROR_INVALID_FUNCTION otherwise); logged as
 *                       fail; registers unchanged
 *   read-empty fault    DeviceIoControl returns TRUE with 0 bytes returned;
 *                       logged as ok
 *
 * Log lines (lower-case hex), one per event:
 *   COM3 open                      successful IRP_MJ_CREATE
 *   COM3 80052038 13c0 0 ok        request: code, input bytes, output length,
 *                                  ok or fail
 *   COM3 close                     IRP_MJ_CLOSE of a successful open
 *
 * Build (MinGW-w64 cross compiler; tests/wine/wine_board.sh build-driver
 * runs exactly this):
 *   x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -ffreestanding -fno-stack-protector \
 *       -I/usr/x86_64-w64-mingw32/include/ddk -shared -nostdlib \
 *       -Wl,--subsystem,native -Wl,--entry,DriverEntry \
 *       -o quorvelsim.sys quorvel_sim_driver.c -lntoskrnl -lhal -lgcc
 */

#include <ntddk.h>

#define QV_IOCTL_READ_REGISTER 0x80052034u
#define QV_IOCTL_WRITE_REGISTER 0x80052038u

#define QV_MAX_PORTS 4
#define QV_MAX_FAULTS 64
/* Longest input logged in full; longer inputs are logged up to this size. */
#define QV_LOG_MAX_INPUT 1024

enum fault_kind { FAULT_OPEN, FAULT_READ, FAULT_READ_EMPTY, FAULT_WRITE };

struct fault {
    enum fault_kind kind;
    BOOLEAN any_register;
    UCHAR reg;
};

struct port_ext {
    ULONG index;    /* N in \Device\ser15xN */
    ULONG com;      /* n in COMn */
    BOOLEAN open;   /* a handle is open; a serial port is exclusive */
    BOOLEAN linked; /* \DosDevices\COMn currently points at us */
    BOOLEAN value_published;
};

/* FsContext of a file object whose IRP_MJ_CREATE was refused (see
 * dispatch_create). */
static char g_refused_open;

static UCHAR g_registers[256];
static KMUTEX g_lock;
static HANDLE g_log;
static PDEVICE_OBJECT g_devices[QV_MAX_PORTS];

static BOOLEAN g_port_present[QV_MAX_PORTS];
static ULONG g_port_com[QV_MAX_PORTS];
static struct fault g_faults[QV_MAX_FAULTS];
static ULONG g_fault_count;

static char g_line[64 + 2 * QV_LOG_MAX_INPUT];

static const WCHAR serialcomm_path[] = L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
static const WCHAR devicemap_path[] = L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP";

/* ---- small string helpers (no C runtime in a kernel driver) ---- */

static ULONG wlen(const WCHAR *s)
{
    ULONG n = 0;
    while (s[n])
        n++;
    return n;
}

/* Appends src to dst (capacity cap WCHARs including the terminator). */
static void wappend(WCHAR *dst, ULONG cap, const WCHAR *src)
{
    ULONG n = wlen(dst);
    while (*src && n + 1 < cap)
        dst[n++] = *src++;
    dst[n] = 0;
}

static void wappend_dec(WCHAR *dst, ULONG cap, ULONG v)
{
    WCHAR tmp[12];
    int i = 11;
    tmp[i] = 0;
    do {
        tmp[--i] = (WCHAR)(L'0' + v % 10);
        v /= 10;
    } while (v);
    wappend(dst, cap, tmp + i);
}

static void ustr(UNICODE_STRING *u, const WCHAR *s)
{
    u->Buffer = (PWSTR)s;
    u->Length = (USHORT)(wlen(s) * sizeof(WCHAR));
    u->MaximumLength = u->Length + sizeof(WCHAR);
}

static char *cappend(char *p, const char *s)
{
    while (*s)
        *p++ = *s++;
    return p;
}

static char *cappend_dec(char *p, ULONG v)
{
    char tmp[12];
    int i = 11;
    tmp[i] = 0;
    do {
        tmp[--i] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    return cappend(p, tmp + i);
}

static char *cappend_hex(char *p, ULONG v, int digits)
{
    static const char hex[] = "0123456789abcdef";
    int i;
    for (i = digits - 1; i >= 0; i--)
        *p++ = hex[(v >> (4 * i)) & 0xf];
    return p;
}

static int hexval(WCHAR c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

static BOOLEAN is_blank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

/* ---- log ---- */

static void log_write(const char *line, ULONG len)
{
    IO_STATUS_BLOCK iosb;
    LARGE_INTEGER end;

    if (!g_log)
        return;
    /* Explicit end-of-file offset: the test harness may truncate or append to
     * the same file between runs, and every line must land at the end. */
    end.HighPart = -1;
    end.LowPart = FILE_WRITE_TO_END_OF_FILE;
    ZwWriteFile(g_log, NULL, NULL, NULL, &iosb, (PVOID)line, len, &end, NULL);
}

static void log_port_event(const struct port_ext *ext, const char *what)
{
    char *p = g_line;
    p = cappend(p, "COM");
    p = cappend_dec(p, ext->com);
    p = cappend(p, " ");
    p = cappend(p, what);
    p = cappend(p, "\n");
    log_write(g_line, (ULONG)(p - g_line));
}

static NTSTATUS log_open(const WCHAR *path)
{
    WCHAR nt[600];
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES oa;
    IO_STATUS_BLOCK iosb;
    ULONG i, n;

    nt[0] = 0;
    if (path[0] == L'/') {
        /* A Linux path: Wine's Z: drive is the host's root directory. */
        wappend(nt, ARRAYSIZE(nt), L"\\??\\Z:");
        n = wlen(nt);
        for (i = 0; path[i] && n + 1 < ARRAYSIZE(nt); i++)
            nt[n++] = path[i] == L'/' ? L'\\' : path[i];
        nt[n] = 0;
    } else if (path[0] == L'\\') {
        wappend(nt, ARRAYSIZE(nt), path);
    } else {
        wappend(nt, ARRAYSIZE(nt), L"\\??\\");
        wappend(nt, ARRAYSIZE(nt), path);
    }
    ustr(&name, nt);
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    return ZwCreateFile(&g_log, FILE_APPEND_DATA | SYNCHRONIZE, &oa, &iosb, NULL, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

/* ---- scenario parameters ---- */

/* Reads a string value into buf as a WCHAR array terminated by two NULs
 * (a REG_SZ becomes a one-string multi-string); *found tells if it exists. */
static NTSTATUS query_string(HANDLE key, const WCHAR *value, WCHAR *buf, ULONG cap, BOOLEAN *found)
{
    UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 4096];
    KEY_VALUE_PARTIAL_INFORMATION *info = (KEY_VALUE_PARTIAL_INFORMATION *)raw;
    UNICODE_STRING name;
    ULONG got, i, n;
    NTSTATUS status;

    *found = FALSE;
    buf[0] = buf[1] = 0;
    ustr(&name, value);
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof(raw), &got);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND)
        return STATUS_SUCCESS;
    if (!NT_SUCCESS(status))
        return status;
    if (info->Type != REG_SZ && info->Type != REG_EXPAND_SZ && info->Type != REG_MULTI_SZ)
        return STATUS_OBJECT_TYPE_MISMATCH;
    n = info->DataLength / sizeof(WCHAR);
    if (n + 2 > cap)
        return STATUS_BUFFER_OVERFLOW;
    for (i = 0; i < n; i++)
        buf[i] = ((const WCHAR *)info->Data)[i];
    buf[n] = buf[n + 1] = 0;
    *found = TRUE;
    return STATUS_SUCCESS;
}

static NTSTATUS parse_ports(const WCHAR *s)
{
    ULONG slot = 0;

    for (;;) {
        while (is_blank(*s))
            s++;
        if (!*s)
            break;
        if (slot >= QV_MAX_PORTS)
            return STATUS_INVALID_PARAMETER;
        if (*s == L'-' && (!s[1] || is_blank(s[1]))) {
            s++;
        } else {
            ULONG v = 0, digits = 0;
            while (*s >= L'0' && *s <= L'9') {
                v = v * 10 + (ULONG)(*s - L'0');
                if (++digits > 3)
                    return STATUS_INVALID_PARAMETER;
                s++;
            }
            if (!digits || v < 1 || v > 256 || (*s && !is_blank(*s)))
                return STATUS_INVALID_PARAMETER;
            g_port_present[slot] = TRUE;
            g_port_com[slot] = v;
        }
        slot++;
    }
    return STATUS_SUCCESS;
}

static BOOLEAN word_is(const WCHAR *s, ULONG len, const WCHAR *word)
{
    ULONG i;
    for (i = 0; i < len; i++)
        if (!word[i] || s[i] != word[i])
            return FALSE;
    return word[len] == 0;
}

/* One fault line [s, s+len). */
static NTSTATUS parse_fault_line(const WCHAR *s, ULONG len)
{
    const WCHAR *end = s + len;
    const WCHAR *w1, *w2;
    ULONG l1, l2;
    struct fault f;

    while (s < end && is_blank(*s))
        s++;
    while (end > s && is_blank(end[-1]))
        end--;
    if (s == end || *s == L'#')
        return STATUS_SUCCESS;

    w1 = s;
    while (s < end && !is_blank(*s))
        s++;
    l1 = (ULONG)(s - w1);
    while (s < end && is_blank(*s))
        s++;
    w2 = s;
    l2 = (ULONG)(end - s);

    if (word_is(w1, l1, L"open") && l2 == 0) {
        f.kind = FAULT_OPEN;
        f.any_register = TRUE;
        f.reg = 0;
    } else if ((word_is(w1, l1, L"read") || word_is(w1, l1, L"read-empty") || word_is(w1, l1, L"write")) && l2 > 0) {
        f.kind = word_is(w1, l1, L"read") ? FAULT_READ : word_is(w1, l1, L"write") ? FAULT_WRITE : FAULT_READ_EMPTY;
        if (l2 == 1 && w2[0] == L'*') {
            f.any_register = TRUE;
            f.reg = 0;
        } else if (l2 == 2 && hexval(w2[0]) >= 0 && hexval(w2[1]) >= 0) {
            f.any_register = FALSE;
            f.reg = (UCHAR)(hexval(w2[0]) * 16 + hexval(w2[1]));
        } else {
            return STATUS_INVALID_PARAMETER;
        }
    } else {
        return STATUS_INVALID_PARAMETER;
    }
    if (g_fault_count >= QV_MAX_FAULTS)
        return STATUS_INVALID_PARAMETER;
    g_faults[g_fault_count++] = f;
    return STATUS_SUCCESS;
}

/* Faults arrive as a multi-string, each string possibly holding several
 * newline separated lines, so both separators are treated alike. */
static NTSTATUS parse_faults(const WCHAR *s)
{
    NTSTATUS status;

    for (;;) {
        const WCHAR *line = s;
        while (*s && *s != L'\n' && *s != L'\r')
            s++;
        status = parse_fault_line(line, (ULONG)(s - line));
        if (!NT_SUCCESS(status))
            return status;
        if (*s) {
            s++;
        } else {
            s++; /* end of this string of the multi-string */
            if (!*s)
                break; /* double NUL: end of the list */
        }
    }
    return STATUS_SUCCESS;
}

/* Register values: "RR=VV" pairs, blank separated.  They are checked whole
 * before any register is set, so a bad value leaves every register at zero. */
static NTSTATUS parse_registers(const WCHAR *s, BOOLEAN apply)
{
    for (;;) {
        int r1, r2, v1, v2;

        while (is_blank(*s))
            s++;
        if (!*s)
            return STATUS_SUCCESS;
        r1 = hexval(s[0]);
        r2 = r1 < 0 ? -1 : hexval(s[1]);
        if (r2 < 0 || s[2] != L'=')
            return STATUS_INVALID_PARAMETER;
        v1 = hexval(s[3]);
        v2 = v1 < 0 ? -1 : hexval(s[4]);
        if (v2 < 0 || (s[5] && !is_blank(s[5])))
            return STATUS_INVALID_PARAMETER;
        if (apply)
            g_registers[r1 * 16 + r2] = (UCHAR)(v1 * 16 + v2);
        s += 5;
    }
}

static BOOLEAN fault_matches(enum fault_kind kind, UCHAR reg)
{
    ULONG i;
    for (i = 0; i < g_fault_count; i++)
        if (g_faults[i].kind == kind && (g_faults[i].any_register || g_faults[i].reg == reg))
            return TRUE;
    return FALSE;
}

static NTSTATUS read_parameters(PUNICODE_STRING registry_path)
{
    static WCHAR path[512];
    static WCHAR buf[2100];
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES oa;
    HANDLE key;
    BOOLEAN found;
    ULONG n;
    NTSTATUS status;

    n = registry_path->Length / sizeof(WCHAR);
    if (n + 16 > ARRAYSIZE(path))
        return STATUS_NAME_TOO_LONG;
    RtlCopyMemory(path, registry_path->Buffer, n * sizeof(WCHAR));
    path[n] = 0;
    wappend(path, ARRAYSIZE(path), L"\\Parameters");
    ustr(&name, path);
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwOpenKey(&key, KEY_READ, &oa);
    if (!NT_SUCCESS(status)) {
        DbgPrint("quorvelsim: no Parameters key (0x%08lx)\n", status);
        return status;
    }

    status = query_string(key, L"Ports", buf, ARRAYSIZE(buf), &found);
    if (NT_SUCCESS(status) && !found)
        status = STATUS_OBJECT_NAME_NOT_FOUND;
    if (NT_SUCCESS(status))
        status = parse_ports(buf);
    if (!NT_SUCCESS(status)) {
        DbgPrint("quorvelsim: bad or missing Ports value (0x%08lx)\n", status);
        goto done;
    }

    status = query_string(key, L"Faults", buf, ARRAYSIZE(buf), &found);
    if (NT_SUCCESS(status) && found)
        status = parse_faults(buf);
    if (!NT_SUCCESS(status)) {
        DbgPrint("quorvelsim: bad Faults value (0x%08lx)\n", status);
        goto done;
    }

    status = query_string(key, L"Registers", buf, ARRAYSIZE(buf), &found);
    if (NT_SUCCESS(status) && found) {
        status = parse_registers(buf, FALSE);
        if (NT_SUCCESS(status))
            parse_registers(buf, TRUE);
    }
    if (!NT_SUCCESS(status)) {
        DbgPrint("quorvelsim: bad Registers value (0x%08lx)\n", status);
        goto done;
    }

    status = query_string(key, L"LogFile", buf, ARRAYSIZE(buf), &found);
    if (NT_SUCCESS(status) && found && buf[0]) {
        status = log_open(buf);
        if (!NT_SUCCESS(status))
            DbgPrint("quorvelsim: cannot open log file (0x%08lx)\n", status);
    }

done:
    ZwClose(key);
    return status;
}

/* ---- SERIALCOMM map ---- */

static NTSTATUS open_serialcomm(HANDLE *key)
{
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES oa;
    HANDLE parent;
    NTSTATUS status;

    /* HARDWARE\DEVICEMAP may not exist yet in a fresh Wine session. */
    ustr(&name, devicemap_path);
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwCreateKey(&parent, KEY_ALL_ACCESS, &oa, 0, NULL, REG_OPTION_VOLATILE, NULL);
    if (!NT_SUCCESS(status))
        return status;
    ZwClose(parent);

    ustr(&name, serialcomm_path);
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    return ZwCreateKey(key, KEY_ALL_ACCESS, &oa, 0, NULL, REG_OPTION_VOLATILE, NULL);
}

static void device_name(WCHAR *buf, ULONG cap, ULONG index)
{
    buf[0] = 0;
    wappend(buf, cap, L"\\Device\\ser15x");
    wappend_dec(buf, cap, index);
}

static void dos_link_name(WCHAR *buf, ULONG cap, ULONG com)
{
    buf[0] = 0;
    wappend(buf, cap, L"\\DosDevices\\COM");
    wappend_dec(buf, cap, com);
}

/*
 * Wine 8 hands out the handle before the driver has seen IRP_MJ_CREATE and
 * ignores the status the driver completes it with, so refusing the IRP does
 * not make CreateFile fail.  What does make it fail is a missing
 * \DosDevices\COMn link (ERROR_FILE_NOT_FOUND), so under the "open" fault
 * the ports get no link.  The exclusive open of a serial port cannot use the
 * same trick: CloseHandle does not wait for IRP_MJ_CLOSE either, and a port
 * closed and at once reopened would find its link still missing.  IRPs reach
 * the driver in the order they were issued, so instead a second open while
 * the port is open gets a handle whose every request fails with
 * STATUS_ACCESS_DENIED (logged as "fail"), and a reopen after a close works.
 */
static void link_port(struct port_ext *ext)
{
    WCHAR dev_name[64], link_name[64];
    UNICODE_STRING dev_u, link_u;

    if (ext->linked || fault_matches(FAULT_OPEN, 0))
        return;
    device_name(dev_name, ARRAYSIZE(dev_name), ext->index);
    dos_link_name(link_name, ARRAYSIZE(link_name), ext->com);
    ustr(&dev_u, dev_name);
    ustr(&link_u, link_name);
    if (NT_SUCCESS(IoCreateSymbolicLink(&link_u, &dev_u)))
        ext->linked = TRUE;
}

static void unlink_port(struct port_ext *ext)
{
    WCHAR link_name[64];
    UNICODE_STRING link_u;

    if (!ext->linked)
        return;
    dos_link_name(link_name, ARRAYSIZE(link_name), ext->com);
    ustr(&link_u, link_name);
    IoDeleteSymbolicLink(&link_u);
    ext->linked = FALSE;
}

/* ---- IRP handlers ---- */

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void lock(void)
{
    KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, NULL);
}

static void unlock(void)
{
    KeReleaseMutex(&g_lock, FALSE);
}

static NTSTATUS dispatch_create(PDEVICE_OBJECT device, PIRP irp)
{
    struct port_ext *ext = device->DeviceExtension;
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    NTSTATUS status;

    lock();
    if (fault_matches(FAULT_OPEN, 0) || ext->open) {
        /* The caller still has a handle under Wine (see link_port), so the
         * refusal is remembered with the file object.  Under the "open" fault
         * this is only reachable through \Device\ser15xN itself. */
        file->FsContext = &g_refused_open;
        status = STATUS_ACCESS_DENIED;
    } else {
        ext->open = TRUE;
        file->FsContext = ext;
        log_port_event(ext, "open");
        status = STATUS_SUCCESS;
    }
    unlock();
    return complete(irp, status, 0);
}

static NTSTATUS dispatch_close(PDEVICE_OBJECT device, PIRP irp)
{
    struct port_ext *ext = device->DeviceExtension;
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;

    lock();
    if (file && file->FsContext == ext) {
        file->FsContext = NULL;
        ext->open = FALSE;
        log_port_event(ext, "close");
    }
    unlock();
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_cleanup(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatch_ioctl(PDEVICE_OBJECT device, PIRP irp)
{
    struct port_ext *ext = device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    BOOLEAN refused = stack->FileObject && stack->FileObject->FsContext == &g_refused_open;
    const UCHAR *in;
    UCHAR *out = irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR information = 0;
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    ULONG i, shown;
    char *p;

    if ((code & 3) == METHOD_NEITHER)
        in = stack->Parameters.DeviceIoControl.Type3InputBuffer;
    else
        in = irp->AssociatedIrp.SystemBuffer;
    if (!in)
        in_len = 0;

    lock();

    /* Format the input first: with buffered I/O the reply overwrites it. */
    p = g_line;
    p = cappend(p, "COM");
    p = cappend_dec(p, ext->com);
    p = cappend(p, " ");
    p = cappend_hex(p, code, 8);
    p = cappend(p, " ");
    shown = in_len < QV_LOG_MAX_INPUT ? in_len : QV_LOG_MAX_INPUT;
    for (i = 0; i < shown; i++)
        p = cappend_hex(p, in[i], 2);
    p = cappend(p, " ");
    p = cappend_dec(p, out_len);

    if (refused) {
        status = STATUS_ACCESS_DENIED;
    } else if (code == QV_IOCTL_READ_REGISTER && in_len == 1 && out_len == 1 && out) {
        if (fault_matches(FAULT_READ, in[0])) {
            status = STATUS_IO_DEVICE_ERROR;
        } else if (fault_matches(FAULT_READ_EMPTY, in[0])) {
            /* Accepted, but nothing is copied back to the caller. */
            status = STATUS_SUCCESS;
        } else {
            UCHAR reg = in[0];
            out[0] = g_registers[reg];
            information = 1;
            status = STATUS_SUCCESS;
        }
    } else if (code == QV_IOCTL_WRITE_REGISTER && in_len == 2 && out_len == 0) {
        if (fault_matches(FAULT_WRITE, in[0])) {
            status = STATUS_IO_DEVICE_ERROR;
        } else {
            g_registers[in[0]] = in[1];
            status = STATUS_SUCCESS;
        }
    }

    p = cappend(p, NT_SUCCESS(status) ? " ok\n" : " fail\n");
    log_write(g_line, (ULONG)(p - g_line));
    unlock();

    return complete(irp, status, information);
}

static NTSTATUS dispatch_unsupported(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* ---- load / unload ---- */

static void remove_ports(void)
{
    HANDLE key = NULL;
    WCHAR name[64];
    UNICODE_STRING u;
    ULONG i;

    if (!NT_SUCCESS(open_serialcomm(&key)))
        key = NULL;
    for (i = 0; i < QV_MAX_PORTS; i++) {
        struct port_ext *ext;
        if (!g_devices[i])
            continue;
        ext = g_devices[i]->DeviceExtension;
        if (ext->value_published && key) {
            device_name(name, ARRAYSIZE(name), ext->index);
            ustr(&u, name);
            ZwDeleteValueKey(key, &u);
        }
        unlink_port(ext);
        IoDeleteDevice(g_devices[i]);
        g_devices[i] = NULL;
    }
    if (key)
        ZwClose(key);
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    (void)driver;
    lock();
    remove_ports();
    if (g_log) {
        ZwClose(g_log);
        g_log = NULL;
    }
    unlock();
}

static NTSTATUS create_port(PDRIVER_OBJECT driver, HANDLE serialcomm, ULONG index, ULONG com)
{
    WCHAR dev_name[64], link_name[64], data[16];
    UNICODE_STRING dev_u, link_u, value_u;
    PDEVICE_OBJECT device;
    struct port_ext *ext;
    NTSTATUS status;

    device_name(dev_name, ARRAYSIZE(dev_name), index);
    ustr(&dev_u, dev_name);
    status = IoCreateDevice(driver, sizeof(*ext), &dev_u, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    g_devices[index] = device;
    ext = device->DeviceExtension;
    RtlZeroMemory(ext, sizeof(*ext));
    ext->index = index;
    ext->com = com;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    /* Another driver (Wine's mount manager maps host serial devices to
     * COM1, COM2, ...) may already own the name; the board takes it over. */
    dos_link_name(link_name, ARRAYSIZE(link_name), com);
    ustr(&link_u, link_name);
    IoDeleteSymbolicLink(&link_u);
    link_port(ext);
    if (!ext->linked && !fault_matches(FAULT_OPEN, 0))
        return STATUS_OBJECT_NAME_COLLISION;

    data[0] = 0;
    wappend(data, ARRAYSIZE(data), L"COM");
    wappend_dec(data, ARRAYSIZE(data), com);
    ustr(&value_u, dev_name);
    status = ZwSetValueKey(serialcomm, &value_u, 0, REG_SZ, data, (wlen(data) + 1) * sizeof(WCHAR));
    if (!NT_SUCCESS(status))
        return status;
    ext->value_published = TRUE;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    HANDLE serialcomm;
    NTSTATUS status;
    ULONG i;

    KeInitializeMutex(&g_lock, 0);

    status = read_parameters(registry_path);
    if (!NT_SUCCESS(status))
        goto fail;

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++)
        driver->MajorFunction[i] = dispatch_unsupported;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_ioctl;
    driver->DriverUnload = driver_unload;

    status = open_serialcomm(&serialcomm);
    if (!NT_SUCCESS(status)) {
        DbgPrint("quorvelsim: cannot open SERIALCOMM (0x%08lx)\n", status);
        goto fail;
    }
    for (i = 0; i < QV_MAX_PORTS && NT_SUCCESS(status); i++)
        if (g_port_present[i])
            status = create_port(driver, serialcomm, i, g_port_com[i]);
    ZwClose(serialcomm);
    if (!NT_SUCCESS(status)) {
        DbgPrint("quorvelsim: cannot create port %lu (0x%08lx)\n", i - 1, status);
        remove_ports();
        goto fail;
    }
    return STATUS_SUCCESS;

fail:
    if (g_log) {
        ZwClose(g_log);
        g_log = NULL;
    }
    return status;
}
