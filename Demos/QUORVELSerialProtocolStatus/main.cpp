// QUORVELSerialProtocolStatus: prints the board's protocol register and,
// when Configuration.ini in the working directory can be opened, whether
// the board holds what QUORVELSerialProtocolSelection would write from it.
// It never writes a register.
#include "QUORVEL.h"
#include "settings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace {

constexpr int scratch_register = 0x13;
constexpr int protocol_register = 0x10;

// Exit statuses, for scripts that check and then apply.
constexpr int board_matches = 0;
constexpr int board_not_read = 1;
constexpr int board_differs = 2;
constexpr int usage_error = 3;

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

// Compares the board's word with the one the selection tool would write.
int compare(int board_word, const quorvel::SettingsFromFile &configured)
{
    const int wanted_word = quorvel::protocol_register_word(configured.values);
    std::printf("Configuration.ini asks for 0x%02X\n", static_cast<unsigned>(wanted_word));
    const quorvel::Settings board = quorvel::settings_in_word(board_word);
    bool field_differs = false;
    for (std::size_t i = 0; i < board.size(); ++i) {
        if (board[i] != configured.values[i]) {
            field_differs = true;
            std::printf("%.*s: board ", static_cast<int>(field_names[i].size()), field_names[i].data());
            print_value(i, board[i]);
            std::fputs(", Configuration.ini ", stdout);
            print_value(i, configured.values[i]);
            std::fputs("\n", stdout);
        }
    }
    if (board_word == wanted_word) {
        std::fputs("The board matches Configuration.ini\n", stdout);
        return board_matches;
    }
    if (!field_differs) {
        std::printf("Bits 6 and 7: board 0x%02X, Configuration.ini 0x%02X\n", static_cast<unsigned>(board_word & 0xC0),
                    static_cast<unsigned>(wanted_word & 0xC0));
    }
    std::fputs("The board differs from Configuration.ini\n", stdout);
    return board_differs;
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
    if (std::all_of(configured.sources.begin(), configured.sources.end(),
                    [](quorvel::SettingSource source) { return source == quorvel::SettingSource::no_file; })) {
        return board_matches;
    }
    return compare(protocol, configured);
}
