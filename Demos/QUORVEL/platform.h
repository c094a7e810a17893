// The seam between the portable library core and the operating system.
// The Windows backend (win/) passes these straight to Win32; the backend for
// every other platform (sim/) plays a machine with the board installed.
// Text crosses the seam as UTF-16 code units, which is what the Windows
// registry and file APIs speak, whatever the size of wchar_t.
#pragma once

#include <array>
#include <cstdint>

namespace quorvel::platform {

// Opaque values of the platform's registry key and file handles.
using KeyHandle = std::uintptr_t;
using DeviceHandle = std::intptr_t;

inline constexpr DeviceHandle null_device = 0;
// Windows' INVALID_HANDLE_VALUE, which CreateFileW returns on failure.
inline constexpr DeviceHandle invalid_device = -1;

// Windows error codes the core leaves in the thread's last error for
// failures it finds itself, where no platform call failed.
inline constexpr std::uint32_t error_file_not_found = 2;
inline constexpr std::uint32_t error_invalid_handle = 6;
inline constexpr std::uint32_t error_invalid_data = 13;
inline constexpr std::uint32_t error_invalid_parameter = 87;

// The calling thread's last error (GetLastError on Windows). Each function
// below leaves its failure's code there; the core keeps it across its own
// message so that a caller (a .NET declaration with SetLastError) reads why.
std::uint32_t last_error();
void set_last_error(std::uint32_t code);

// "\\.\COM" and up to eleven characters of a 32-bit number, plus the terminator.
using DevicePath = std::array<char16_t, 20>;

// Opens HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM for reading.
bool open_serial_port_map(KeyHandle &key);

// Reads the named value's data into buffer. On entry size holds the buffer's
// size in bytes; on success it holds the size of the data. Fails when the
// value is absent or its data does not fit.
bool query_value(KeyHandle key, const char16_t *name, std::uint8_t *buffer, std::uint32_t &size);

void close_key(KeyHandle key);

// Writes "\\.\COM<port_number>" into path.
void format_device_path(DevicePath &path, int port_number);

// Opens the device for reading and writing; invalid_device on failure.
DeviceHandle open_device(const char16_t *path);

// Sends one synchronous device request. True when the driver accepted it;
// bytes_returned then holds the number of bytes the driver put into output,
// which may be fewer than output_size (none at all for a reply without data).
bool send_device_request(DeviceHandle device, std::uint32_t code, const void *input, std::uint32_t input_size,
                         void *output, std::uint32_t output_size, std::uint32_t &bytes_returned);

// The platform's close result: non-zero when the handle was closed.
int close_device(DeviceHandle device);

} // namespace quorvel::platform
