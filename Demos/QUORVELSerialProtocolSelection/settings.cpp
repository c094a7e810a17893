#include "settings.h"

#include <algorithm>
#include <limits>

namespace quorvel {

std::optional<int> parse_setting_value(std::string_view text, int largest_value)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t first_digit = i;
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(std::numeric_limits<int>::max()) + 1) {
            return std::nullopt; // beyond what an int holds
        }
    }
    if (i == first_digit) {
        return std::nullopt;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value < 0 || value > largest_value) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

Setting setting_from_text(const SettingField &field, std::optional<std::string_view> text)
{
    if (!text) {
        return {field.default_value, SettingSource::not_found};
    }
    const auto value = parse_setting_value(*text, field.largest_value);
    if (!value) {
        return {field.default_value, SettingSource::not_valid};
    }
    return {*value, SettingSource::file};
}

int protocol_register_word(const Settings &settings)
{
    return settings[0] | (settings[1] << 2) | (settings[2] << 4) | (settings[3] << 5);
}

Settings settings_in_word(int word)
{
    return {word & 3, (word >> 2) & 3, (word >> 4) & 1, (word >> 5) & 1};
}

SettingsFromFile settings_from_text(std::string_view text)
{
    SettingsFromFile result{};
    for (std::size_t i = 0; i < setting_fields.size(); ++i) {
        result.texts[i] = find_config_value_in_text(setting_fields[i].key, text);
        const auto &value = result.texts[i];
        const Setting setting =
            setting_from_text(setting_fields[i], value ? std::optional<std::string_view>(*value) : std::nullopt);
        result.values[i] = setting.value;
        result.sources[i] = setting.source;
    }
    return result;
}

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool is_beyond_ascii(char c)
{
    return static_cast<unsigned char>(c) > 0x7E;
}

// The field whose key text names: after white space and bytes beyond ASCII,
// the key in any letter case, white space and "=".
std::optional<std::size_t> named_field(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && (is_blank(text[start]) || is_beyond_ascii(text[start]))) {
        ++start;
    }
    for (std::size_t field = 0; field < setting_fields.size(); ++field) {
        const std::string_view key = setting_fields[field].key;
        std::size_t end = start + key.size();
        if (end > text.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < key.size() && same; ++i) {
            const char c = text[start + i];
            same = (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == key[i];
        }
        while (same && end < text.size() && is_blank(text[end])) {
            ++end;
        }
        if (same && end < text.size() && text[end] == '=') {
            return field;
        }
    }
    return std::nullopt;
}

} // namespace

LinesNotRead lines_not_read(ConfigPieces &pieces)
{
    LinesNotRead result;
    const auto add = [&result](std::size_t line, std::size_t field, NotReadReason reason) {
        if (result.count < LinesNotRead::capacity) {
            result.lines[result.count] = {line, field, reason};
        }
        ++result.count;
    };
    // The value that the first line setting each field asks for (nothing:
    // one that is not valid); unset: no line has set it yet.
    std::array<std::optional<std::optional<int>>, setting_fields.size()> first_value{};
    std::size_t line = 1;
    while (const auto piece = pieces.next()) {
        const std::size_t number = line;
        std::string_view text = piece->text;
        if (text.back() == '\n') {
            ++line;
            text.remove_suffix(1);
        }
        if (!piece->starts_line) {
            if (const auto field = named_field(text)) {
                add(number, *field, NotReadReason::beyond_255_bytes);
            }
            continue;
        }
        // A carriage return ends a line only before its line feed: what
        // follows a lone one is still the same line.
        std::size_t lone_cr = 0;
        while ((lone_cr = text.find('\r', lone_cr)) != std::string_view::npos && lone_cr + 1 == text.size()) {
            text.remove_suffix(1);
        }
        // Not substr: its range check would link the C++ runtime's exception code.
        const std::string_view head(text.data(), lone_cr == std::string_view::npos ? text.size() : lone_cr);
        for (std::size_t from = head.size(); from < text.size();) {
            const std::size_t next = text.find('\r', from + 1);
            const std::string_view after(text.data() + from + 1,
                                         (next == std::string_view::npos ? text.size() : next) - from - 1);
            if (const auto field = named_field(after)) {
                add(number, *field, NotReadReason::after_lone_cr);
            }
            from = next == std::string_view::npos ? text.size() : next;
        }
        if (head.empty() || head.front() == '#') {
            continue;
        }
        const auto field = named_field(head);
        if (!field) {
            continue;
        }
        const SettingField &setting = setting_fields[*field];
        const auto value = setting_line_value(piece->text, setting.key);
        if (!value) {
            add(number, *field,
                is_blank(head.front())          ? NotReadReason::indented
                : is_beyond_ascii(head.front()) ? NotReadReason::byte_above_0x7e
                                                : NotReadReason::space_before_equals);
            continue;
        }
        if (std::any_of(head.begin(), head.end(), is_beyond_ascii)) {
            add(number, *field, NotReadReason::byte_above_0x7e);
        }
        const std::optional<int> asked = parse_setting_value(*value, setting.largest_value);
        if (!first_value[*field]) {
            first_value[*field] = asked;
        } else if (*first_value[*field] != asked) {
            add(number, *field, NotReadReason::later_duplicate);
        }
    }
    return result;
}

} // namespace quorvel
