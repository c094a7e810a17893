// Looking up one setting in Configuration.ini.
//
// A setting line starts in the first column with its key, immediately
// followed by "=", then optional white space and the value up to the end of
// the line. Lines starting with "#" are comments; anything else is ignored.
// Keys are compared without regard to ASCII letter case.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

namespace quorvel {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A value as it stands on its line. No value is longer than the 255-byte
// piece that holds it, so it lives in a fixed buffer: a lookup allocates
// nothing, and so cannot fail or throw for want of memory.
class ConfigValue {
  public:
    static constexpr std::size_t capacity = 255;

    // The first capacity bytes of text.
    explicit ConfigValue(std::string_view text) : size_(std::min(text.size(), capacity))
    {
        std::copy_n(text.data(), size_, chars_.begin());
    }

    [[nodiscard]] std::string_view text() const { return {chars_.data(), size_}; }
    operator std::string_view() const { return text(); } // NOLINT(google-explicit-constructor)

    friend bool operator==(const ConfigValue &value, std::string_view text) { return value.text() == text; }
    friend bool operator!=(const ConfigValue &value, std::string_view text) { return value.text() != text; }

  private:
    std::array<char, capacity> chars_{};
    std::size_t size_;
};

// The value of the first line that sets key, or nothing when no line does
// (or the file cannot be read). Takes the file over and closes it.
//
// The file is read in pieces of at most 255 bytes, each ending after a line
// feed when one comes first. Only a piece that starts a physical line is
// examined; the value ends at a carriage return, a line feed, a zero byte or
// the end of the piece. A UTF-8 byte-order mark at the start is skipped. A
// file that starts with a UTF-16 byte-order mark (little- or big-endian) is
// read as the same text in 8-bit characters would be: ASCII characters as
// themselves, every other character as one byte that matches nothing.
std::optional<ConfigValue> find_config_value(std::string_view key, File file);

} // namespace quorvel
