#include "scenarios.h"

#include <cctype>
#include <cstdio>
#include <utility>

namespace quorvel::test {
namespace {

const std::string banner = "\nQUORVEL Protocol Selection Demo";
const std::string completed = "\nQUORVEL Protocol Selection Completed";

std::string not_found(const std::string &label, const std::string &default_name)
{
    return "\n" + label + " not found in the Configuration.ini file, using Default: " + default_name;
}

std::string not_valid(const std::string &label, const std::string &default_name)
{
    return "\n" + label + " value in the Configuration.ini file is not valid, using Default: " + default_name;
}

// Configuration.ini setting the four keys in order; a key without a value is left out.
std::string settings_file(std::optional<std::string> protocol_1_2, std::optional<std::string> protocol_3_4,
                          std::optional<std::string> slew_1_2, std::optional<std::string> slew_3_4)
{
    std::string file;
    const std::pair<const char *, std::optional<std::string>> lines[] = {
        {"PROTOCOL_FOR_PORTS_1_AND_2", std::move(protocol_1_2)},
        {"PROTOCOL_FOR_PORTS_3_AND_4", std::move(protocol_3_4)},
        {"SLEW_RATE_FOR_PORTS_1_AND_2", std::move(slew_1_2)},
        {"SLEW_RATE_FOR_PORTS_3_AND_4", std::move(slew_3_4)},
    };
    for (const auto &[key, value] : lines) {
        if (value) {
            file += std::string(key) + "=" + *value + "\n";
        }
    }
    return file;
}

// The file as Notepad ("Unicode") or Windows PowerShell 5.1 saves it: UTF-16
// with a byte-order mark, CRLF line ends. Text is ASCII.
std::string utf16(const std::string &text, bool big_endian)
{
    std::string file = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : text) {
        for (const char unit : c == '\n' ? std::string("\r\n") : std::string(1, c)) {
            file += big_endian ? std::string{'\0', unit} : std::string{unit, '\0'};
        }
    }
    return file;
}

// The log of a run that configured the board through port com with word.
std::vector<std::string> configured(int com, int word)
{
    const std::string port = "COM" + std::to_string(com);
    char write_word[32];
    std::snprintf(write_word, sizeof write_word, " 80052038 10%02x 0 ok", word);
    return {port + " open", port + " 80052038 13c0 0 ok", port + write_word, port + " close"};
}

const std::vector<int> board = {3, 4, 5, 6};
const std::string all_defaults_missing = not_found("Protocol_1_2_ports", "RS232") +
                                         not_found("Protocol_3_4_ports", "RS232") + not_found("Slew_1_2_ports", "Low") +
                                         not_found("Slew_3_4_ports", "Low");

Scenario configures(std::string name, std::optional<std::string> configuration, const std::string &messages, int word)
{
    return {std::move(name),    std::move(configuration), board, true, "", banner + messages + completed, 0,
            configured(3, word)};
}

// A run with all four keys set (word 0x31) on a board with the given ports,
// of which the lowest, opened_port, is opened.
Scenario on_ports(std::string name, std::vector<int> ports, int opened_port)
{
    return {std::move(name),
            settings_file("1", "0", "1", "1"),
            std::move(ports),
            true,
            "",
            banner + completed,
            0,
            configured(opened_port, 0x31)};
}

// A run that leaves the board unconfigured; ports: nothing for a machine
// without the board driver. Configuration.ini is empty.
Scenario not_configured(std::string name, const std::optional<std::vector<int>> &ports, std::string faults,
                        const std::string &messages, std::vector<std::string> log)
{
    return {std::move(name),
            "",
            ports.value_or(std::vector<int>{}),
            ports.has_value(),
            std::move(faults),
            banner + messages,
            1,
            std::move(log)};
}

// A run where protocol 1-2 took the value text and the others 0.
Scenario protocol_1_2_value(const std::string &value, const std::string &messages, int word)
{
    return configures("protocol 1-2 value \"" + value + "\"", settings_file(value, "0", "0", "0"), messages, word);
}

// Bytes of no text file (zero bytes, bytes above 0x7F, a lone CR) around
// one real line; the keys that follow a zero byte or a CR start no line.
std::string binary_file_with_one_setting()
{
    static const char bytes[] = "\x7F"
                                "ELF\x02\x01\x01\x00\x00\xFF\xFE\xC3\x28\r"
                                "PROTOCOL_FOR_PORTS_1_AND_2=1\x00\x9A\x8B\n"
                                "SLEW_RATE_FOR_PORTS_3_AND_4=1\n"
                                "\x00PROTOCOL_FOR_PORTS_3_AND_4=3\n\xEF\xBB\xBF"
                                "SLEW_RATE_FOR_PORTS_1_AND_2=1\n\x01\x02\x03";
    return {bytes, sizeof bytes - 1};
}

const std::string status_banner = "QUORVEL Serial Protocol Status\n";
const std::string both_pairs_at_defaults = "Ports 1 and 2: protocol 2 (RS232), slew rate 0 (Low)\n"
                                           "Ports 3 and 4: protocol 2 (RS232), slew rate 0 (Low)\n";
const std::string differs = "The board differs from Configuration.ini\n";
const std::string matches = "The board matches Configuration.ini\n";
const std::vector<std::pair<int, int>> configured_board = {{0x13, 0xC0}, {0x10, 0x0A}};
const std::vector<std::string> both_registers_read = {"COM3 open", "COM3 80052034 13 1 ok", "COM3 80052034 10 1 ok",
                                                      "COM3 close"};

// The status program's first lines on a board whose registers were read.
std::string registers_read(int scratch, int protocol)
{
    char lines[64];
    std::snprintf(lines, sizeof lines, "Register 0x13: 0x%02X\nRegister 0x10: 0x%02X\n", scratch, protocol);
    return status_banner + lines;
}

Scenario status_of(std::string name, std::vector<std::pair<int, int>> registers,
                   std::optional<std::string> configuration, const std::string &messages, int exit_status)
{
    return {std::move(name),
            std::move(configuration),
            board,
            true,
            "",
            messages,
            exit_status,
            both_registers_read,
            Program::status,
            {},
            std::move(registers),
            ""};
}

// A status run that could not read the board; ports: nothing for a machine
// without the board driver.
Scenario status_not_read(std::string name, const std::optional<std::vector<int>> &ports, std::string faults,
                         const std::string &messages, std::vector<std::string> log)
{
    return {std::move(name),
            settings_file("2", "2", "0", "0"),
            ports.value_or(std::vector<int>{}),
            ports.has_value(),
            std::move(faults),
            status_banner + messages,
            1,
            std::move(log),
            Program::status,
            {},
            configured_board,
            ""};
}

Scenario apply_configuration(std::string name, const std::optional<std::vector<int>> &ports,
                             std::vector<std::pair<int, int>> registers, const std::string &messages, int exit_status,
                             std::vector<std::string> log)
{
    return {std::move(name),
            std::nullopt,
            ports.value_or(std::vector<int>{}),
            ports.has_value(),
            "",
            messages,
            exit_status,
            std::move(log),
            Program::apply_configuration,
            {},
            std::move(registers),
            ""};
}

// The status program's JSON for one setting; text: its JSON, or null.
std::string setting_json(const std::string &key, const std::string &text, int value, bool taken_default, bool not_valid)
{
    return "{\"key\":\"" + key + "\",\"text\":" + text + ",\"value\":" + std::to_string(value) +
           ",\"default\":" + (taken_default ? "true" : "false") + ",\"notValid\":" + (not_valid ? "true" : "false") +
           "}";
}

// The four settings of settings_file("2", "2", "0", "0"), all from the file.
const std::string default_settings_json = setting_json("PROTOCOL_FOR_PORTS_1_AND_2", "\"2\"", 2, false, false) + "," +
                                          setting_json("PROTOCOL_FOR_PORTS_3_AND_4", "\"2\"", 2, false, false) + "," +
                                          setting_json("SLEW_RATE_FOR_PORTS_1_AND_2", "\"0\"", 0, false, false) + "," +
                                          setting_json("SLEW_RATE_FOR_PORTS_3_AND_4", "\"0\"", 0, false, false);

// The status program's whole JSON line; registers, asked and message as
// JSON, lines_not_read the array's items.
std::string status_json(const std::string &state, const std::string &scratch, const std::string &protocol,
                        const std::string &asked, const std::string &settings, const std::string &message,
                        const std::string &lines_not_read = "", const std::string &windows_error = "null")
{
    return "{\"state\":\"" + state + "\",\"register0x13\":" + scratch + ",\"register0x10\":" + protocol +
           ",\"asked\":" + asked + ",\"settings\":[" + settings + "],\"message\":" + message + ",\"linesNotRead\":[" +
           lines_not_read + "],\"windowsError\":" + windows_error + "}\n";
}

// One item of the JSON's linesNotRead.
std::string line_not_read_json(int line, const std::string &key, const std::string &reason)
{
    return "{\"line\":" + std::to_string(line) + ",\"key\":\"" + key + "\",\"reason\":\"" + reason + "\"}";
}

// The status scenario with --json: its output is the object alone, no banner.
Scenario with_json(Scenario scenario)
{
    scenario.name = "status --json " + scenario.name.substr(std::string("status ").size());
    scenario.arguments = {"--json"};
    if (scenario.expected_output.compare(0, status_banner.size(), status_banner) == 0) {
        scenario.expected_output.erase(0, status_banner.size());
    }
    return scenario;
}

// The batch file's last line.
std::string batch_exit(int status)
{
    return "apply-configuration: exit status " + std::to_string(status) + "\n";
}

// A batch run in a folder that lacks one of the release's files: it names
// the file, runs nothing and ends with 4.
Scenario incomplete_folder(const std::string &file)
{
    Scenario scenario = apply_configuration(
        "apply-configuration without " + file, board, configured_board,
        "apply-configuration: " + file + " not found in \"" + folder_placeholder + "\"\n" + batch_exit(4), 4, {});
    scenario.removed_files = {file};
    return scenario;
}

// The scenario with the release in a folder of that name.
Scenario in_folder(Scenario scenario, std::string name)
{
    scenario.name += " in folder \"" + name + "\"";
    scenario.folder_name = std::move(name);
    return scenario;
}

} // namespace

std::string test_name_of(const Scenario &scenario)
{
    std::string name;
    for (const char c : scenario.name) {
        name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

std::vector<Scenario> end_to_end_scenarios()
{
    const std::string invalid_protocol = not_valid("Protocol_1_2_ports", "RS232");
    return {
        configures("all four keys 1 0 1 1", settings_file("1", "0", "1", "1"), "", 0x31),
        configures("empty file", "", all_defaults_missing, 0x0A),
        configures("no file", std::nullopt, "", 0x0A),
        configures("lower-case keys",
                   "protocol_for_ports_1_and_2=3\nprotocol_for_ports_3_and_4=1\n"
                   "slew_rate_for_ports_1_and_2=0\nslew_rate_for_ports_3_and_4=1\n",
                   "", 0x27),
        configures("longer key does not match",
                   "PROTOCOL_FOR_PORTS_1_AND_23=1\n" + settings_file(std::nullopt, "3", "1", "1"),
                   not_found("Protocol_1_2_ports", "RS232"), 0x3E),
        configures("indented and spaced keys are ignored",
                   "  PROTOCOL_FOR_PORTS_1_AND_2=1\nPROTOCOL_FOR_PORTS_3_AND_4 =1\n"
                   "SLEW_RATE_FOR_PORTS_1_AND_2=1\nSLEW_RATE_FOR_PORTS_3_AND_4=1\n",
                   not_found("Protocol_1_2_ports", "RS232") + not_found("Protocol_3_4_ports", "RS232"), 0x3A),
        configures("first of duplicate keys wins",
                   settings_file("1", "1", "1", "1") + settings_file("0", "0", "0", "0"), "", 0x35),
        protocol_1_2_value("5", invalid_protocol, 0x02),
        protocol_1_2_value("-1", invalid_protocol, 0x02),
        protocol_1_2_value("RS485", invalid_protocol, 0x02),
        protocol_1_2_value("", invalid_protocol, 0x02),
        protocol_1_2_value("99999999999", invalid_protocol, 0x02),
        protocol_1_2_value("3 # RS485", "", 0x03),
        configures("slew rate too large", settings_file("0", "0", "2", "0"), not_valid("Slew_1_2_ports", "Low"), 0x00),
        configures("byte-order mark", "\xEF\xBB\xBF" + settings_file("1", "0", "1", "1"), "", 0x31),
        configures("UTF-16 little-endian file", utf16(settings_file("1", "0", "1", "1"), false), "", 0x31),
        configures("UTF-16 big-endian file with a missing key", utf16(settings_file("3", "1", std::nullopt, "1"), true),
                   not_found("Slew_1_2_ports", "Low"), 0x27),
        configures("long comment hides a key",
                   "#" + std::string(300, '-') + "PROTOCOL_FOR_PORTS_1_AND_2=1\n" +
                       settings_file(std::nullopt, "1", "1", "0"),
                   not_found("Protocol_1_2_ports", "RS232"), 0x16),
        configures("CRLF line ends",
                   "# settings\r\nPROTOCOL_FOR_PORTS_1_AND_2=1\r\nPROTOCOL_FOR_PORTS_3_AND_4=0\r\n"
                   "SLEW_RATE_FOR_PORTS_1_AND_2=1\r\nSLEW_RATE_FOR_PORTS_3_AND_4=1\r\n",
                   "", 0x31),
        configures("binary file with one setting line", binary_file_with_one_setting(),
                   not_found("Protocol_1_2_ports", "RS232") + not_found("Protocol_3_4_ports", "RS232") +
                       not_found("Slew_1_2_ports", "Low"),
                   0x2A),
        on_ports("ports COM7 COM3 COM12 COM4", {7, 3, 12, 4}, 3),
        on_ports("three-digit port numbers", {110, 111, 112, 113}, 110),
        not_configured("fourth map entry missing", std::vector<int>{3, 4, 5}, "", "Driver is not installed\n", {}),
        not_configured("no driver", std::nullopt, "", "Driver is not installed\n", {}),
        not_configured("open fails", board, "open\n", "Cannot open the file handle\n", {}),
        not_configured("write of register 0x13 fails", board, "write 13\n", "Error in Writing...!",
                       {"COM3 open", "COM3 80052038 13c0 0 fail", "COM3 close"}),
        not_configured("write of register 0x10 fails", board, "write 10\n",
                       all_defaults_missing + "Error in Writing...!",
                       {"COM3 open", "COM3 80052038 13c0 0 ok", "COM3 80052038 100a 0 fail", "COM3 close"}),
    };
}

std::vector<Scenario> status_scenarios()
{
    const std::string defaults = settings_file("2", "2", "0", "0");
    Scenario with_argument = status_of("status with an argument", configured_board, defaults, "", 3);
    with_argument.arguments = {"/?"};
    with_argument.expected_log = {};
    with_argument.expected_errors =
        "Usage: QUORVELSerialProtocolStatus [--json | --line | --compliance | --install-carried] [--folder FOLDER]"
        " [--applied STATUS]\n"
        "       QUORVELSerialProtocolStatus --check FILE\n"
        "Prints the board's protocol register and compares it with Configuration.ini in the working directory"
        " (or FOLDER); --json prints it as one JSON object. --check says whether FILE is read as written."
        " The other options are for the deployment scripts (see docs/DEPLOYING.md).\n";
    // Two outputs at once, or an option without its value: a usage error.
    Scenario two_outputs = with_argument;
    two_outputs.name = "status with two outputs";
    two_outputs.arguments = {"--json", "--line"};
    Scenario check_without_file = with_argument;
    check_without_file.name = "status --check without a file";
    check_without_file.arguments = {"--check"};
    // Lines that name a key but do not set it as they ask: an indented
    // key, white space before "=", a tab, a stray byte-order mark, a key
    // past a lone CR, a later line asking another value, a key past byte
    // 255; the board holds what the file really gives (0x0A), yet it is no
    // match. A comment, an indented comment and a longer key are no such lines.
    const std::string lines_not_read_file = "# comment PROTOCOL_FOR_PORTS_1_AND_2=1\n"
                                            "  PROTOCOL_FOR_PORTS_1_AND_2=1\n"
                                            "PROTOCOL_FOR_PORTS_3_AND_4 =3\n"
                                            "\tSLEW_RATE_FOR_PORTS_1_AND_2=1\n"
                                            "\xEF\xBB\xBFSLEW_RATE_FOR_PORTS_3_AND_4=1\n"
                                            "  # PROTOCOL_FOR_PORTS_1_AND_2=3\n"
                                            "PROTOCOL_FOR_PORTS_1_AND_23=1\n"
                                            "PROTOCOL_FOR_PORTS_1_AND_2=2\rSLEW_RATE_FOR_PORTS_1_AND_2=1\n"
                                            "protocol_for_ports_1_and_2=2\n"
                                            "PROTOCOL_FOR_PORTS_1_AND_2=1\n"
                                            "#" +
                                            std::string(254, '-') + "PROTOCOL_FOR_PORTS_3_AND_4=1\n";
    const std::string lines_not_read_text =
        "Configuration.ini: PROTOCOL_FOR_PORTS_3_AND_4 not found, using 2 (RS232)\n"
        "Configuration.ini: SLEW_RATE_FOR_PORTS_1_AND_2 not found, using 0 (Low)\n"
        "Configuration.ini: SLEW_RATE_FOR_PORTS_3_AND_4 not found, using 0 (Low)\n"
        "Configuration.ini line 2 is not read (indented): PROTOCOL_FOR_PORTS_1_AND_2\n"
        "Configuration.ini line 3 is not read (white space before =): PROTOCOL_FOR_PORTS_3_AND_4\n"
        "Configuration.ini line 4 is not read (indented): SLEW_RATE_FOR_PORTS_1_AND_2\n"
        "Configuration.ini line 5 is not read (a byte above 0x7E): SLEW_RATE_FOR_PORTS_3_AND_4\n"
        "Configuration.ini line 8 is not read (after a lone CR, which ends no line): SLEW_RATE_FOR_PORTS_1_AND_2\n"
        "Configuration.ini line 10 is not read (a line before it sets another value): PROTOCOL_FOR_PORTS_1_AND_2\n"
        "Configuration.ini line 11 is not read (past byte 255 of its line): PROTOCOL_FOR_PORTS_3_AND_4\n";
    const std::string lines_not_read_items =
        line_not_read_json(2, "PROTOCOL_FOR_PORTS_1_AND_2", "indented") + "," +
        line_not_read_json(3, "PROTOCOL_FOR_PORTS_3_AND_4", "spaceBeforeEquals") + "," +
        line_not_read_json(4, "SLEW_RATE_FOR_PORTS_1_AND_2", "indented") + "," +
        line_not_read_json(5, "SLEW_RATE_FOR_PORTS_3_AND_4", "byteAbove0x7E") + "," +
        line_not_read_json(8, "SLEW_RATE_FOR_PORTS_1_AND_2", "afterLoneCR") + "," +
        line_not_read_json(10, "PROTOCOL_FOR_PORTS_1_AND_2", "laterDuplicate") + "," +
        line_not_read_json(11, "PROTOCOL_FOR_PORTS_3_AND_4", "beyond255Bytes");
    const std::string lines_not_read_settings =
        setting_json("PROTOCOL_FOR_PORTS_1_AND_2", "\"2\"", 2, false, false) + "," +
        setting_json("PROTOCOL_FOR_PORTS_3_AND_4", "null", 2, true, false) + "," +
        setting_json("SLEW_RATE_FOR_PORTS_1_AND_2", "null", 0, true, false) + "," +
        setting_json("SLEW_RATE_FOR_PORTS_3_AND_4", "null", 0, true, false);
    // The file alone, without the board.
    Scenario check_file =
        status_of("status --check a file with lines not read", configured_board, lines_not_read_file, "", 4);
    check_file.arguments = {"--check", "Configuration.ini"};
    check_file.expected_log = {};
    for (const std::string &line :
         {std::string("line 2 is not read (indented): PROTOCOL_FOR_PORTS_1_AND_2"),
          std::string("line 3 is not read (white space before =): PROTOCOL_FOR_PORTS_3_AND_4"),
          std::string("line 4 is not read (indented): SLEW_RATE_FOR_PORTS_1_AND_2"),
          std::string("line 5 is not read (a byte above 0x7E): SLEW_RATE_FOR_PORTS_3_AND_4"),
          std::string("line 8 is not read (after a lone CR, which ends no line): SLEW_RATE_FOR_PORTS_1_AND_2"),
          std::string("line 10 is not read (a line before it sets another value): PROTOCOL_FOR_PORTS_1_AND_2"),
          std::string("line 11 is not read (past byte 255 of its line): PROTOCOL_FOR_PORTS_3_AND_4"),
          std::string("line 5 holds a byte above 0x7E (settings are ASCII only)")}) {
        check_file.expected_output += "Configuration.ini: " + line + "\n";
    }
    Scenario check_sound_file = status_of("status --check a file read as written", configured_board,
                                          settings_file("1", "3", "1", "0") + "# ports 1 and 2 first\n",
                                          "Configuration.ini is read as written\n", 0);
    check_sound_file.arguments = {"--check", "Configuration.ini"};
    check_sound_file.expected_log = {};
    Scenario check_missing_file = status_of("status --check a file that is not there", configured_board, std::nullopt,
                                            "Configuration.ini not found\n", 4);
    check_missing_file.arguments = {"--check", "Configuration.ini"};
    check_missing_file.expected_log = {};
    const std::string scratch_reset = "Register 0x13: board 0x00, QUORVELSerialProtocolSelection writes 0xC0\n";
    const std::string pairs_with_slew_3_4 = "Ports 1 and 2: protocol 2 (RS232), slew rate 0 (Low)\n"
                                            "Ports 3 and 4: protocol 2 (RS232), slew rate 1\n";
    const std::string not_valid_protocol =
        "Configuration.ini: PROTOCOL_FOR_PORTS_1_AND_2 is not valid, using 2 (RS232)\n";
    const std::string pairs_0x31 = "Ports 1 and 2: protocol 1, slew rate 1\nPorts 3 and 4: protocol 0, slew rate 1\n";
    const std::string asks_0x31 = "Configuration.ini asks for 0x31\n";
    const std::string applied_and_matching = banner + completed + "\n" + registers_read(0xC0, 0x0A) +
                                             both_pairs_at_defaults + "Configuration.ini asks for 0x0A\n" + matches;
    // Nothing is applied while Configuration.ini holds a value that is not valid.
    Scenario with_value_not_valid =
        apply_configuration("apply-configuration value not valid", board, configured_board,
                            registers_read(0xC0, 0x0A) + both_pairs_at_defaults + not_valid_protocol +
                                "Configuration.ini asks for 0x0A\n" + matches + batch_exit(4),
                            4, both_registers_read);
    with_value_not_valid.configuration = settings_file("RS485", "2", "0", "0");
    // Nor while a line that names a key is not read: the board matches the
    // defaults, yet the file asks for something else.
    Scenario with_line_not_read =
        apply_configuration("apply-configuration with a line not read", board, configured_board,
                            registers_read(0xC0, 0x0A) + both_pairs_at_defaults +
                                "Configuration.ini: PROTOCOL_FOR_PORTS_1_AND_2 not found, using 2 (RS232)\n"
                                "Configuration.ini line 1 is not read (white space before =): "
                                "PROTOCOL_FOR_PORTS_1_AND_2\n"
                                "Configuration.ini asks for 0x0A\n" +
                                matches + batch_exit(4),
                            4, both_registers_read);
    with_line_not_read.configuration = "PROTOCOL_FOR_PORTS_1_AND_2 =1\n" + settings_file(std::nullopt, "2", "0", "0");
    Scenario cannot_be_opened =
        status_of("status with a Configuration.ini that cannot be opened", configured_board, std::nullopt,
                  registers_read(0xC0, 0x0A) + both_pairs_at_defaults +
                      "Configuration.ini cannot be opened: nothing to compare\n",
                  4);
    cannot_be_opened.configuration_cannot_be_opened = true;
    Scenario batch_cannot_open =
        apply_configuration("apply-configuration with a Configuration.ini that cannot be opened", board,
                            configured_board, cannot_be_opened.expected_output + batch_exit(4), 4, both_registers_read);
    batch_cannot_open.configuration_cannot_be_opened = true;
    // Any byte of a value comes out escaped: quotes, a backslash, a
    // control character, UTF-8 beyond ASCII, a byte that is no UTF-8.
    const std::string odd_bytes_file = "PROTOCOL_FOR_PORTS_1_AND_2=\"q\"\\\x01\xC3\xA9\xF0\x9F\x98\x80\xFF\n"
                                       "SLEW_RATE_FOR_PORTS_3_AND_4=1\n";
    const std::string odd_bytes_settings =
        setting_json("PROTOCOL_FOR_PORTS_1_AND_2", "\"\\\"q\\\"\\\\\\u0001\\u00E9\\uD83D\\uDE00\\u00FF\"", 2, true,
                     true) +
        "," + setting_json("PROTOCOL_FOR_PORTS_3_AND_4", "null", 2, true, false) + "," +
        setting_json("SLEW_RATE_FOR_PORTS_1_AND_2", "null", 0, true, false) + "," +
        setting_json("SLEW_RATE_FOR_PORTS_3_AND_4", "\"1\"", 1, false, false);
    const std::string no_file_settings = setting_json("PROTOCOL_FOR_PORTS_1_AND_2", "null", 2, true, false) + "," +
                                         setting_json("PROTOCOL_FOR_PORTS_3_AND_4", "null", 2, true, false) + "," +
                                         setting_json("SLEW_RATE_FOR_PORTS_1_AND_2", "null", 0, true, false) + "," +
                                         setting_json("SLEW_RATE_FOR_PORTS_3_AND_4", "null", 0, true, false);
    std::vector<std::string> applied = both_registers_read;
    for (const auto &lines : {configured(3, 0x0A), both_registers_read}) {
        applied.insert(applied.end(), lines.begin(), lines.end());
    }
    return {
        status_of("status board matches", configured_board, defaults,
                  registers_read(0xC0, 0x0A) + both_pairs_at_defaults + "Configuration.ini asks for 0x0A\n" + matches,
                  0),
        status_of("status slew rate of ports 1 and 2 differs", configured_board, settings_file("2", "2", "1", "0"),
                  registers_read(0xC0, 0x0A) + both_pairs_at_defaults + "Configuration.ini asks for 0x1A\n" +
                      "Ports 1 and 2 slew rate: board 0 (Low), Configuration.ini 1\n" + differs,
                  2),
        status_of("status protocol of ports 3 and 4 differs", configured_board, settings_file("2", "3", "0", "0"),
                  registers_read(0xC0, 0x0A) + both_pairs_at_defaults + "Configuration.ini asks for 0x0E\n" +
                      "Ports 3 and 4 protocol: board 2 (RS232), Configuration.ini 3\n" + differs,
                  2),
        // Bits 6 and 7 are set as well: they are never compared.
        status_of("status every field differs", {{0x10, 0xF5}}, defaults,
                  registers_read(0x00, 0xF5) +
                      "Ports 1 and 2: protocol 1, slew rate 1\nPorts 3 and 4: protocol 1, slew rate 1\n"
                      "Configuration.ini asks for 0x0A\n" +
                      scratch_reset +
                      "Ports 1 and 2 protocol: board 1, Configuration.ini 2 (RS232)\n"
                      "Ports 3 and 4 protocol: board 1, Configuration.ini 2 (RS232)\n"
                      "Ports 1 and 2 slew rate: board 1, Configuration.ini 0 (Low)\n"
                      "Ports 3 and 4 slew rate: board 1, Configuration.ini 0 (Low)\n" +
                      differs,
                  2),
        status_of("status register 0x13 reset", {{0x10, 0x0A}}, defaults,
                  registers_read(0x00, 0x0A) + both_pairs_at_defaults + "Configuration.ini asks for 0x0A\n" +
                      scratch_reset + differs,
                  2),
        status_of("status bits 6 and 7 set on a matching board", {{0x13, 0xC0}, {0x10, 0xCA}}, defaults,
                  registers_read(0xC0, 0xCA) + both_pairs_at_defaults + "Configuration.ini asks for 0x0A\n" + matches,
                  0),
        status_of("status without Configuration.ini", configured_board, std::nullopt,
                  registers_read(0xC0, 0x0A) + both_pairs_at_defaults +
                      "Configuration.ini not found: nothing to compare\n",
                  0),
        cannot_be_opened,
        status_of("status with missing keys", {{0x13, 0xC0}, {0x10, 0x2A}}, "SLEW_RATE_FOR_PORTS_3_AND_4=1\n",
                  registers_read(0xC0, 0x2A) + pairs_with_slew_3_4 +
                      "Configuration.ini: PROTOCOL_FOR_PORTS_1_AND_2 not found, using 2 (RS232)\n"
                      "Configuration.ini: PROTOCOL_FOR_PORTS_3_AND_4 not found, using 2 (RS232)\n"
                      "Configuration.ini: SLEW_RATE_FOR_PORTS_1_AND_2 not found, using 0 (Low)\n"
                      "Configuration.ini asks for 0x2A\n" +
                      matches,
                  0),
        // The board matches what the defaults would write, but the file
        // asks for something else that is not valid.
        status_of("status with a value that is not valid", {{0x13, 0xC0}, {0x10, 0x2A}},
                  "PROTOCOL_FOR_PORTS_1_AND_2=RS485\nPROTOCOL_FOR_PORTS_3_AND_4=2\n"
                  "SLEW_RATE_FOR_PORTS_1_AND_2=0\nSLEW_RATE_FOR_PORTS_3_AND_4=1\n",
                  registers_read(0xC0, 0x2A) + pairs_with_slew_3_4 + not_valid_protocol +
                      "Configuration.ini asks for 0x2A\n" + matches,
                  4),
        status_of("status UTF-16 little-endian file", {{0x13, 0xC0}, {0x10, 0x31}},
                  utf16(settings_file("1", "0", "1", "1"), false),
                  registers_read(0xC0, 0x31) + pairs_0x31 + asks_0x31 + matches, 0),
        status_of("status UTF-16 big-endian file", {{0x13, 0xC0}, {0x10, 0x31}},
                  utf16(settings_file("1", "0", "1", "1"), true),
                  registers_read(0xC0, 0x31) + pairs_0x31 + asks_0x31 + matches, 0),
        status_not_read("status read of register 0x13 fails", board, "read 13\n", "Error in Reading...!\n",
                        {"COM3 open", "COM3 80052034 13 1 fail", "COM3 close"}),
        status_not_read("status read of register 0x10 fails", board, "read 10\n", "Error in Reading...!\n",
                        {"COM3 open", "COM3 80052034 13 1 ok", "COM3 80052034 10 1 fail", "COM3 close"}),
        status_not_read("status read of register 0x10 returns no byte", board, "read-empty 10\n",
                        "Error in Reading...!\n", both_registers_read),
        status_not_read("status open fails", board, "open\n", "Cannot open the file handle\n", {}),
        status_not_read("status without driver", std::nullopt, "", "Driver is not installed\n", {}),
        with_argument,
        two_outputs,
        check_without_file,
        status_of("status with lines not read", configured_board, lines_not_read_file,
                  registers_read(0xC0, 0x0A) + both_pairs_at_defaults + lines_not_read_text +
                      "Configuration.ini asks for 0x0A\n" + matches,
                  4),
        // A file with CR line ends: the first key is read, the others are
        // not, and take their defaults (0x09), which the board holds.
        status_of(
            "status with CR line ends", {{0x13, 0xC0}, {0x10, 0x09}},
            "PROTOCOL_FOR_PORTS_1_AND_2=1\rPROTOCOL_FOR_PORTS_3_AND_4=3\rSLEW_RATE_FOR_PORTS_1_AND_2=1\r",
            registers_read(0xC0, 0x09) +
                "Ports 1 and 2: protocol 1, slew rate 0 (Low)\nPorts 3 and 4: protocol 2 (RS232), slew rate 0 (Low)\n"
                "Configuration.ini: PROTOCOL_FOR_PORTS_3_AND_4 not found, using 2 (RS232)\n"
                "Configuration.ini: SLEW_RATE_FOR_PORTS_1_AND_2 not found, using 0 (Low)\n"
                "Configuration.ini: SLEW_RATE_FOR_PORTS_3_AND_4 not found, using 0 (Low)\n"
                "Configuration.ini line 1 is not read (after a lone CR, which ends no line): "
                "PROTOCOL_FOR_PORTS_3_AND_4\n"
                "Configuration.ini line 1 is not read (after a lone CR, which ends no line): "
                "SLEW_RATE_FOR_PORTS_1_AND_2\n"
                "Configuration.ini asks for 0x09\n" +
                matches,
            4),
        check_file,
        check_sound_file,
        check_missing_file,
        // The same states as one JSON object; the library's message inside it.
        with_json(status_of("status board matches", configured_board, defaults,
                            status_json("matches", "192", "10", "10", default_settings_json, "null"), 0)),
        with_json(status_of("status register 0x13 reset", {{0x10, 0x0A}}, defaults,
                            status_json("differs", "0", "10", "10", default_settings_json, "null"), 2)),
        with_json(status_of("status without Configuration.ini", configured_board, std::nullopt,
                            status_json("configurationNotFound", "192", "10", "null", no_file_settings, "null"), 0)),
        with_json(status_of("status with odd bytes in a value", {{0x13, 0xC0}, {0x10, 0x2A}}, odd_bytes_file,
                            status_json("configurationNotValid", "192", "42", "42", odd_bytes_settings, "null",
                                        line_not_read_json(1, "PROTOCOL_FOR_PORTS_1_AND_2", "byteAbove0x7E")),
                            4)),
        with_json(status_of("status with lines not read", configured_board, lines_not_read_file,
                            status_json("configurationNotValid", "192", "10", "10", lines_not_read_settings, "null",
                                        lines_not_read_items),
                            4)),
        with_json(status_not_read("status without driver", std::nullopt, "",
                                  status_json("boardNotRead", "null", "null", "10", default_settings_json,
                                              "\"Driver is not installed\"", "", "2"),
                                  {})),
        with_json(status_not_read("status read of register 0x10 fails", board, "read 10\n",
                                  status_json("boardNotRead", "null", "null", "10", default_settings_json,
                                              "\"Error in Reading...!\"", "", "1117"),
                                  {"COM3 open", "COM3 80052034 13 1 ok", "COM3 80052034 10 1 fail", "COM3 close"})),
        apply_configuration("apply-configuration board matches", board, configured_board,
                            registers_read(0xC0, 0x0A) + both_pairs_at_defaults + "Configuration.ini asks for 0x0A\n" +
                                matches + batch_exit(0),
                            0, both_registers_read),
        apply_configuration("apply-configuration board differs", board, {{0x10, 0x1A}},
                            registers_read(0x00, 0x1A) +
                                "Ports 1 and 2: protocol 2 (RS232), slew rate 1\n"
                                "Ports 3 and 4: protocol 2 (RS232), slew rate 0 (Low)\n"
                                "Configuration.ini asks for 0x0A\n" +
                                scratch_reset + "Ports 1 and 2 slew rate: board 1, Configuration.ini 0 (Low)\n" +
                                differs + applied_and_matching + batch_exit(0),
                            0, applied),
        apply_configuration("apply-configuration register 0x13 reset", board, {{0x10, 0x0A}},
                            registers_read(0x00, 0x0A) + both_pairs_at_defaults + "Configuration.ini asks for 0x0A\n" +
                                scratch_reset + differs + applied_and_matching + batch_exit(0),
                            0, applied),
        apply_configuration("apply-configuration without driver", std::nullopt, {},
                            status_banner + "Driver is not installed\n" + batch_exit(1), 1, {}),
        with_value_not_valid,
        with_line_not_read,
        batch_cannot_open,
        incomplete_folder("Configuration.ini"),
        incomplete_folder("QUORVEL.dll"),
        in_folder(incomplete_folder("Configuration.ini"), "Q&A (x86)"),
    };
}

} // namespace quorvel::test
