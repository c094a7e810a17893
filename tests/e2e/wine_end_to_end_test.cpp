// Runs the unmodified Windows build of the tool under Wine, against the
// simulated board driver, once per scenario, with the same expectations as
// on the simulated machine. QUORVEL_WINDOWS_BIN names the bin folder of an
// unpacked release ZIP (x86_64 or i686). The Wine prefix with the driver
// installed is prepared once by the test fixture that ctest runs first.
#include "scenarios.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using quorvel::test::Scenario;

// Windows programs end their lines with CRLF on the console.
std::string with_line_feeds(const std::string &text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            result += text[i];
        }
    }
    return result;
}

std::string port_list(const Scenario &scenario)
{
    if (!scenario.driver_installed) {
        return "nodriver";
    }
    std::string list;
    for (const int port : scenario.ports) {
        list += (list.empty() ? "" : " ") + std::to_string(port);
    }
    return list;
}

class WineEndToEnd : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineEndToEnd, OutputExitStatusAndBoardMatch)
{
    const Scenario &scenario = GetParam();
    const quorvel::test::TempDir run;
    if (scenario.configuration) {
        run.write("Configuration.ini", *scenario.configuration);
    }
    std::string faults = "-";
    if (!scenario.faults.empty()) {
        run.write("faults", scenario.faults);
        faults = (run.path() / "faults").string();
    }
    const std::string log = (run.path() / "requests.log").string();

    const char *windows_bin = std::getenv("QUORVEL_WINDOWS_BIN");
    ASSERT_NE(windows_bin, nullptr) << "QUORVEL_WINDOWS_BIN names no release folder";
    const std::string program = std::string(windows_bin) + "/QUORVELSerialProtocolSelection.exe";

    const auto result =
        quorvel::test::run_process({"/bin/bash", QUORVEL_WINE_BOARD, "run", QUORVEL_WINE_PREFIX, run.path().string(),
                                    log, port_list(scenario), faults, "--", program},
                                   run.path());

    ASSERT_NE(result.exit_status, 125) << "the Wine board did not start";
    EXPECT_EQ(with_line_feeds(result.output), scenario.expected_output);
    EXPECT_EQ(result.exit_status, scenario.expected_exit_status);
    EXPECT_EQ(run.read_lines("requests.log"), scenario.expected_log);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WineEndToEnd, ::testing::ValuesIn(quorvel::test::end_to_end_scenarios()),
                         [](const auto &info) { return quorvel::test::test_name_of(info.param); });

} // namespace
