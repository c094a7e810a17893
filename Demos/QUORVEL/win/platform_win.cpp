// Windows backend: the registry's serial-port map and the board driver,
// reached through the Win32 API.
#include "platform.h"

#include "QUORVEL.h"

#include <windows.h>

namespace quorvel::platform {
namespace {

// UTF-16 text is handed to the wide Win32 calls as it is; wchar_t is 16 bits here.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t *wide(const char16_t *text)
{
    return reinterpret_cast<const wchar_t *>(text);
}

HKEY to_hkey(KeyHandle key)
{
    return reinterpret_cast<HKEY>(key);
}

HANDLE to_handle(DeviceHandle device)
{
    return reinterpret_cast<HANDLE>(device);
}

} // namespace

std::uint32_t last_error()
{
    return GetLastError();
}

void set_last_error(std::uint32_t code)
{
    SetLastError(code);
}

// The registry calls return their code instead of setting the last error:
// a failure's code is put there, as every other call of the seam leaves it.
bool open_serial_port_map(KeyHandle &key)
{
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &opened);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    key = reinterpret_cast<KeyHandle>(opened);
    return true;
}

bool query_value(KeyHandle key, const char16_t *name, std::uint8_t *buffer, std::uint32_t &size)
{
    DWORD type = 0;
    DWORD data_size = size;
    // ERROR_MORE_DATA (data longer than the buffer) fails like an absent value.
    const LSTATUS status = RegQueryValueExW(to_hkey(key), wide(name), nullptr, &type, buffer, &data_size);
    size = data_size;
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    return true;
}

void close_key(KeyHandle key)
{
    RegCloseKey(to_hkey(key));
}

void format_device_path(DevicePath &path, int port_number)
{
    // The \\.\ prefix reaches the device namespace; without it COM10 and
    // above would not be found.
    wsprintfW(reinterpret_cast<wchar_t *>(path.data()), L"\\\\.\\COM%d", port_number);
}

DeviceHandle open_device(const char16_t *path)
{
    // The board's first port is opened exclusively but for writers;
    // a serial driver refuses a second open anyway.
    HANDLE handle = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<DeviceHandle>(handle);
}

bool send_device_request(DeviceHandle device, std::uint32_t code, const void *input, std::uint32_t input_size,
                         void *output, std::uint32_t output_size, std::uint32_t &bytes_returned)
{
    // Without FILE_FLAG_OVERLAPPED on the open, DeviceIoControl returns
    // only when the driver has completed the request, with the count of
    // bytes the driver put into output. A driver may accept a request and
    // return fewer bytes than asked for, so the count goes to the caller.
    DWORD returned = 0;
    const BOOL accepted = DeviceIoControl(to_handle(device), code, const_cast<void *>(input), input_size, output,
                                          output_size, &returned, nullptr);
    bytes_returned = returned;
    return accepted != FALSE;
}

int close_device(DeviceHandle device)
{
    return CloseHandle(to_handle(device));
}

} // namespace quorvel::platform

// The library has no set-up of its own. Its one tear-down is the port: a
// host that unloads the DLL with FreeLibrary (reserved is null) and goes on
// running would otherwise keep the handle, and with it the port, which opens
// only once, until it exits, so a later QUORVEL_INIT would fail. At process
// exit (reserved is not null) nothing is done: the other threads are gone,
// Windows closes every handle itself, and little is safe to call then.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        QUORVEL_CLOSE();
    }
    return TRUE;
}
