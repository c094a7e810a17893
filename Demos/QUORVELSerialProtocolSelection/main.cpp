// QUORVELSerialProtocolSelection: sets the serial protocol and slew rate of
// the board's two port pairs from Configuration.ini in the working directory.
#include "QUORVEL.h"
#include "config_lookup.h"
#include "settings.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int scratch_register = 0x13;
constexpr int scratch_register_value = 0xC0;
constexpr int protocol_register = 0x10;

// Says which settings took their default because Configuration.ini lacks
// the key or its value does not fit the field; a file that cannot be
// opened is not reported.
void report_defaults(const quorvel::SettingsFromFile &configured)
{
    for (std::size_t i = 0; i < quorvel::setting_fields.size(); ++i) {
        const quorvel::SettingField &field = quorvel::setting_fields[i];
        const auto label = static_cast<int>(field.label.size());
        const auto default_name = static_cast<int>(field.default_name.size());
        if (configured.sources[i] == quorvel::SettingSource::not_found) {
            std::printf("\n%.*s not found in the Configuration.ini file, using Default: %.*s", label,
                        field.label.data(), default_name, field.default_name.data());
        } else if (configured.sources[i] == quorvel::SettingSource::not_valid) {
            std::printf("\n%.*s value in the Configuration.ini file is not valid, using Default: %.*s", label,
                        field.label.data(), default_name, field.default_name.data());
        }
    }
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
    const quorvel::SettingsFromFile configured = quorvel::settings_from_file("Configuration.ini");
    report_defaults(configured);
    if (QUORVEL_WRITE(protocol_register, quorvel::protocol_register_word(configured.values)) != 0) {
        return EXIT_FAILURE;
    }
    QUORVEL_CLOSE();
    std::fputs("\nQUORVEL Protocol Selection Completed", stdout);
    return EXIT_SUCCESS;
}
