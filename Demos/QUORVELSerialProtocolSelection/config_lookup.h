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

// The pieces of a settings file, as the programs read them: at most 255
// bytes each, ending after a line feed when one comes first. A UTF-8
// byte-order mark at the start is taken away; a file that starts with a
// UTF-16 byte-order mark (little- or big-endian) is read as the same text
// in 8-bit characters would be: ASCII characters as themselves, every other
// character as one byte (0x80) that matches nothing. Text given in memory
// is read the same way, byte for byte.
struct ConfigPiece {
    std::string_view text;
    bool starts_line; // false: the rest of a line too long for one piece
};

class ConfigPieces {
  public:
    explicit ConfigPieces(std::FILE *file);
    explicit ConfigPieces(std::string_view text);

    std::optional<ConfigPiece> next();

  private:
    void refill();
    std::size_t read_utf16(char *text, std::size_t capacity);
    std::optional<unsigned> next_unit();

    enum class Encoding { bytes, utf16_little_endian, utf16_big_endian };
    std::FILE *file_ = nullptr;
    std::string_view text_; // without a file: what is left of the text
    Encoding encoding_ = Encoding::bytes;
    std::optional<unsigned> pending_unit_;
    std::array<char, 8192> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
    bool at_line_start_ = true;
    bool at_file_start_ = true;
};

// The value of a piece that starts a line and sets key (the key in any
// letter case in the first column, "=" right after it): after leading
// white space, up to a carriage return, a line feed, a zero byte or the end
// of the piece. Nothing when the line sets no such key.
std::optional<std::string_view> setting_line_value(std::string_view line, std::string_view key);

// The value of the first line that sets key, or nothing when no line does
// (or the file cannot be read). Takes the file over and closes it.
//
// The file is read in ConfigPieces; only a piece that starts a physical
// line is examined (setting_line_value). Lines starting with "#" are
// comments.
std::optional<ConfigValue> find_config_value(std::string_view key, File file);
// The same, for settings held in memory.
std::optional<ConfigValue> find_config_value_in_text(std::string_view key, std::string_view text);

} // namespace quorvel
