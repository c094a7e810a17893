// Backend for platforms other than Windows: a simulated machine with the
// board installed, played by the directory named in QUORVEL_SIM_DIR.
// A failure leaves Windows' error code for it in errno, this platform's
// last error.
//
//   SERIALCOMM     the serial-port map, one NAME=DATA line per value (UTF-8)
//   COMn           the board's 256 registers as reached through port n
//   faults         optional lines (RR two hex digits, or * for every register):
//                    open          the port does not open
//                    read RR       read-register requests for RR are rejected
//                    read-empty RR they are accepted but return no byte
//                                  (bytes returned 0, the output untouched)
//                    write RR      write-register requests for RR are rejected
//   requests.log   one line appended per open, request and close
//
// It behaves as the registry and the board driver do on Windows, so the
// library and the tool run end to end here.
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quorvel::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t read_register_request = 0x80052034;
constexpr std::uint32_t write_register_request = 0x80052038;

// Windows' codes for the failures played here, the ones the registry and
// the board's driver give there.
constexpr std::uint32_t error_invalid_function = 1;
constexpr std::uint32_t error_sharing_violation = 32;
constexpr std::uint32_t error_more_data = 234;
constexpr std::uint32_t error_io_device = 1117;

// The thread's last error here is errno, which holds the Windows code.
bool failure(std::uint32_t code)
{
    errno = static_cast<int>(code);
    return false;
}

std::optional<fs::path> machine_directory()
{
    const char *directory = std::getenv("QUORVEL_SIM_DIR");
    if (directory == nullptr || *directory == '\0') {
        return std::nullopt;
    }
    std::error_code error;
    if (!fs::is_directory(directory, error)) {
        return std::nullopt;
    }
    return fs::path(directory);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(FileDescriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&) = delete;
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    [[nodiscard]] int get() const { return fd_; }

  private:
    int fd_;
};

// Bytes in a UTF-8 sequence that starts with lead; 0 for a byte that
// cannot start one.
std::size_t utf8_sequence_length(unsigned char lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Decodes UTF-8; a malformed sequence becomes U+FFFD, as the registry
// editor would show it.
std::u16string to_utf16(std::string_view text)
{
    constexpr char32_t smallest_of_length[] = {0, 0, 0x80, 0x800, 0x10000};
    std::u16string result;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8_sequence_length(lead);
        bool valid = length != 0 && i + length <= text.size();
        char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code_point = (code_point << 6) | (next & 0x3F);
        }
        valid = valid && code_point >= smallest_of_length[length] && code_point <= 0x10FFFF &&
                (code_point < 0xD800 || code_point > 0xDFFF);
        if (!valid) {
            result.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code_point >= 0x10000) {
            code_point -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(code_point));
        }
        i += length;
    }
    return result;
}

// Registry value names are compared without regard to case.
bool equal_names(std::u16string_view a, std::u16string_view b)
{
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; };
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

// The file's lines without their LF or CRLF ends; none when it cannot be read.
// Plain stdio keeps the library small and quick to load.
std::vector<std::string> read_lines(const fs::path &file)
{
    std::vector<std::string> lines;
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> stream(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!stream) {
        return lines;
    }
    std::string line;
    auto end_line = [&] {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        line.clear();
    };
    for (int c = std::getc(stream.get()); c != EOF; c = std::getc(stream.get())) {
        if (c == '\n') {
            end_line();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    if (!line.empty()) {
        end_line();
    }
    return lines;
}

// The values of one open serial-port map, by name.
using SerialPortMap = std::vector<std::pair<std::u16string, std::u16string>>;

// The process's open map keys.
struct OpenKeys {
    std::map<KeyHandle, SerialPortMap> maps;
    KeyHandle next_key = 0x80;
};

OpenKeys &open_keys()
{
    static OpenKeys instance;
    return instance;
}

struct Fault {
    std::string kind;
    std::optional<int> reg; // nothing for every register
};

std::vector<Fault> read_faults(const fs::path &directory)
{
    std::vector<Fault> faults;
    for (const std::string &line : read_lines(directory / "faults")) {
        const auto space = line.find(' ');
        Fault fault{line.substr(0, space), std::nullopt};
        if (space != std::string::npos) {
            const std::string reg = line.substr(space + 1);
            if (reg != "*") {
                char *end = nullptr;
                fault.reg = static_cast<int>(std::strtol(reg.c_str(), &end, 16));
            }
        }
        faults.push_back(std::move(fault));
    }
    return faults;
}

bool has_fault(const fs::path &directory, std::string_view kind, std::optional<int> reg = std::nullopt)
{
    const std::vector<Fault> faults = read_faults(directory);
    return std::any_of(faults.begin(), faults.end(),
                       [&](const Fault &fault) { return fault.kind == kind && (!fault.reg || fault.reg == reg); });
}

void append_log(const fs::path &directory, const std::string &line)
{
    const FileDescriptor log(
        ::open((directory / "requests.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (log.get() < 0) {
        return;
    }
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(log.get(), text.data(), text.size());
}

struct OpenPort {
    fs::path directory;
    int number;
    FileDescriptor registers;
};

std::string port_name(const OpenPort &port)
{
    return "COM" + std::to_string(port.number);
}

// The process's open ports. The operating system closes a handle still open
// when the process ends; the destructor does the same.
struct OpenPorts {
    std::map<DeviceHandle, OpenPort> ports;
    DeviceHandle next_handle = 0x100;

    OpenPorts() = default;
    OpenPorts(const OpenPorts &) = delete;
    OpenPorts &operator=(const OpenPorts &) = delete;
    ~OpenPorts()
    {
        for (const auto &[handle, port] : ports) {
            append_log(port.directory, port_name(port) + " close");
        }
    }
};

OpenPorts &open_ports()
{
    static OpenPorts instance;
    return instance;
}

// The port number in a path "\\.\COMn", or nothing.
std::optional<int> port_number_of(std::u16string_view path)
{
    constexpr std::u16string_view prefix = u"\\\\.\\COM";
    if (path.size() <= prefix.size() || !equal_names(path.substr(0, prefix.size()), prefix) ||
        path.size() > prefix.size() + 9) {
        return std::nullopt;
    }
    int number = 0;
    for (const char16_t unit : path.substr(prefix.size())) {
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        number = number * 10 + (unit - u'0');
    }
    return number;
}

std::string request_line(const OpenPort &port, std::uint32_t code, const void *input, std::uint32_t input_size,
                         std::uint32_t output_size, bool accepted)
{
    char code_text[9];
    std::snprintf(code_text, sizeof code_text, "%08x", static_cast<unsigned>(code));
    std::string line = port_name(port) + " " + code_text + " ";
    for (std::uint32_t i = 0; input != nullptr && i < input_size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<const unsigned char *>(input)[i]);
        line += pair;
    }
    return line + " " + std::to_string(output_size) + (accepted ? " ok" : " fail");
}

bool serve_request(const OpenPort &port, std::uint32_t code, const void *input, std::uint32_t input_size, void *output,
                   std::uint32_t output_size, std::uint32_t &bytes_returned)
{
    bytes_returned = 0;
    if (input == nullptr) {
        return failure(error_invalid_function);
    }
    const auto *bytes = static_cast<const unsigned char *>(input);
    if (code == read_register_request && input_size == 1 && output_size == 1 && output != nullptr) {
        if (has_fault(port.directory, "read", bytes[0])) {
            return failure(error_io_device);
        }
        if (has_fault(port.directory, "read-empty", bytes[0])) {
            return true;
        }
        unsigned char value = 0; // past the end of the file the registers read as zero
        if (::pread(port.registers.get(), &value, 1, bytes[0]) < 0) {
            return failure(error_io_device);
        }
        *static_cast<unsigned char *>(output) = value;
        bytes_returned = 1;
        return true;
    }
    if (code == write_register_request && input_size == 2 && output_size == 0) {
        if (has_fault(port.directory, "write", bytes[0])) {
            return failure(error_io_device);
        }
        return ::pwrite(port.registers.get(), &bytes[1], 1, bytes[0]) == 1 || failure(error_io_device);
    }
    return failure(error_invalid_function);
}

} // namespace

std::uint32_t last_error()
{
    return static_cast<std::uint32_t>(errno);
}

void set_last_error(std::uint32_t code)
{
    errno = static_cast<int>(code);
}

bool open_serial_port_map(KeyHandle &key)
{
    const auto directory = machine_directory();
    std::error_code error;
    if (!directory || !fs::is_regular_file(*directory / "SERIALCOMM", error)) {
        return failure(error_file_not_found);
    }
    OpenKeys &keys = open_keys();
    key = keys.next_key++;
    SerialPortMap &map = keys.maps[key];
    for (const std::string &line : read_lines(*directory / "SERIALCOMM")) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            map.emplace_back(to_utf16(line.substr(0, equals)), to_utf16(line.substr(equals + 1)));
        }
    }
    return true;
}

bool query_value(KeyHandle key, const char16_t *name, std::uint8_t *buffer, std::uint32_t &size)
{
    const auto &maps = open_keys().maps;
    const auto map = maps.find(key);
    if (map == maps.end()) {
        return failure(error_invalid_handle);
    }
    for (const auto &[value_name, data] : map->second) {
        if (!equal_names(value_name, name)) {
            continue;
        }
        // A registry string comes back with its terminating zero unit,
        // little-endian, and only when it fits the caller's buffer.
        const auto data_size = static_cast<std::uint32_t>((data.size() + 1) * 2);
        if (data_size > size) {
            size = data_size;
            return failure(error_more_data);
        }
        for (std::size_t i = 0; i <= data.size(); ++i) {
            const char16_t unit = i < data.size() ? data[i] : u'\0';
            buffer[2 * i] = static_cast<std::uint8_t>(unit & 0xFF);
            buffer[2 * i + 1] = static_cast<std::uint8_t>(unit >> 8);
        }
        size = data_size;
        return true;
    }
    return failure(error_file_not_found);
}

void close_key(KeyHandle key)
{
    open_keys().maps.erase(key);
}

void format_device_path(DevicePath &path, int port_number)
{
    char narrow[std::tuple_size_v<DevicePath>];
    const int length = std::snprintf(narrow, sizeof narrow, "\\\\.\\COM%d", port_number);
    for (int i = 0; i <= length && i < static_cast<int>(path.size()); ++i) {
        path[i] = static_cast<char16_t>(narrow[i]);
    }
}

DeviceHandle open_device(const char16_t *path)
{
    const auto directory = machine_directory();
    const auto number = port_number_of(path);
    if (!directory || !number || has_fault(*directory, "open")) {
        failure(error_file_not_found);
        return invalid_device;
    }
    OpenPorts &state = open_ports();
    for (const auto &[handle, port] : state.ports) {
        if (port.number == *number) {
            failure(error_sharing_violation);
            return invalid_device;
        }
    }
    const std::string file_name = "COM" + std::to_string(*number);
    FileDescriptor registers(::open((*directory / file_name).c_str(), O_RDWR | O_CLOEXEC));
    if (registers.get() < 0) {
        failure(error_file_not_found);
        return invalid_device;
    }
    const DeviceHandle handle = state.next_handle;
    state.next_handle += 4;
    const auto &port = state.ports.emplace(handle, OpenPort{*directory, *number, std::move(registers)}).first->second;
    append_log(port.directory, port_name(port) + " open");
    return handle;
}

bool send_device_request(DeviceHandle device, std::uint32_t code, const void *input, std::uint32_t input_size,
                         void *output, std::uint32_t output_size, std::uint32_t &bytes_returned)
{
    bytes_returned = 0;
    const auto &ports = open_ports().ports;
    const auto found = ports.find(device);
    if (found == ports.end()) {
        return failure(error_invalid_handle);
    }
    const OpenPort &port = found->second;
    const bool accepted = serve_request(port, code, input, input_size, output, output_size, bytes_returned);
    append_log(port.directory, request_line(port, code, input, input_size, output_size, accepted));
    return accepted;
}

int close_device(DeviceHandle device)
{
    auto &ports = open_ports().ports;
    const auto found = ports.find(device);
    if (found == ports.end()) {
        return 0;
    }
    append_log(found->second.directory, port_name(found->second) + " close");
    ports.erase(found);
    return 1;
}

} // namespace quorvel::platform
