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

} // namespace quorvel::test
