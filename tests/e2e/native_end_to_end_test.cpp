// Runs the built programs as their own processes against a simulated
// machine, once per scenario, and compares what the user and the board saw.
//
// With QUORVEL_E2E_VALGRIND naming valgrind, every run goes through
// memcheck: a memory error or leak, or a file the program opened and left
// open, fails the scenario as well.
#include "memcheck.h"
#include "scenarios.h"
#include "support/process.h"
#include "support/sim_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

using quorvel::test::Scenario;

using quorvel::test::Program;

// The value that the log's last accepted write left in register reg, or
// the value the scenario's board started with.
int written_value(const Scenario &scenario, int reg)
{
    int value = 0;
    for (const auto &[initial_reg, initial_value] : scenario.registers) {
        if (initial_reg == reg) {
            value = initial_value;
        }
    }
    const std::vector<std::string> &log = scenario.expected_log;
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
    if (scenario.program == Program::apply_configuration) {
        GTEST_SKIP() << "a Windows batch file: run only under Wine";
    }
    quorvel::test::SimMachine machine;
    if (scenario.driver_installed) {
        machine.install_board(scenario.ports, scenario.registers);
    }
    if (!scenario.faults.empty()) {
        machine.dir.write("faults", scenario.faults);
    }
    const quorvel::test::TempDir working_directory;
    if (scenario.configuration) {
        working_directory.write("Configuration.ini", *scenario.configuration);
    }
    if (scenario.configuration_cannot_be_opened) {
        const auto link = working_directory.path() / "Configuration.ini";
        std::filesystem::create_symlink(link, link);
    }

    const char *valgrind = std::getenv("QUORVEL_E2E_VALGRIND");
    const quorvel::test::TempDir memcheck_directory;
    const auto memcheck_log = memcheck_directory.path() / "memcheck.log";
    const bool under_memcheck = valgrind != nullptr && *valgrind != '\0';
    std::vector<std::string> command;
    if (under_memcheck) {
        command = quorvel::test::memcheck_command(valgrind, QUORVEL_MEMCHECK_SUPPRESSIONS, memcheck_log.string());
    }
    command.emplace_back(scenario.program == Program::status ? QUORVEL_STATUS_PATH : QUORVEL_TOOL_PATH);
    command.insert(command.end(), scenario.arguments.begin(), scenario.arguments.end());

    const auto result = quorvel::test::run_process(command, working_directory.path(),
                                                   {{"QUORVEL_SIM_DIR", machine.dir.path().string()}});

    if (under_memcheck) {
        const std::string log = memcheck_directory.read("memcheck.log");
        EXPECT_NE(result.exit_status, 99) << "memcheck found errors:\n" << log;
        EXPECT_EQ(quorvel::test::descriptors_left_open(log), std::vector<std::string>{}) << log;
    }

    EXPECT_EQ(result.output, scenario.expected_output);
    EXPECT_EQ(result.errors, scenario.expected_errors);
    EXPECT_EQ(result.exit_status, scenario.expected_exit_status);
    EXPECT_EQ(machine.log(), scenario.expected_log);
    if (!scenario.ports.empty()) {
        const int lowest = *std::min_element(scenario.ports.begin(), scenario.ports.end());
        for (const int reg : {0x13, 0x10}) {
            EXPECT_EQ(machine.reg(lowest, reg), written_value(scenario, reg)) << "register " << reg;
        }
    }
}

TEST(MemcheckLog, ListsOnlyTheDescriptorsTheProgramLeftOpen)
{
    // As valgrind 3.19 writes it for a program that leaked one descriptor
    // and inherited three.
    const std::string log = "==4049== FILE DESCRIPTORS: 7 open (3 std) at exit.\n"
                            "==4049== Open file descriptor 4: /etc/hostname\n"
                            "==4049==    at 0x4956011: open (open64.c:41)\n"
                            "==4049==    by 0x109165: main (fdleak.c:3)\n"
                            "==4049== \n"
                            "==4049== Open file descriptor 251:\n"
                            "==4049==    <inherited from parent>\n"
                            "==4049== \n"
                            "==4049== Open file descriptor 3: /tmp/memcheck.log\n"
                            "==4049==    <inherited from parent>\n"
                            "==4049== Open file descriptor 9: /tmp/COM3\n";
    EXPECT_EQ(quorvel::test::descriptors_left_open(log),
              (std::vector<std::string>{"Open file descriptor 4: /etc/hostname", "Open file descriptor 9: /tmp/COM3"}));
    EXPECT_EQ(quorvel::test::descriptors_left_open("==1== FILE DESCRIPTORS: 3 open (3 std) at exit.\n"),
              std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Scenarios, NativeEndToEnd, ::testing::ValuesIn(quorvel::test::end_to_end_scenarios()),
                         [](const auto &info) { return quorvel::test::test_name_of(info.param); });
INSTANTIATE_TEST_SUITE_P(Status, NativeEndToEnd, ::testing::ValuesIn(quorvel::test::status_scenarios()),
                         [](const auto &info) { return quorvel::test::test_name_of(info.param); });

} // namespace
