// The status program's JSON object on arbitrary bytes of Configuration.ini
// and of the library's message: the output is always one line of printable
// ASCII that a strict JSON reading (RFC 8259) takes whole, and each string
// comes back as its bytes read as UTF-8, every byte that forms no UTF-8
// character as U+00XX. The reading and the decoding here are written anew,
// sharing nothing with status_json.cpp.
//
// The lines not read come back in linesNotRead, each naming a key that its
// line of the file holds.
//
// Input: the length of the message (one byte, at most the rest), the
// message, then the file.
#include "config_lookup.h"
#include "reference.h"
#include "settings.h"
#include "status_json.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using quorvel::fuzz::require;

// A strict reader of one JSON value that keeps the members whose value is
// a string, their names and values as code points (surrogate pairs joined).
class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool document() { return value() && (skip_blanks(), at_ == text_.size()); }

    std::vector<std::pair<std::u32string, std::u32string>> string_members;

  private:
    void skip_blanks()
    {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool take(char c)
    {
        skip_blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool word(std::string_view w)
    {
        if (text_.substr(at_, w.size()) != w) {
            return false;
        }
        at_ += w.size();
        return true;
    }

    bool hex4(unsigned &unit)
    {
        unit = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            if (at_ >= text_.size()) {
                return false;
            }
            const char c = text_[at_];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return false;
            }
            unit = unit * 16 + static_cast<unsigned>(digit);
        }
        return true;
    }

    bool string()
    {
        if (!take('"')) {
            return false;
        }
        std::u32string decoded;
        while (at_ < text_.size() && text_[at_] != '"') {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c < 0x20) {
                return false;
            }
            if (c != '\\') {
                decoded += static_cast<char32_t>(c); // the output is ASCII: checked by the caller
                continue;
            }
            if (at_ >= text_.size()) {
                return false;
            }
            const char escape = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::u32string meaning = U"\"\\/\b\f\n\r\t";
            if (const auto where = simple.find(escape); where != std::string_view::npos) {
                decoded += meaning[where];
                continue;
            }
            unsigned unit = 0;
            if (escape != 'u' || !hex4(unit)) {
                return false;
            }
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                unsigned low = 0;
                if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                    return false; // a lone high surrogate is no character
                }
                unit = 0x10000 + ((unit - 0xD800) << 10U) + (low - 0xDC00);
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return false;
            }
            decoded += static_cast<char32_t>(unit);
        }
        if (at_ >= text_.size()) {
            return false;
        }
        ++at_;
        last_string_ = decoded;
        return true;
    }

    bool number()
    {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else {
            const std::size_t digits = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            if (at_ == digits) {
                return false;
            }
        }
        return at_ > start; // the object holds integers only
    }

    bool value()
    {
        skip_blanks();
        if (at_ >= text_.size()) {
            return false;
        }
        switch (text_[at_]) {
        case '{':
            ++at_;
            if (take('}')) {
                return true;
            }
            do {
                skip_blanks();
                if (!string()) {
                    return false;
                }
                const std::u32string name = last_string_;
                if (!take(':')) {
                    return false;
                }
                skip_blanks();
                const bool is_string = at_ < text_.size() && text_[at_] == '"';
                if (!value()) {
                    return false;
                }
                if (is_string) {
                    string_members.emplace_back(name, last_string_);
                }
            } while (take(','));
            return take('}');
        case '[':
            ++at_;
            if (take(']')) {
                return true;
            }
            do {
                if (!value()) {
                    return false;
                }
            } while (take(','));
            return take(']');
        case '"':
            return string();
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::u32string last_string_;
};

// Bytes as code points: well-formed UTF-8 decoded (by the rule of its
// lengths and ranges, Unicode's Table 3-7), any other byte as itself.
std::u32string as_code_points(std::string_view bytes)
{
    std::u32string result;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = [&](std::size_t k) { return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0U; };
        const unsigned lead = b(i);
        const auto in = [](unsigned v, unsigned low, unsigned high) { return v >= low && v <= high; };
        std::size_t length = 1;
        if (in(lead, 0xC2, 0xDF) && in(b(i + 1), 0x80, 0xBF)) {
            length = 2;
        } else if ((lead == 0xE0 && in(b(i + 1), 0xA0, 0xBF)) || (in(lead, 0xE1, 0xEC) && in(b(i + 1), 0x80, 0xBF)) ||
                   (lead == 0xED && in(b(i + 1), 0x80, 0x9F)) || (in(lead, 0xEE, 0xEF) && in(b(i + 1), 0x80, 0xBF))) {
            length = in(b(i + 2), 0x80, 0xBF) ? 3 : 1;
        } else if ((lead == 0xF0 && in(b(i + 1), 0x90, 0xBF)) || (in(lead, 0xF1, 0xF3) && in(b(i + 1), 0x80, 0xBF)) ||
                   (lead == 0xF4 && in(b(i + 1), 0x80, 0x8F))) {
            length = in(b(i + 2), 0x80, 0xBF) && in(b(i + 3), 0x80, 0xBF) ? 4 : 1;
        }
        char32_t code_point = length == 1 ? lead : lead & (0xFFU >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            code_point = (code_point << 6U) | (b(i + k) & 0x3FU);
        }
        result += code_point;
        i += length;
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char *>(data) + 1, size - 1);
    const std::string_view message = input.substr(0, std::min<std::size_t>(data[0], input.size()));
    const std::string_view file = input.substr(message.size());

    quorvel::SettingsFromFile configured{};
    for (std::size_t i = 0; i < quorvel::setting_fields.size(); ++i) {
        std::string bytes(file);
        configured.texts[i] =
            quorvel::find_config_value(quorvel::setting_fields[i].key, quorvel::fuzz::memory_file(bytes));
        const auto &text = configured.texts[i];
        const quorvel::Setting setting = quorvel::setting_from_text(
            quorvel::setting_fields[i], text ? std::optional<std::string_view>(*text) : std::nullopt);
        configured.values[i] = setting.value;
        configured.sources[i] = setting.source;
    }
    const auto state = static_cast<quorvel::BoardState>(size % 6);
    const auto word = static_cast<unsigned>(quorvel::protocol_register_word(configured.values));

    char *output = nullptr;
    std::size_t output_size = 0;
    std::FILE *out = open_memstream(&output, &output_size);
    require(out != nullptr, "a memory stream");
    quorvel::ConfigPieces pieces(file);
    const quorvel::LinesNotRead lines = quorvel::lines_not_read(pieces);
    // A Windows error code up to the largest (0xE0434352 and the like), or none.
    const auto windows_error = (data[0] & 1U) != 0 ? std::optional<std::uint32_t>(0xFFFFFF00U | data[0]) : std::nullopt;
    quorvel::write_status_json(out, {state, data[0], std::nullopt, word, configured, message, lines, windows_error});
    std::fclose(out);
    const std::string json(output, output_size);
    std::free(output);

    require(!json.empty() && json.back() == '\n' && json.find('\n') == json.size() - 1, "one line");
    for (const char c : json.substr(0, json.size() - 1)) {
        require(c >= 0x20 && c < 0x7F, "printable ASCII only");
    }
    JsonReader reader(json);
    require(reader.document(), "the output parses as JSON");
    // The settings' texts that are strings, in order, then the message.
    std::vector<std::u32string> texts;
    for (const auto &[name, value] : reader.string_members) {
        if (name == U"text" || name == U"message") {
            texts.push_back(value);
        }
    }
    std::size_t next = 0;
    for (const auto &text : configured.texts) {
        if (text) {
            require(next < texts.size() && texts[next++] == as_code_points(*text),
                    "a value comes back as its characters");
        }
    }
    if (!message.empty()) {
        require(next < texts.size() && texts[next] == as_code_points(message),
                "the message comes back as its characters");
    }
    // After the four settings' keys, one key and one reason per line listed.
    // The names the JSON promises, in the order of NotReadReason.
    const std::vector<std::u32string> reason_names{U"indented",       U"spaceBeforeEquals", U"afterLoneCR",
                                                   U"laterDuplicate", U"beyond255Bytes",    U"byteAbove0x7E"};
    std::vector<std::u32string> keys;
    std::vector<std::u32string> reasons;
    for (const auto &[name, value] : reader.string_members) {
        if (name == U"key" || name == U"reason") {
            (name == U"key" ? keys : reasons).push_back(value);
        }
    }
    require(keys.size() == quorvel::setting_fields.size() + lines.listed() && reasons.size() == lines.listed(),
            "a key and a reason for each line not read");
    // Each line listed holds its key, in any letter case (its number
    // counted in line feeds of the bytes; a UTF-16 file's are not its bytes).
    const bool utf16 =
        file.size() >= 2 && ((file[0] == '\xFF' && file[1] == '\xFE') || (file[0] == '\xFE' && file[1] == '\xFF'));
    std::vector<std::string> file_lines(1);
    for (const char c : file) {
        if (c == '\n') {
            file_lines.emplace_back();
        } else {
            file_lines.back() += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
    for (std::size_t i = 0; i < lines.listed(); ++i) {
        const quorvel::LineNotRead &line = lines.lines[i];
        const std::string_view key = quorvel::setting_fields[line.field].key;
        require(keys[quorvel::setting_fields.size() + i] == std::u32string(key.begin(), key.end()) &&
                    reasons[i] == reason_names.at(static_cast<std::size_t>(line.reason)),
                "each line not read comes back with its key and reason");
        require(utf16 || (line.line >= 1 && line.line <= file_lines.size() &&
                          file_lines[line.line - 1].find(key) != std::string::npos),
                "a line not read holds the key it names");
    }
    return 0;
}
