// Reading a port number out of registry value data: arbitrary bytes, and
// every size up to theirs, in a buffer of exactly that size so that a read
// past it is caught.
#include "port_discovery.h"
#include "reference.h"

#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The data as the registry would show it: UTF-16 little-endian units up to
// the first zero unit; it names a port when it is COM (any case) and a
// decimal number from 1 to INT32_MAX, nothing else.
std::optional<std::int32_t> expected_com_number(const std::uint8_t *data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const unsigned unit = data[i] | (data[i + 1] << 8U);
        if (unit == 0) {
            break;
        }
        if (unit > 0x7F) {
            return std::nullopt;
        }
        text.push_back(static_cast<char>(unit));
    }
    if (text.size() < 4 || !quorvel::fuzz::same_ignoring_ascii_case(text.substr(0, 3), "COM") || text[3] < '0' ||
        text[3] > '9') {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data() + 3, text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number == 0 || number > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The whole input, then the sizes a shorter query could have returned
    // (the lookup reads 20 bytes at most, so the short ones matter most).
    for (std::size_t length = size;; length = length > 24 ? 24 : length - 1) {
        const auto copy = std::make_unique<std::uint8_t[]>(length);
        if (length != 0) {
            std::memcpy(copy.get(), data, length);
        }
        const auto number = quorvel::parse_com_number(copy.get(), length);
        quorvel::fuzz::require(number == expected_com_number(copy.get(), length),
                               "a port number only for COM and exactly that decimal number");
        if (number) {
            quorvel::fuzz::require(*number > 0, "a port number is positive");
        }
        if (length == 0) {
            break;
        }
    }
    return 0;
}
