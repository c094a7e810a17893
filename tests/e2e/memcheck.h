// Running the tool under valgrind's memcheck and reading what it reports
// about the files the tool left open.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace quorvel::test {

// The memcheck options that make any memory error or leak (even of memory
// still reachable at exit) fail the run with exit status 99 and list the
// descriptors still open at exit.
inline std::vector<std::string> memcheck_command(const std::string &valgrind, const std::string &suppressions,
                                                 const std::string &log_file)
{
    return {valgrind,
            "--error-exitcode=99",
            "--leak-check=full",
            "--show-leak-kinds=all",
            "--errors-for-leak-kinds=all",
            "--track-fds=yes",
            "--suppressions=" + suppressions,
            "--log-file=" + log_file};
}

// The "Open file descriptor N: name" lines of a memcheck log for the
// descriptors that the program opened itself and never closed. Those it
// inherited (the log file, anything the test runner left open) are marked
// "<inherited from parent>" on the next line and are not the program's;
// the three standard ones are only counted, never listed.
inline std::vector<std::string> descriptors_left_open(const std::string &log)
{
    std::vector<std::string> left_open;
    std::istringstream lines(log);
    std::string pending;
    for (std::string line; std::getline(lines, line);) {
        if (!pending.empty() && line.find("<inherited from parent>") == std::string::npos) {
            left_open.push_back(pending);
        }
        pending.clear();
        const auto at = line.find("Open file descriptor ");
        if (at != std::string::npos) {
            pending = line.substr(at);
        }
    }
    if (!pending.empty()) {
        left_open.push_back(pending);
    }
    return left_open;
}

} // namespace quorvel::test
