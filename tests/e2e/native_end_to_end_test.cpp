// Runs the built tool as its own process against a simulated machine, once
// per scenario, and compares what the user and the board saw.
#include "scenarios.h"
#include "support/process.h"
#include "support/sim_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using quorvel::test::Scenario;

// The value that the log's last accepted write left in register reg, or 0.
int written_value(const std::vector<std::string> &log, int reg)
{
    int value = 0;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "80052038 %02x", reg);
    for (const std::string &line : log) {
        const auto at = line.find(prefix);
        if (at != std::string::npos && line.size() >= 3 && line.compare(line.size() - 3, 3, " ok") == 0) {
            value = std::stoi(line.substr(at + 11, 2), nullptr, 16);
        }
    }
    return value;
}

class NativeEndToEnd : public ::testing::TestWithParam<Scenario> {};

TEST_P(NativeEndToEnd, OutputExitStatusAndBoardMatch)
{
    const Scenario &scenario = GetParam();
    quorvel::test::SimMachine machine;
    if (scenario.driver_installed) {
        machine.install_board(scenario.ports);
    }
    if (!scenario.faults.empty()) {
        machine.dir.write("faults", scenario.faults);
    }
    const quorvel::test::TempDir working_directory;
    if (scenario.configuration) {
        working_directory.write("Configuration.ini", *scenario.configuration);
    }

    const auto result = quorvel::test::run_process({QUORVEL_TOOL_PATH}, working_directory.path(),
                                                   {{"QUORVEL_SIM_DIR", machine.dir.path().string()}});

    EXPECT_EQ(result.output, scenario.expected_output);
    EXPECT_EQ(result.exit_status, scenario.expected_exit_status);
    EXPECT_EQ(machine.log(), scenario.expected_log);
    if (!scenario.ports.empty()) {
        const int lowest = *std::min_element(scenario.ports.begin(), scenario.ports.end());
        for (const int reg : {0x13, 0x10}) {
            EXPECT_EQ(machine.reg(lowest, reg), written_value(scenario.expected_log, reg)) << "register " << reg;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, NativeEndToEnd, ::testing::ValuesIn(quorvel::test::end_to_end_scenarios()),
                         [](const auto &info) { return quorvel::test::test_name_of(info.param); });

} // namespace
