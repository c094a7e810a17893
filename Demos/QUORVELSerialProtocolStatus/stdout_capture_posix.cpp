#include "stdout_capture.h"

#include <cstdio>
#include <unistd.h>

namespace quorvel {

std::optional<StdoutCapture> capture_stdout()
{
    // What the program printed before stays in front of the capture.
    std::fflush(stdout);
    int ends[2];
    if (pipe(ends) != 0) {
        return std::nullopt;
    }
    const int saved = dup(STDOUT_FILENO);
    if (saved < 0 || dup2(ends[1], STDOUT_FILENO) < 0) {
        if (saved >= 0) {
            close(saved);
        }
        close(ends[0]);
        close(ends[1]);
        return std::nullopt;
    }
    close(ends[1]);
    return StdoutCapture{saved, ends[0]};
}

std::size_t end_capture(const StdoutCapture &capture, char *buffer, std::size_t size)
{
    std::fflush(stdout);
    // Closes the pipe's last write end: the reads below end at its end.
    dup2(capture.saved_stdout, STDOUT_FILENO);
    close(capture.saved_stdout);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t count = read(capture.pipe_read, buffer + total, size - total);
        if (count <= 0) {
            break;
        }
        total += static_cast<std::size_t>(count);
    }
    close(capture.pipe_read);
    return total;
}

} // namespace quorvel
