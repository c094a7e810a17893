// The four exported operations and the library's module state.
#include "QUORVEL.h"

#include "platform.h"
#include "port_discovery.h"

#include <cstdint>
#include <cstdio>

namespace {

using quorvel::platform::DeviceHandle;

// The board driver's private requests: device type 0x8005, functions 0x80D
// and 0x80E, buffered, any access.
constexpr std::uint32_t read_register_request = 0x80052034;
constexpr std::uint32_t write_register_request = 0x80052038;

// Input of the write-register request: byte 0 the register offset, byte 1 the value.
struct RegisterRequest {
    std::uint8_t reg;
    std::uint8_t value;
};
static_assert(sizeof(RegisterRequest) == 2);

DeviceHandle device_handle = quorvel::platform::null_device;
quorvel::platform::DevicePath device_path{};
quorvel::PortNumbers port_numbers{};

bool device_is_open()
{
    return device_handle != quorvel::platform::null_device && device_handle != quorvel::platform::invalid_device;
}

// Library and caller share the C runtime's stdout, so messages appear in call order.
// Each message is flushed at once: the error messages have no line feed, and
// stdout to a pipe or file is fully buffered, so without the flush a message
// would be lost when the host ends without the C runtime's exit handling
// (ExitProcess, _exit, a crash), and would show up late, after the host's own
// output, in a host whose stdout belongs to another C runtime.
//
// The C runtime's writes may change the thread's last error, which by then
// holds why the call failed: it is put back after the message.
void print(const char *message)
{
    const std::uint32_t error = quorvel::platform::last_error();
    std::fputs(message, stdout);
    std::fflush(stdout);
    quorvel::platform::set_last_error(error);
}

// Fails a call whose reason the core found itself: the code goes into the
// thread's last error, then the message is printed.
int fail(std::uint32_t error, const char *message)
{
    quorvel::platform::set_last_error(error);
    print(message);
    return -1;
}

} // namespace

extern "C" int QUORVEL_CALL QUORVEL_INIT(void)
{
    // Discovery leaves the registry's code (no serial-port map, no value of
    // the board); a value that names no COM port leaves none of its own.
    quorvel::platform::set_last_error(0);
    if (quorvel::find_port_numbers(port_numbers) != 0) {
        const std::uint32_t error = quorvel::platform::last_error();
        return fail(error != 0 ? error : quorvel::platform::error_invalid_data, "Driver is not installed\n");
    }
    quorvel::platform::format_device_path(device_path, port_numbers[0]);
    // Serial ports open exclusively, so the handle from an earlier call
    // would make this open fail and be lost; let it go first.
    if (device_is_open()) {
        quorvel::platform::close_device(device_handle);
    }
    device_handle = quorvel::platform::open_device(device_path.data());
    if (device_handle == quorvel::platform::invalid_device) {
        print("Cannot open the file handle\n"); // the open's code stays
        return -1;
    }
    return 0;
}

extern "C" int QUORVEL_CALL QUORVEL_READ(int reg, unsigned char *value)
{
    const auto offset = static_cast<std::uint8_t>(reg);
    // The byte lands in a local first: *value changes only when the driver
    // both accepted the request and returned the byte. An accepted reply
    // without data leaves nothing to read, and is a failed read as well.
    constexpr const char *message = "Error in Reading...!";
    if (value == nullptr) {
        return fail(quorvel::platform::error_invalid_parameter, message);
    }
    if (!device_is_open()) {
        return fail(quorvel::platform::error_invalid_handle, message);
    }
    std::uint8_t byte = 0;
    std::uint32_t bytes_returned = 0;
    if (!quorvel::platform::send_device_request(device_handle, read_register_request, &offset, sizeof offset, &byte,
                                                sizeof byte, bytes_returned)) {
        print(message); // the driver's code stays
        return -1;
    }
    if (bytes_returned < sizeof byte) {
        return fail(quorvel::platform::error_invalid_data, message);
    }
    *value = byte;
    return 0;
}

extern "C" int QUORVEL_CALL QUORVEL_WRITE(int reg, int value)
{
    const RegisterRequest request{static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value)};
    std::uint32_t bytes_returned = 0; // a write has no reply data to count
    constexpr const char *message = "Error in Writing...!";
    if (!device_is_open()) {
        return fail(quorvel::platform::error_invalid_handle, message);
    }
    if (!quorvel::platform::send_device_request(device_handle, write_register_request, &request, sizeof request,
                                                nullptr, 0, bytes_returned)) {
        print(message); // the driver's code stays
        return -1;
    }
    return 0;
}

extern "C" int QUORVEL_CALL QUORVEL_CLOSE(void)
{
    // A closed handle's value may be given to another object, and closing
    // INVALID_HANDLE_VALUE reports success while closing nothing, so only a
    // handle that is open is closed, and it is forgotten once closed.
    if (!device_is_open()) {
        return 0;
    }
    const int closed = quorvel::platform::close_device(device_handle);
    if (closed != 0) {
        device_handle = quorvel::platform::null_device;
    }
    return closed;
}
