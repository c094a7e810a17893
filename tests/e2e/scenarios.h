// The end-to-end scenarios of the protocol selection tool: a machine, a
// Configuration.ini, and what the user and the board must see. Every runner
// (the simulated machine here, the Windows build under Wine) plays the same
// table with the same expectations.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quorvel::test {

struct Scenario {
    std::string name;
    // The bytes of Configuration.ini; nothing: there is no such file.
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
};

std::vector<Scenario> end_to_end_scenarios();

// The scenario's name made a test name: letters, digits and underscores.
std::string test_name_of(const Scenario &scenario);

// Test names and failure reports show a scenario by its name.
inline void PrintTo(const Scenario &scenario, std::ostream *out)
{
    *out << scenario.name;
}

} // namespace quorvel::test
