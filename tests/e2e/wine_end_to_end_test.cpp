// Runs the unmodified Windows build of the programs under Wine, against the
// simulated board driver, once per scenario, with the same expectations as
// on the simulated machine. QUORVEL_WINDOWS_BIN names the bin folder of an
// unpacked release ZIP (x86_64 or i686). The Wine prefix with the driver
// installed is prepared once by the test fixture that ctest runs first.
#include "scenarios.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

using quorvel::test::Program;
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

// WINE_BOARD_REGISTERS: "13=c0 10=0a".
std::string register_values(const Scenario &scenario)
{
    std::string values;
    for (const auto &[reg, value] : scenario.registers) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%02x=%02x", reg & 0xFF, value & 0xFF);
        values += (values.empty() ? "" : " ") + std::string(pair);
    }
    return values;
}

// The path under Wine's Z: drive, which is the host's root.
std::string windows_path(const std::filesystem::path &path)
{
    std::string result = "Z:" + path.string();
    for (char &c : result) {
        c = c == '/' ? '\\' : c;
    }
    return result;
}

// Copies the release's programs, DLL, Configuration.ini and batch files
// into folder, as they are installed together.
void copy_release(const std::filesystem::path &windows_bin, const std::filesystem::path &folder)
{
    for (const auto &entry : std::filesystem::directory_iterator(windows_bin)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".exe" || extension == ".dll" || extension == ".cmd" ||
            entry.path().filename() == "Configuration.ini") {
            std::filesystem::copy_file(entry.path(), folder / entry.path().filename());
        }
    }
}

class WineEndToEnd : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineEndToEnd, OutputExitStatusAndBoardMatch)
{
    const Scenario &scenario = GetParam();
    const quorvel::test::TempDir run;
    const quorvel::test::TempDir programs;
    const bool batch = scenario.program == Program::apply_configuration;
    // The batch file's folder, and the names of its files as seen from programs.
    const std::filesystem::path folder =
        scenario.folder_name.empty() ? programs.path() : programs.path() / scenario.folder_name;
    const std::string in_folder = scenario.folder_name.empty() ? "" : scenario.folder_name + "/";
    const char *windows_bin = std::getenv("QUORVEL_WINDOWS_BIN");
    ASSERT_NE(windows_bin, nullptr) << "QUORVEL_WINDOWS_BIN names no release folder";
    if (batch) {
        std::filesystem::create_directories(folder);
        copy_release(windows_bin, folder);
        for (const std::string &file : scenario.removed_files) {
            std::filesystem::remove(folder / file);
        }
    }
    // Configuration.ini next to the batch file, or in the program's working directory.
    const quorvel::test::TempDir &settings_dir = batch ? programs : run;
    const std::string settings = (batch ? in_folder : "") + "Configuration.ini";
    if (scenario.configuration) {
        settings_dir.write(settings, *scenario.configuration);
    }
    if (scenario.configuration_cannot_be_opened) {
        std::filesystem::remove(settings_dir.path() / settings); // the release's sample
        std::filesystem::create_directory(settings_dir.path() / settings);
    }
    std::string faults = "-";
    if (!scenario.faults.empty()) {
        run.write("faults", scenario.faults);
        faults = (run.path() / "faults").string();
    }
    const std::string log = (run.path() / "requests.log").string();

    std::vector<std::string> command{"/bin/bash", QUORVEL_WINE_BOARD, "run", QUORVEL_WINE_PREFIX, run.path().string()};
    command.insert(command.end(), {log, port_list(scenario), faults, "--"});
    if (batch) {
        // Started as Task Scheduler and deployment agents start it, its path
        // as the program, from the working directory, which holds no
        // program and no Configuration.ini: it must go to its own folder.
        command.push_back(windows_path(folder / "apply-configuration.cmd"));
    } else {
        command.push_back(std::string(windows_bin) + (scenario.program == Program::status
                                                          ? "/QUORVELSerialProtocolStatus.exe"
                                                          : "/QUORVELSerialProtocolSelection.exe"));
    }
    command.insert(command.end(), scenario.arguments.begin(), scenario.arguments.end());

    const auto result =
        quorvel::test::run_process(command, run.path(), {{"WINE_BOARD_REGISTERS", register_values(scenario)}});

    ASSERT_NE(result.exit_status, 125) << "the Wine board did not start";
    std::string expected_output = scenario.expected_output;
    if (const auto at = expected_output.find(quorvel::test::folder_placeholder); at != std::string::npos) {
        expected_output.replace(at, quorvel::test::folder_placeholder.size(), windows_path(folder));
    }
    EXPECT_EQ(with_line_feeds(result.output), expected_output);
    if (batch) {
        // What an administrator finds after an unattended run.
        EXPECT_EQ(with_line_feeds(programs.read(in_folder + "apply-configuration.log")), expected_output);
    }
    EXPECT_EQ(with_line_feeds(result.errors), scenario.expected_errors);
    EXPECT_EQ(result.exit_status, scenario.expected_exit_status);
    EXPECT_EQ(run.read_lines("requests.log"), scenario.expected_log);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WineEndToEnd, ::testing::ValuesIn(quorvel::test::end_to_end_scenarios()),
                         [](const auto &info) { return quorvel::test::test_name_of(info.param); });
INSTANTIATE_TEST_SUITE_P(Status, WineEndToEnd, ::testing::ValuesIn(quorvel::test::status_scenarios()),
                         [](const auto &info) { return quorvel::test::test_name_of(info.param); });

} // namespace
