// Second, deliberately simple readings of the inputs that the fuzz targets
// compare the real code against. They work on whole physical lines and on
// the C library's own number parsing, so they share no logic (and no
// buffering) with the code under test.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config_lookup.h"

namespace quorvel::fuzz {

// Stops the run as a crash that libFuzzer records with its input.
[[noreturn]] inline void violated(const char *property)
{
    std::fprintf(stderr, "property violated: %s\n", property);
    __builtin_trap();
}

inline void require(bool holds, const char *property)
{
    if (!holds) {
        violated(property);
    }
}

// The tool's lines as the file holds them, each with its line feed (the
// last one may have none).
inline std::vector<std::string_view> physical_lines(std::string_view file)
{
    std::vector<std::string_view> lines;
    while (!file.empty()) {
        const std::size_t end = file.find('\n');
        const std::size_t length = end == std::string_view::npos ? file.size() : end + 1;
        lines.push_back(file.substr(0, length));
        file.remove_prefix(length);
    }
    return lines;
}

inline bool same_ignoring_ascii_case(std::string_view a, std::string_view b)
{
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
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

// What the settings lookup must answer: the first physical line whose first
// 255 bytes (after the byte-order mark on the first line) start with key
// and "=", outside comments; its value after leading white space, up to a
// CR, LF or NUL within those bytes.
inline std::optional<std::string> expected_config_value(std::string_view key, std::string_view file)
{
    constexpr std::size_t line_buffer = 255;
    constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
    bool first = true;
    for (const std::string_view line : physical_lines(file)) {
        std::string_view head = line.substr(0, line_buffer);
        if (first && head.substr(0, byte_order_mark.size()) == byte_order_mark) {
            head.remove_prefix(byte_order_mark.size());
        }
        first = false;
        if (head.empty() || head.front() == '#' || head.size() <= key.size() || head[key.size()] != '=' ||
            !same_ignoring_ascii_case(head.substr(0, key.size()), key)) {
            continue;
        }
        std::string_view value = head.substr(key.size() + 1);
        while (!value.empty() && std::string_view(" \t\n\v\f\r").find(value.front()) != std::string_view::npos) {
            value.remove_prefix(1);
        }
        return std::string(value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3))));
    }
    return std::nullopt;
}

// A file that starts with a UTF-16 byte-order mark as the lookup must see
// it: one byte a character, ASCII as itself, anything else as 0x80 (a
// surrogate pair being one character), a lone last byte dropped. Other
// files as they are.
inline std::string as_8_bit_text(std::string_view file)
{
    const bool little = file.substr(0, 2) == "\xFF\xFE";
    if (!little && file.substr(0, 2) != "\xFE\xFF") {
        return std::string(file);
    }
    std::vector<unsigned> units;
    for (std::size_t i = 2; i + 1 < file.size(); i += 2) {
        const auto first = static_cast<unsigned char>(file[i]);
        const auto second = static_cast<unsigned char>(file[i + 1]);
        units.push_back(little ? first | (second << 8U) : (first << 8U) | second);
    }
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i) {
        text += units[i] < 0x80 ? static_cast<char>(units[i]) : '\x80';
        if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
        }
    }
    return text;
}

// What the setting conversion must answer, as strtoll reads a decimal number.
inline std::optional<int> expected_setting_value(std::string_view text, int largest_value)
{
    const std::string terminated(text);
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(terminated.c_str(), &end, 10);
    if (end == terminated.c_str() || errno == ERANGE || value < 0 || value > largest_value) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// The file's bytes as a stream the lookup can take over, read from memory.
inline File memory_file(std::string &bytes)
{
    if (bytes.empty()) {
        return File(std::tmpfile());
    }
    return File(fmemopen(bytes.data(), bytes.size(), "rb"));
}

} // namespace quorvel::fuzz
