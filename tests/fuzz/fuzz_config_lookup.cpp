// The settings lookup on arbitrary file bytes and keys.
//
// Input: a selector byte, a padding byte, then the key (for selectors 0x80
// and up, that many bytes less 0x80), then the file. Selectors below 0x80
// pick one of the tool's own keys in a letter case drawn from the
// selector's other bits, since those are the keys that real files hold. A
// padding byte p other than 0 puts a comment line before the file that
// brings the file's start to 256 - p bytes before the end of the lookup's
// first 8 KiB read, where a line is split between two reads. A file that
// starts with a UTF-16 byte-order mark is read as its characters; every
// file is also read once more saved as UTF-16.
#include "config_lookup.h"
#include "reference.h"
#include "settings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using quorvel::fuzz::require;

std::string with_case_flipped(std::string_view text, unsigned pattern)
{
    std::string flipped(text);
    unsigned letter = 0;
    for (char &c : flipped) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            if (((pattern >> (letter++ % 5)) & 1U) != 0) {
                c = static_cast<char>(c ^ 0x20);
            }
        }
    }
    return flipped;
}

std::optional<std::string> lookup(std::string_view key, std::string file_bytes)
{
    const auto value = quorvel::find_config_value(key, quorvel::fuzz::memory_file(file_bytes));
    return value ? std::optional<std::string>(value->text()) : std::nullopt;
}

// Somewhere in the file a physical line starts with key and "=", in any letter case.
bool has_setting_line(std::string_view file, std::string_view key)
{
    for (std::size_t start = 0; start < file.size();) {
        std::size_t at = start;
        if (start == 0 && file.substr(0, 3) == "\xEF\xBB\xBF") {
            at = 3;
        }
        if (file.size() > at + key.size() && file[at + key.size()] == '=' &&
            quorvel::fuzz::same_ignoring_ascii_case(file.substr(at, key.size()), key)) {
            return true;
        }
        const std::size_t line_feed = file.find('\n', start);
        start = line_feed == std::string_view::npos ? file.size() : line_feed + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    std::string_view input(reinterpret_cast<const char *>(data) + 2, size - 2);
    const unsigned selector = data[0];
    const unsigned padding = data[1];
    std::string key;
    if (selector < 0x80) {
        key = with_case_flipped(quorvel::setting_fields[selector % 4].key, selector >> 2);
    } else {
        key = std::string(input.substr(0, selector - 0x80));
        input.remove_prefix(key.size());
    }
    std::string padded;
    if (padding != 0) {
        constexpr std::size_t read_size = 8192;
        padded = "#" + std::string(read_size - 256 + padding - 2, '-') + "\n";
    }
    padded += input;
    const std::string_view file = padded;

    const auto value = lookup(key, std::string(file));
    const std::string text = quorvel::fuzz::as_8_bit_text(file);
    require(value == quorvel::fuzz::expected_config_value(key, text), "lookup agrees with the line-by-line reading");
    if (value && text == file) {
        require(value->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                "a value holds no CR, LF or NUL");
        require(value->size() + key.size() + 1 <= 255, "a value fits the line buffer after its key");
        require(file.find(*value) != std::string_view::npos, "a value is bytes of the file");
        require(has_setting_line(file, key), "a value comes from a line that starts with key=");
    }
    // The same characters saved as UTF-16, either byte order, read alike:
    // each byte as one unit, every byte above 0x7F as a non-ASCII character.
    std::string ascii(file);
    std::replace_if(
        ascii.begin(), ascii.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }, '\x80');
    const auto ascii_value = quorvel::fuzz::expected_config_value(key, ascii);
    for (const bool big_endian : {false, true}) {
        std::string utf16 = big_endian ? "\xFE\xFF" : "\xFF\xFE";
        for (const char c : file) {
            utf16 += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
        }
        require(lookup(key, utf16) == ascii_value, "a UTF-16 file reads as the same text");
    }
    for (const unsigned pattern : {0x1FU, 0x0AU}) {
        require(lookup(with_case_flipped(key, pattern), std::string(file)) == value,
                "a key in another letter case finds the same value");
    }
    return 0;
}
