// Running a program as a separate process and collecting what it printed.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::test {

struct ProcessResult {
    std::string output; // standard output, byte for byte
    int exit_status;    // -1 when the process did not exit normally
    std::string errors; // standard error, byte for byte
};

// Runs argv[0] with the given arguments in working_directory, with the
// extra environment variables set, and waits for it.
ProcessResult run_process(const std::vector<std::string> &argv, const std::filesystem::path &working_directory,
                          const std::vector<std::pair<std::string, std::string>> &environment = {});

} // namespace quorvel::test
