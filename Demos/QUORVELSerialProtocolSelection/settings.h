// The four settings of the protocol register and how they are packed.
#pragma once

#include "config_lookup.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

namespace quorvel {

struct SettingField {
    std::string_view key;   // in Configuration.ini
    std::string_view label; // in the messages
    int default_value;
    std::string_view default_name; // printed with the default
    int largest_value;             // the field's width in the register
};

// In the order they are looked up and packed.
inline constexpr std::array<SettingField, 4> setting_fields{{
    {"PROTOCOL_FOR_PORTS_1_AND_2", "Protocol_1_2_ports", 2, "RS232", 3},
    {"PROTOCOL_FOR_PORTS_3_AND_4", "Protocol_3_4_ports", 2, "RS232", 3},
    {"SLEW_RATE_FOR_PORTS_1_AND_2", "Slew_1_2_ports", 0, "Low", 1},
    {"SLEW_RATE_FOR_PORTS_3_AND_4", "Slew_3_4_ports", 0, "Low", 1},
}};

using Settings = std::array<int, setting_fields.size()>;

// The number that "%d" reads from the start of text (leading white space,
// an optional sign, decimal digits; anything after them ignored), when
// there is one, it fits an int and lies between 0 and largest_value.
std::optional<int> parse_setting_value(std::string_view text, int largest_value);

// Where a setting's value came from.
enum class SettingSource {
    file,        // the value in Configuration.ini
    not_found,   // the default: no line sets the key
    not_valid,   // the default: the value is no number inside the field
    no_file,     // the default: there is no settings file
    cannot_open, // the default: the settings file is there but cannot be opened
};

struct Setting {
    int value;
    SettingSource source;
};

// The setting that the text looked up for field gives (nothing: the key was
// not found): its number when it is valid, otherwise the field's default.
Setting setting_from_text(const SettingField &field, std::optional<std::string_view> text);

// Bits 0-1 protocol of ports 1 and 2, bits 2-3 protocol of ports 3 and 4,
// bit 4 slew rate of ports 1 and 2, bit 5 slew rate of ports 3 and 4.
int protocol_register_word(const Settings &settings);

// The settings that a protocol register word holds; bits 6 and 7 hold none.
Settings settings_in_word(int word);

struct SettingsFromFile {
    Settings values;
    std::array<SettingSource, setting_fields.size()> sources;
    // Each value as its line holds it; nothing where no line sets the key
    // or the file could not be opened.
    std::array<std::optional<ConfigValue>, setting_fields.size()> texts;
};

// The settings that the file at path asks for, as the selection tool takes
// them: the file opened afresh for each setting, the key looked up and its
// value or the field's default. Inline, so that a program that only parses
// or packs settings links without the lookup.
inline SettingsFromFile settings_from_file(const char *path)
{
    SettingsFromFile result{};
    for (std::size_t i = 0; i < setting_fields.size(); ++i) {
        const SettingField &field = setting_fields[i];
        errno = 0;
        File file(std::fopen(path, "r"));
        // Windows' C runtime says ENOENT only where the file is not there;
        // one that another program locked or whose access list keeps this
        // account out gives EACCES.
        const SettingSource failure = errno == ENOENT ? SettingSource::no_file : SettingSource::cannot_open;
        const bool opened = file != nullptr;
        if (opened) {
            result.texts[i] = find_config_value(field.key, std::move(file));
        }
        const auto &text = result.texts[i];
        const Setting setting =
            opened ? setting_from_text(field, text ? std::optional<std::string_view>(*text) : std::nullopt)
                   : Setting{field.default_value, failure};
        result.values[i] = setting.value;
        result.sources[i] = setting.source;
    }
    return result;
}

// Why a line that names a key is not read as the line asks.
enum class NotReadReason {
    indented,            // white space before the key: a setting starts in the first column
    space_before_equals, // white space between the key and "="
    after_lone_cr,       // the key follows a lone carriage return, which ends a value, not a line
    later_duplicate,     // a line before it sets the key, to another value
    beyond_255_bytes,    // past the 255-byte piece that starts its line
    byte_above_0x7e,     // a byte that is no ASCII character (text beyond ASCII, a stray byte-order mark)
};

struct LineNotRead {
    std::size_t line;  // from 1, counting line feeds
    std::size_t field; // in setting_fields
    NotReadReason reason;
};

// The lines of a settings file that name a key (after any white space or
// bytes beyond ASCII, the key in any letter case, white space, "=") yet do
// not set it as they ask. Comments, blank lines and lines that name no key
// are never listed.
struct LinesNotRead {
    static constexpr std::size_t capacity = 16;
    std::array<LineNotRead, capacity> lines{};
    std::size_t count = 0; // all found; the first capacity of them are in lines

    [[nodiscard]] std::size_t listed() const { return count < capacity ? count : capacity; }
};

LinesNotRead lines_not_read(ConfigPieces &pieces);

// The lines not read of the file at path, opened as settings_from_file
// opens it; none when it cannot be opened.
inline LinesNotRead lines_not_read_in_file(const char *path)
{
    File file(std::fopen(path, "r"));
    if (!file) {
        return {};
    }
    ConfigPieces pieces(file.get());
    return lines_not_read(pieces);
}

// The settings that text held in memory asks for, as settings_from_file
// takes them from a file.
SettingsFromFile settings_from_text(std::string_view text);

} // namespace quorvel
