// QUORVELSerialProtocolStatus: prints the board's registers 0x13 and 0x10
// and, when Configuration.ini in the working directory (or --folder) can be
// opened, whether the board holds what QUORVELSerialProtocolSelection would
// write from it, and which of its lines the programs do not read. It never
// writes a register. With --json it prints the same as one JSON object
// (status_json.h) instead of its text.
//
// For the deployment scripts (deploy/), which only start it and pass its
// line and status on, it also judges for them (fleet.cpp): --line,
// --compliance, --applied, --install-carried; and --check FILE says whether
// a settings file would be read as written, without the board.
#include "QUORVEL.h"
#include "file_platform.h"
#include "fleet.h"
#include "settings.h"
#include "status_json.h"
#include "stdout_capture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
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

// The library prints why when a call fails, and leaves the Windows error
// code, taken before QUORVEL_CLOSE can change it.
quorvel::BoardRead read_board()
{
    quorvel::BoardRead board;
    board.opened = QUORVEL_INIT() == 0;
    if (!board.opened) {
        board.error = quorvel::library_error();
        return board;
    }
    board.read =
        QUORVEL_READ(scratch_register, &board.scratch) == 0 && QUORVEL_READ(protocol_register, &board.protocol) == 0;
    if (!board.read) {
        board.error = quorvel::library_error();
    }
    QUORVEL_CLOSE();
    return board;
}

// What Configuration.ini lets the program say before any comparison:
// nothing when every setting was looked up in it and every line that names
// a key is read as it asks.
std::optional<quorvel::BoardState> configuration_problem(const quorvel::SettingsFromFile &configured,
                                                         const quorvel::LinesNotRead &lines_not_read)
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
    // A line that does not set its key as it asks leaves the key at another
    // value than the administrator meant: no match either.
    if (lines_not_read.count > 0 || std::any_of(sources.begin(), sources.end(), [](auto source) {
            return source == quorvel::SettingSource::not_valid;
        })) {
        return quorvel::BoardState::configuration_not_valid;
    }
    return std::nullopt;
}

// "Configuration.ini line 3 is not read (indented): PROTOCOL_FOR_PORTS_1_AND_2"
void report_lines_not_read(const quorvel::LinesNotRead &lines)
{
    for (std::size_t i = 0; i < lines.listed(); ++i) {
        const quorvel::LineNotRead &line = lines.lines[i];
        const std::string_view reason = quorvel::reason_text(line.reason);
        const std::string_view key = quorvel::setting_fields[line.field].key;
        std::printf("Configuration.ini line %lu is not read (%.*s): %.*s\n", static_cast<unsigned long>(line.line),
                    static_cast<int>(reason.size()), reason.data(), static_cast<int>(key.size()), key.data());
    }
    if (lines.count > lines.listed()) {
        std::printf("Configuration.ini: %lu more lines are not read\n",
                    static_cast<unsigned long>(lines.count - lines.listed()));
    }
}

bool board_matches(const quorvel::BoardRead &board, const quorvel::SettingsFromFile &configured)
{
    const auto wanted_word = static_cast<unsigned>(quorvel::protocol_register_word(configured.values));
    return board.scratch == scratch_register_value && (board.protocol & setting_bits) == wanted_word;
}

// The whole state as one JSON object. The library's message, printed while
// the board is read, goes into the object rather than before it.
int print_json_status(const char *configuration_path)
{
    const quorvel::Observation seen = quorvel::observe(configuration_path);
    const auto registers = [&seen](unsigned char value) {
        return seen.board.read ? std::optional<unsigned>(value) : std::nullopt;
    };
    quorvel::write_status_json(
        stdout, {seen.state, registers(seen.board.scratch), registers(seen.board.protocol),
                 seen.compared ? std::optional<unsigned>(quorvel::protocol_register_word(seen.configured.values))
                               : std::nullopt,
                 seen.configured, std::string_view(seen.message.data(), seen.message_size), seen.lines_not_read,
                 seen.board.read ? std::nullopt : std::optional<std::uint32_t>(seen.board.error)});
    return quorvel::exit_status_of(seen.state);
}

constexpr const char *usage =
    "Usage: QUORVELSerialProtocolStatus [--json | --line | --compliance | --install-carried] [--folder FOLDER]"
    " [--applied STATUS]\n"
    "       QUORVELSerialProtocolStatus --check FILE\n"
    "Prints the board's protocol register and compares it with Configuration.ini in the working directory"
    " (or FOLDER); --json prints it as one JSON object. --check says whether FILE is read as written."
    " The other options are for the deployment scripts (see docs/DEPLOYING.md).\n";

struct Options {
    enum class Output { text, json, fleet, check } output = Output::text;
    quorvel::FleetMode fleet_mode = quorvel::FleetMode::line;
    const char *folder = nullptr;
    const char *check_file = nullptr;
    std::optional<int> applied;
};

// The options, or nothing when they are not a valid command line.
std::optional<Options> parse_options(int argc, char *argv[])
{
    Options options;
    int outputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "--json") {
            options.output = Options::Output::json;
            ++outputs;
        } else if (argument == "--line" || argument == "--compliance" || argument == "--install-carried") {
            options.output = Options::Output::fleet;
            options.fleet_mode = argument == "--line"         ? quorvel::FleetMode::line
                                 : argument == "--compliance" ? quorvel::FleetMode::compliance
                                                              : quorvel::FleetMode::install_carried;
            ++outputs;
        } else if (argument == "--check" && has_value) {
            options.output = Options::Output::check;
            options.check_file = argv[++i];
            ++outputs;
        } else if (argument == "--folder" && has_value && options.folder == nullptr) {
            options.folder = argv[++i];
        } else if (argument == "--applied" && has_value && !options.applied) {
            char *end = nullptr;
            const long status = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0') {
                return std::nullopt;
            }
            options.applied = static_cast<int>(status);
        } else {
            return std::nullopt;
        }
    }
    // One output; --applied only with --line; --check reads its file, not a folder.
    if (outputs > 1 || (options.applied &&
                        (options.output != Options::Output::fleet || options.fleet_mode != quorvel::FleetMode::line))) {
        return std::nullopt;
    }
    if (options.output == Options::Output::check && options.folder != nullptr) {
        return std::nullopt;
    }
    return options;
}

} // namespace

namespace quorvel {

Observation observe(const char *configuration_path)
{
    Observation seen;
    const auto capture = capture_stdout();
    seen.board = read_board();
    if (capture) {
        seen.message_size = end_capture(*capture, seen.message.data(), seen.message.size());
    }
    while (seen.message_size > 0 && std::strchr(" \t\r\n", seen.message[seen.message_size - 1]) != nullptr) {
        --seen.message_size;
    }
    seen.configured = settings_from_file(configuration_path);
    seen.lines_not_read = lines_not_read_in_file(configuration_path);
    const std::optional<BoardState> problem = configuration_problem(seen.configured, seen.lines_not_read);
    seen.compared = !problem || *problem == BoardState::configuration_not_valid;
    if (seen.board.read) {
        seen.state = problem ? *problem
                             : (board_matches(seen.board, seen.configured) ? BoardState::matches : BoardState::differs);
    }
    return seen;
}

} // namespace quorvel

int main(int argc, char *argv[])
{
    const std::optional<Options> options = parse_options(argc, argv);
    if (!options) {
        std::fputs(usage, stderr);
        return usage_error;
    }
    if (options->output == Options::Output::check) {
        return quorvel::check_settings_file(options->check_file);
    }
    if (options->output == Options::Output::fleet) {
        return quorvel::run_fleet_mode(options->fleet_mode, options->folder, options->applied);
    }
    const std::optional<quorvel::Path> configuration_path = quorvel::path_in(options->folder, "Configuration.ini");
    if (!configuration_path) {
        std::fputs(usage, stderr);
        return usage_error;
    }
    const char *configuration = configuration_path->chars.data();
    if (options->output == Options::Output::json) {
        return print_json_status(configuration);
    }
    std::fputs("QUORVEL Serial Protocol Status\n", stdout);

    const quorvel::BoardRead board = read_board();
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

    const quorvel::SettingsFromFile configured = quorvel::settings_from_file(configuration);
    const quorvel::LinesNotRead lines_not_read = quorvel::lines_not_read_in_file(configuration);
    const std::optional<quorvel::BoardState> problem = configuration_problem(configured, lines_not_read);
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
    report_lines_not_read(lines_not_read);
    const bool matches = compare(board.scratch, board.protocol, configured);
    if (problem) {
        return quorvel::exit_status_of(*problem);
    }
    return quorvel::exit_status_of(matches ? quorvel::BoardState::matches : quorvel::BoardState::differs);
}
