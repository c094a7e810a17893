#include "settings.h"

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

} // namespace quorvel
