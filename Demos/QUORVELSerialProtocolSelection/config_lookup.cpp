#include "config_lookup.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace quorvel {
namespace {

constexpr std::size_t max_piece_length = 255;

// Keys and values are ASCII. A UTF-16 file is read as the same text in
// 8-bit characters: each ASCII character as itself, any other character as
// this byte, which is no white space and matches no key, "=" or "#". Each
// character, even one stored in two units, is one byte, so a line is cut
// after 255 characters as in an 8-bit file. (Notepad's "Unicode" and what
// Windows PowerShell 5.1's ">" and Out-File write by default is UTF-16 with
// a byte-order mark; anything else is read byte for byte.)
constexpr char non_ascii_character = '\x80';

bool is_white_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char ascii_upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_upper(a[i]) != ascii_upper(b[i])) {
            return false;
        }
    }
    return true;
}

constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

// The first count characters of text, or all of it. Unlike substr it has no
// out-of-range case to throw for, so the Windows programs, built without
// exceptions, carry none of the C++ runtime's exception code.
std::string_view first(std::string_view text, std::size_t count)
{
    return {text.data(), std::min(count, text.size())};
}

} // namespace

// The pieces that a 256-byte line buffer would hold. Whole blocks are read,
// so that a zero byte in the file cannot hide where a piece really ends.
ConfigPieces::ConfigPieces(std::FILE *file) : file_(file)
{
    std::array<unsigned char, 2> start{};
    const std::size_t count = std::fread(start.data(), 1, start.size(), file_);
    if (count == 2 && start[0] == 0xFF && start[1] == 0xFE) {
        encoding_ = Encoding::utf16_little_endian;
    } else if (count == 2 && start[0] == 0xFE && start[1] == 0xFF) {
        encoding_ = Encoding::utf16_big_endian;
    } else {
        std::copy_n(start.begin(), count, buffer_.begin());
        end_ = count;
        at_end_ = count == 0;
    }
}

ConfigPieces::ConfigPieces(std::string_view text) : text_(text) {}

std::optional<ConfigPiece> ConfigPieces::next()
{
    if (end_ - begin_ < max_piece_length && !at_end_) {
        refill();
    }
    if (begin_ == end_) {
        return std::nullopt;
    }
    const std::size_t available = std::min(end_ - begin_, max_piece_length);
    const char *start = buffer_.data() + begin_;
    const auto *line_feed = static_cast<const char *>(std::memchr(start, '\n', available));
    const std::size_t length = line_feed != nullptr ? static_cast<std::size_t>(line_feed - start) + 1 : available;
    begin_ += length;
    std::string_view piece(start, length);
    const ConfigPiece result{piece, at_line_start_};
    at_line_start_ = piece.back() == '\n';
    if (std::exchange(at_file_start_, false) && first(piece, utf8_byte_order_mark.size()) == utf8_byte_order_mark) {
        piece.remove_prefix(utf8_byte_order_mark.size());
        return ConfigPiece{piece, result.starts_line};
    }
    return result;
}

void ConfigPieces::refill()
{
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < buffer_.size() && !at_end_) {
        std::size_t count = 0;
        if (file_ == nullptr) {
            count = std::min(text_.size(), buffer_.size() - end_);
            std::copy_n(text_.data(), count, buffer_.data() + end_);
            text_.remove_prefix(count);
        } else if (encoding_ == Encoding::bytes) {
            count = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
        } else {
            count = read_utf16(buffer_.data() + end_, buffer_.size() - end_);
        }
        end_ += count;
        at_end_ = count == 0;
    }
}

// Up to capacity characters of a UTF-16 file, one byte each.
std::size_t ConfigPieces::read_utf16(char *text, std::size_t capacity)
{
    std::size_t count = 0;
    while (count < capacity) {
        const auto unit = next_unit();
        if (!unit) {
            break;
        }
        // A high surrogate and the low one after it are one character;
        // a surrogate without its partner is a character of its own.
        if (*unit >= 0xD800 && *unit <= 0xDBFF) {
            const auto low = next_unit();
            if (low && (*low < 0xDC00 || *low > 0xDFFF)) {
                pending_unit_ = low;
            }
        }
        text[count++] = *unit < 0x80 ? static_cast<char>(*unit) : non_ascii_character;
    }
    return count;
}

// The next 16-bit unit; nothing at the end of the file, where a lone last
// byte is no unit and is dropped.
std::optional<unsigned> ConfigPieces::next_unit()
{
    if (pending_unit_) {
        return std::exchange(pending_unit_, std::nullopt);
    }
    std::array<unsigned char, 2> bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        return std::nullopt;
    }
    return encoding_ == Encoding::utf16_little_endian ? bytes[0] | (bytes[1] << 8U) : (bytes[0] << 8U) | bytes[1];
}

std::optional<std::string_view> setting_line_value(std::string_view line, std::string_view key)
{
    if (line.size() <= key.size() || line[key.size()] != '=' ||
        !equal_ignoring_ascii_case(first(line, key.size()), key)) {
        return std::nullopt;
    }
    std::string_view value = line;
    value.remove_prefix(key.size() + 1);
    while (!value.empty() && is_white_space(value.front())) {
        value.remove_prefix(1);
    }
    return first(value, value.find_first_of(std::string_view("\r\n\0", 3)));
}

namespace {

std::optional<ConfigValue> find_in_pieces(std::string_view key, ConfigPieces &pieces)
{
    while (const auto piece = pieces.next()) {
        // The rest of a line too long for one piece is never a line of its own.
        if (!piece->starts_line || piece->text.empty() || piece->text.front() == '#') {
            continue;
        }
        if (const auto value = setting_line_value(piece->text, key)) {
            return ConfigValue(*value);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<ConfigValue> find_config_value(std::string_view key, File file)
{
    if (!file) {
        return std::nullopt;
    }
    ConfigPieces pieces(file.get());
    return find_in_pieces(key, pieces);
}

std::optional<ConfigValue> find_config_value_in_text(std::string_view key, std::string_view text)
{
    ConfigPieces pieces(text);
    return find_in_pieces(key, pieces);
}

} // namespace quorvel
