#include "process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::test {

ProcessResult run_process(const std::vector<std::string> &argv, const std::filesystem::path &working_directory,
                          const std::vector<std::pair<std::string, std::string>> &environment)
{
    // Standard error goes to a file that is read once the child is gone:
    // a second pipe could fill up while the first is being drained.
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> errors(std::tmpfile(), &std::fclose);
    int pipe_ends[2];
    if (!errors || pipe(pipe_ends) != 0) {
        throw std::runtime_error("cannot make the pipe or the file for the output");
    }
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        dup2(fileno(errors.get()), STDERR_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        for (const auto &[name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        if (chdir(working_directory.c_str()) != 0) {
            _exit(126);
        }
        std::vector<char *> arguments;
        arguments.reserve(argv.size() + 1);
        for (const std::string &argument : argv) {
            arguments.push_back(const_cast<char *>(argument.c_str()));
        }
        arguments.push_back(nullptr);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    ProcessResult result{{}, -1, {}};
    char chunk[4096];
    for (;;) {
        const ssize_t count = read(pipe_ends[0], chunk, sizeof chunk);
        if (count > 0) {
            result.output.append(chunk, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipe_ends[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    }
    std::rewind(errors.get());
    for (std::size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, errors.get())) > 0;) {
        result.errors.append(chunk, count);
    }
    return result;
}

} // namespace quorvel::test
