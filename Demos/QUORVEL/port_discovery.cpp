#include "port_discovery.h"

#include "platform.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace quorvel {
namespace {

// The board driver names its four port devices \Device\ser15x0 to \Device\ser15x3.
constexpr std::size_t port_digit_index = 14;

// Registry data is UTF-16 little-endian on every Windows machine.
char16_t code_unit_at(const std::uint8_t *data, std::size_t index)
{
    return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

bool equal_letter_ignoring_case(char16_t unit, char upper)
{
    return unit == static_cast<char16_t>(upper) || unit == static_cast<char16_t>(upper + ('a' - 'A'));
}

class SerialPortMap {
  public:
    SerialPortMap() : open_(platform::open_serial_port_map(key_)) {}
    ~SerialPortMap()
    {
        if (open_) {
            platform::close_key(key_);
        }
    }
    SerialPortMap(const SerialPortMap &) = delete;
    SerialPortMap &operator=(const SerialPortMap &) = delete;

    [[nodiscard]] bool is_open() const { return open_; }
    [[nodiscard]] platform::KeyHandle key() const { return key_; }

  private:
    platform::KeyHandle key_{};
    bool open_;
};

} // namespace

std::optional<std::int32_t> parse_com_number(const std::uint8_t *data, std::size_t size)
{
    std::size_t length = 0;
    while (length < size / 2 && code_unit_at(data, length) != 0) {
        ++length;
    }
    if (length < 4 || !equal_letter_ignoring_case(code_unit_at(data, 0), 'C') ||
        !equal_letter_ignoring_case(code_unit_at(data, 1), 'O') ||
        !equal_letter_ignoring_case(code_unit_at(data, 2), 'M')) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    for (std::size_t i = 3; i < length; ++i) {
        const char16_t unit = code_unit_at(data, i);
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        number = number * 10 + (unit - u'0');
        if (number > std::numeric_limits<std::int32_t>::max()) {
            return std::nullopt;
        }
    }
    if (number == 0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number);
}

void sort_port_numbers(PortNumbers &port_numbers)
{
    for (std::size_t i = 0; i < port_numbers.size(); ++i) {
        for (std::size_t j = i + 1; j < port_numbers.size(); ++j) {
            if (port_numbers[i] > port_numbers[j]) {
                std::swap(port_numbers[i], port_numbers[j]);
            }
        }
    }
}

int find_port_numbers(PortNumbers &port_numbers)
{
    const SerialPortMap map;
    if (!map.is_open()) {
        return -1;
    }
    char16_t value_name[] = u"\\Device\\ser15x0";
    // Twenty bytes hold "COM" with up to six digits and the terminator.
    std::array<std::uint8_t, 20> query_buffer{};
    for (std::size_t slot = 0; slot < port_numbers.size(); ++slot) {
        value_name[port_digit_index] = static_cast<char16_t>(u'0' + slot);
        auto size = static_cast<std::uint32_t>(query_buffer.size());
        if (!platform::query_value(map.key(), value_name, query_buffer.data(), size)) {
            return -1;
        }
        const auto number = parse_com_number(query_buffer.data(), std::min<std::size_t>(size, query_buffer.size()));
        if (!number) {
            return -1;
        }
        port_numbers[slot] = *number;
    }
    sort_port_numbers(port_numbers);
    return 0;
}

} // namespace quorvel
