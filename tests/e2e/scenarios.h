// The end-to-end scenarios of the programs: a machine, a Configuration.ini,
// and what the user and the board must see. Every runner (the simulated
// machine here, the Windows build under Wine) plays the same table with the
// same expectations.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::test {

enum class Program {
    selection,           // QUORVELSerialProtocolSelection
    status,              // QUORVELSerialProtocolStatus
    apply_configuration, // apply-configuration.cmd through cmd, Windows only
};

struct Scenario {
    std::string name;
    // The bytes of Configuration.ini in the working directory; nothing:
    // there is no such file. For apply_configuration, the bytes of the
    // Configuration.ini next to the programs; nothing: the shipped sample,
    // while the working directory is another, empty, folder.
    std::optional<std::string> configuration;
    // COM numbers of \Device\ser15x0, \Device\ser15x1 ... in that order;
    // fewer than four: the later entries are missing from the map.
    std::vector<int> ports;
    // False: the machine has no serial-port map at all (no driver).
    bool driver_installed;
    // Lines "open", "read RR", "write RR" that make the board fail.
    std::string faults;

    std::string expected_output;
    int expected_exit_status;
    // The board's event log: opens, requests and closes, in order.
    std::vector<std::string> expected_log;

    Program program = Program::selection;
    std::vector<std::string> arguments{};
    // Register, value: what the board holds before the run; 0 elsewhere.
    std::vector<std::pair<int, int>> registers{};
    std::string expected_errors{}; // on standard error
    // For apply_configuration: files of the release left out of the folder.
    std::vector<std::string> removed_files{};
    // Configuration.ini is there but cannot be opened: on Linux a link to
    // itself, on Windows a folder of that name (the C runtime fails on it
    // with EACCES, as on a file that another program locked).
    bool configuration_cannot_be_opened = false;
    // For apply_configuration: the release's folder is a subfolder of this
    // name (one with cmd's special characters); empty: a temporary folder.
    std::string folder_name{};
};

// In an apply_configuration scenario's expected output: the batch file's
// folder, as Windows names it.
inline const std::string folder_placeholder = "{folder}";

std::vector<Scenario> end_to_end_scenarios();
std::vector<Scenario> status_scenarios();

// The scenario's name made a test name: letters, digits and underscores.
std::string test_name_of(const Scenario &scenario);

// Test names and failure reports show a scenario by its name.
inline void PrintTo(const Scenario &scenario, std::ostream *out)
{
    *out << scenario.name;
}

} // namespace quorvel::test
