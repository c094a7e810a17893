// QUORVELSerialProtocolStatus: prints the board's registers 0x13 and 0x10
// and, when Configuration.ini in the working directory can be opened,
// whether the board holds what QUORVELSerialProtocolSelection would write
// from it. It never writes a register. With --json it prints the same as
// one JSON object (status_json.h) instead of its text.
#include "QUORVEL.h"
#include "settings.h"
#include "status_json.h"
#include "stdout_capture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr int scratch_register = 0x13;
constexpr unsigned scratch_register_value = 0xC0; // what the selection tool writes there
constexpr int protocol_register = 0x10;
// Bits 6 and 7 of the protocol register hold no setting: they are shown,
// never compared.
constexpr unsigned setting_bits = 0x3F;

// Exit statuses, for scripts that check and then apply; the others are
// those of quorvel::exit_status_of.
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

// Says which settings Configuration.ini lacks or gives no valid value for,
// and so take their default.
void report_defaults(const quorvel::SettingsFromFile &configured)
{
    for (std::size_t i = 0; i < quorvel::setting_fields.size(); ++i) {
        const quorvel::SettingSource source = configured.sources[i];
        if (source != quorvel::SettingSource::not_found && source != quorvel::SettingSource::not_valid) {
            continue;
        }
        const quorvel::SettingField &field = quorvel::setting_fields[i];
        std::printf("Configuration.ini: %.*s %s, using ", static_cast<int>(field.key.size()), field.key.data(),
                    source == quorvel::SettingSource::not_found ? "not found" : "is not valid");
        print_value(i, field.default_value);
        std::fputs("\n", stdout);
    }
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

struct BoardRead {
    bool opened = false; // QUORVEL_INIT succeeded
    bool read = false;   // and both registers were read
    unsigned char scratch = 0;
    unsigned char protocol = 0;
};

// The library prints why when a call fails.
BoardRead read_board()
{
    BoardRead board;
    board.opened = QUORVEL_INIT() == 0;
    if (!board.opened) {
        return board;
    }
    board.read =
        QUORVEL_READ(scratch_register, &board.scratch) == 0 && QUORVEL_READ(protocol_register, &board.protocol) == 0;
    QUORVEL_CLOSE();
    return board;
}

// What Configuration.ini lets the program say before any comparison:
// nothing when every setting was looked up in it.
std::optional<quorvel::BoardState> configuration_problem(const quorvel::SettingsFromFile &configured)
{
    const auto &sources = configured.sources;
    if (std::all_of(sources.begin(), sources.end(),
                    [](auto source) { return source == quorvel::SettingSource::no_file; })) {
        return quorvel::BoardState::configuration_not_found;
    }
    // There, but locked or kept from this account (or gone between two
    // opens): what it asks for is unknown, so nothing may count as a match.
    if (std::any_of(sources.begin(), sources.end(), [](auto source) {
            return source == quorvel::SettingSource::no_file || source == quorvel::SettingSource::cannot_open;
        })) {
        return quorvel::BoardState::configuration_cannot_be_opened;
    }
    if (std::any_of(sources.begin(), sources.end(),
                    [](auto source) { return source == quorvel::SettingSource::not_valid; })) {
        return quorvel::BoardState::configuration_not_valid;
    }
    return std::nullopt;
}

bool board_matches(const BoardRead &board, const quorvel::SettingsFromFile &configured)
{
    const auto wanted_word = static_cast<unsigned>(quorvel::protocol_register_word(configured.values));
    return board.scratch == scratch_register_value && (board.protocol & setting_bits) == wanted_word;
}

// The whole state as one JSON object. The library's message, printed while
// the board is read, goes into the object rather than before it.
int print_json_status()
{
    std::array<char, 256> message{};
    std::size_t message_size = 0;
    const auto capture = quorvel::capture_stdout();
    const BoardRead board = read_board();
    if (capture) {
        message_size = quorvel::end_capture(*capture, message.data(), message.size());
    }
    std::string_view library_message(message.data(), message_size);
    while (!library_message.empty() && std::strchr(" \t\r\n", library_message.back()) != nullptr) {
        library_message.remove_suffix(1);
    }

    const quorvel::SettingsFromFile configured = quorvel::settings_from_file("Configuration.ini");
    const std::optional<quorvel::BoardState> problem = configuration_problem(configured);
    const bool compared = !problem || *problem == quorvel::BoardState::configuration_not_valid;
    quorvel::BoardState state = quorvel::BoardState::board_not_read;
    if (board.read) {
        state = problem
                    ? *problem
                    : (board_matches(board, configured) ? quorvel::BoardState::matches : quorvel::BoardState::differs);
    }
    const auto registers = [&board](unsigned char value) {
        return board.read ? std::optional<unsigned>(value) : std::nullopt;
    };
    quorvel::write_status_json(
        stdout, {state, registers(board.scratch), registers(board.protocol),
                 compared ? std::optional<unsigned>(quorvel::protocol_register_word(configured.values)) : std::nullopt,
                 configured, library_message});
    return quorvel::exit_status_of(state);
}

} // namespace

int main(int argc, char *argv[])
{
    const bool json = argc == 2 && std::string_view(argv[1]) == "--json";
    if (argc > 1 && !json) {
        std::fputs("Usage: QUORVELSerialProtocolStatus [--json]\n"
                   "Prints the board's protocol register and compares it with Configuration.ini"
                   " in the working directory; --json prints it as one JSON object.\n",
                   stderr);
        return usage_error;
    }
    if (json) {
        return print_json_status();
    }
    std::fputs("QUORVEL Serial Protocol Status\n", stdout);

    const BoardRead board = read_board();
    if (!board.read) {
        if (board.opened) {
            std::fputs("\n", stdout); // the read message has no line end of its own
        }
        return quorvel::exit_status_of(quorvel::BoardState::board_not_read);
    }

    std::printf("Register 0x13: 0x%02X\nRegister 0x10: 0x%02X\n", board.scratch, board.protocol);
    const quorvel::Settings settings = quorvel::settings_in_word(board.protocol);
    print_pair("1 and 2", settings, 0, 2);
    print_pair("3 and 4", settings, 1, 3);

    const quorvel::SettingsFromFile configured = quorvel::settings_from_file("Configuration.ini");
    const std::optional<quorvel::BoardState> problem = configuration_problem(configured);
    if (problem == quorvel::BoardState::configuration_not_found) {
        // Also for people who only want to see the board.
        std::fputs("Configuration.ini not found: nothing to compare\n", stdout);
        return quorvel::exit_status_of(*problem);
    }
    if (problem == quorvel::BoardState::configuration_cannot_be_opened) {
        std::fputs("Configuration.ini cannot be opened: nothing to compare\n", stdout);
        return quorvel::exit_status_of(*problem);
    }
    report_defaults(configured);
    const bool matches = compare(board.scratch, board.protocol, configured);
    if (problem) {
        return quorvel::exit_status_of(*problem);
    }
    return quorvel::exit_status_of(matches ? quorvel::BoardState::matches : quorvel::BoardState::differs);
}
