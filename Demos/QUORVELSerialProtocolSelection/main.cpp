// QUORVELSerialProtocolSelection: sets the serial protocol and slew rate of
// the board's two port pairs from Configuration.ini in the working directory.
#include "QUORVEL.h"
#include "config_lookup.h"
#include "settings.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

constexpr int scratch_register = 0x13;
constexpr int scratch_register_value = 0xC0;
constexpr int protocol_register = 0x10;

// The setting's value from Configuration.ini, or its default. A missing
// key or a value that does not fit the field is reported; a file that
// cannot be opened is not.
int read_setting(const quorvel::SettingField &field)
{
    quorvel::File file(std::fopen("Configuration.ini", "r"));
    if (!file) {
        return field.default_value;
    }
    const quorvel::Setting setting =
        quorvel::setting_from_text(field, quorvel::find_config_value(field.key, std::move(file)));
    const auto label = static_cast<int>(field.label.size());
    const auto default_name = static_cast<int>(field.default_name.size());
    if (setting.source == quorvel::SettingSource::not_found) {
        std::printf("\n%.*s not found in the Configuration.ini file, using Default: %.*s", label, field.label.data(),
                    default_name, field.default_name.data());
    } else if (setting.source == quorvel::SettingSource::not_valid) {
        std::printf("\n%.*s value in the Configuration.ini file is not valid, using Default: %.*s", label,
                    field.label.data(), default_name, field.default_name.data());
    }
    return setting.value;
}

} // namespace

int main()
{
    std::fputs("\nQUORVEL Protocol Selection Demo", stdout);

    // The library has printed why when a call fails; the board is then not
    // configured, which the exit status tells a calling script.
    if (QUORVEL_INIT() != 0 || QUORVEL_WRITE(scratch_register, scratch_register_value) != 0) {
        return EXIT_FAILURE;
    }
    quorvel::Settings settings{};
    for (std::size_t i = 0; i < settings.size(); ++i) {
        settings[i] = read_setting(quorvel::setting_fields[i]);
    }
    if (QUORVEL_WRITE(protocol_register, quorvel::protocol_register_word(settings)) != 0) {
        return EXIT_FAILURE;
    }
    QUORVEL_CLOSE();
    std::fputs("\nQUORVEL Protocol Selection Completed", stdout);
    return EXIT_SUCCESS;
}
