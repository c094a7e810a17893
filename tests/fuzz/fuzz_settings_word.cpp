// The tool's whole path from Configuration.ini's bytes to the protocol
// register word: four lookups, each value or its default, then the packing.
// A file with a UTF-16 byte-order mark is read as its characters.
#include "config_lookup.h"
#include "reference.h"
#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

using quorvel::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view file(reinterpret_cast<const char *>(data), size);
    quorvel::Settings settings{};
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const quorvel::SettingField &field = quorvel::setting_fields[i];
        std::string bytes(file);
        // As the tool does: the file opened afresh for every setting.
        const auto text = quorvel::find_config_value(field.key, quorvel::fuzz::memory_file(bytes));
        const quorvel::Setting setting = quorvel::setting_from_text(field, text);
        settings[i] = setting.value;
        require((setting.source == quorvel::SettingSource::not_found) == !text, "not found exactly when no line");

        const auto expected_text = quorvel::fuzz::expected_config_value(field.key, quorvel::fuzz::as_8_bit_text(file));
        const auto expected =
            expected_text ? quorvel::fuzz::expected_setting_value(*expected_text, field.largest_value) : std::nullopt;
        require(settings[i] == expected.value_or(field.default_value), "a setting is its value or its default");
        require(settings[i] >= 0 && settings[i] <= field.largest_value, "a setting lies inside its field");
    }

    const int word = quorvel::protocol_register_word(settings);
    require(word >= 0 && word < 0x40, "the word uses bits 0 to 5 only");
    const int fields[] = {word & 3, (word >> 2) & 3, (word >> 4) & 1, (word >> 5) & 1};
    for (std::size_t i = 0; i < settings.size(); ++i) {
        require(fields[i] == settings[i], "each field of the word holds its setting");
    }
    return 0;
}
