// QUORVELSerialProtocolStatus: prints the board's registers 0x13 and 0x10
// and, when Configuration.ini in the working directory can be opened,
// whether the board holds what QUORVELSerialProtocolSelection would write
// from it. It never writes a register.
#include "QUORVEL.h"
#include "settings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace {

constexpr int scratch_register = 0x13;
constexpr unsigned scratch_register_value = 0xC0; // what the selection tool writes there
constexpr int protocol_register = 0x10;
// Bits 6 and 7 of the protocol register hold no setting: they are shown,
// never compared.
constexpr unsigned setting_bits = 0x3F;

// Exit statuses, for scripts that check and then apply.
constexpr int board_matches = 0;
constexpr int board_not_read = 1;
constexpr int board_differs = 2;
constexpr int usage_error = 3;
constexpr int configuration_not_valid = 4; // a value that is not valid, or a file that cannot be opened

// How the lines name each field, in the order of setting_fields.
constexpr std::array<std::string_view, quorvel::setting_fields.size()> field_names{
    "Ports 1 and 2 protocol",
    "Ports 3 and 4 protocol",
    "Ports 1 and 2 slew rate",
    "Ports 3 and 4 slew rate",
};

// The product names only each field's default: protocol 2 is RS232, slew
// rate 0 is Low.
void print_value(std::size_t field_index, int value)
{
    const quorvel::SettingField &field = quorvel::setting_fields[field_index];
    std::printf("%d", value);
    if (value == field.default_value) {
        std::printf(" (%.*s)", static_cast<int>(field.default_name.size()), field.default_name.data());
    }
}

void print_pair(const char *ports, const quorvel::Settings &board, std::size_t protocol, std::size_t slew)
{
    std::printf("Ports %s: protocol ", ports);
    print_value(protocol, board[protocol]);
    std::fputs(", slew rate ", stdout);
    print_value(slew, board[slew]);
    std::fputs("\n", stdout);
}

// Says which settings Configuration.ini lacks or gives no valid value for,
// and so take their default; true when a value is not valid.
bool report_defaults(const quorvel::SettingsFromFile &configured)
{
    bool not_valid = false;
    for (std::size_t i = 0; i < quorvel::setting_fields.size(); ++i) {
        const quorvel::SettingSource source = configured.sources[i];
        if (source != quorvel::SettingSource::not_found && source != quorvel::SettingSource::not_valid) {
            continue;
        }
        not_valid = not_valid || source == quorvel::SettingSource::not_valid;
        const quorvel::SettingField &field = quorvel::setting_fields[i];
        std::printf("Configuration.ini: %.*s %s, using ", static_cast<int>(field.key.size()), field.key.data(),
                    source == quorvel::SettingSource::not_found ? "not found" : "is not valid");
        print_value(i, field.default_value);
        std::fputs("\n", stdout);
    }
    return not_valid;
}

// Compares the board with what the selection tool would write: 0xC0 in
// register 0x13 and the settings word in bits 0-5 of register 0x10.
bool compare(unsigned scratch, unsigned protocol, const quorvel::SettingsFromFile &configured)
{
    const auto wanted_word = static_cast<unsigned>(quorvel::protocol_register_word(configured.values));
    std::printf("Configuration.ini asks for 0x%02X\n", wanted_word);
    if (scratch != scratch_register_value) {
        std::printf("Register 0x13: board 0x%02X, QUORVELSerialProtocolSelection writes 0x%02X\n", scratch,
                    scratch_register_value);
    }
    const quorvel::Settings board = quorvel::settings_in_word(static_cast<int>(protocol));
    for (std::size_t i = 0; i < board.size(); ++i) {
        if (board[i] != configured.values[i]) {
            std::printf("%.*s: board ", static_cast<int>(field_names[i].size()), field_names[i].data());
            print_value(i, board[i]);
            std::fputs(", Configuration.ini ", stdout);
            print_value(i, configured.values[i]);
            std::fputs("\n", stdout);
        }
    }
    const bool matches = scratch == scratch_register_value && (protocol & setting_bits) == wanted_word;
    std::fputs(matches ? "The board matches Configuration.ini\n" : "The board differs from Configuration.ini\n",
               stdout);
    return matches;
}

} // namespace

int main(int argc, char * /*argv*/[])
{
    if (argc > 1) {
        std::fputs("Usage: QUORVELSerialProtocolStatus\n"
                   "Prints the board's protocol register and compares it with Configuration.ini"
                   " in the working directory.\n",
                   stderr);
        return usage_error;
    }
    std::fputs("QUORVEL Serial Protocol Status\n", stdout);

    // The library has printed why when a call fails.
    if (QUORVEL_INIT() != 0) {
        return board_not_read;
    }
    unsigned char scratch = 0;
    unsigned char protocol = 0;
    const bool read = QUORVEL_READ(scratch_register, &scratch) == 0 && QUORVEL_READ(protocol_register, &protocol) == 0;
    QUORVEL_CLOSE();
    if (!read) {
        std::fputs("\n", stdout); // the read message has no line end of its own
        return board_not_read;
    }

    std::printf("Register 0x13: 0x%02X\nRegister 0x10: 0x%02X\n", scratch, protocol);
    const quorvel::Settings board = quorvel::settings_in_word(protocol);
    print_pair("1 and 2", board, 0, 2);
    print_pair("3 and 4", board, 1, 3);

    const quorvel::SettingsFromFile configured = quorvel::settings_from_file("Configuration.ini");
    const auto opened = std::count_if(configured.sources.begin(), configured.sources.end(), [](auto source) {
        return source != quorvel::SettingSource::no_file && source != quorvel::SettingSource::cannot_open;
    });
    if (std::all_of(configured.sources.begin(), configured.sources.end(),
                    [](auto source) { return source == quorvel::SettingSource::no_file; })) {
        // Also for people who only want to see the board.
        std::fputs("Configuration.ini not found: nothing to compare\n", stdout);
        return board_matches;
    }
    if (opened < static_cast<long>(configured.sources.size())) {
        // There, but locked or kept from this account (or gone between two
        // opens): what it asks for is unknown, so nothing may count as a match.
        std::fputs("Configuration.ini cannot be opened: nothing to compare\n", stdout);
        return configuration_not_valid;
    }
    const bool not_valid = report_defaults(configured);
    const bool matches = compare(scratch, protocol, configured);
    if (not_valid) {
        return configuration_not_valid;
    }
    return matches ? board_matches : board_differs;
}
