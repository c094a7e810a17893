#include "stdout_capture.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace quorvel {

namespace {
constexpr int stdout_descriptor = 1;
constexpr unsigned pipe_size = 4096; // far more than any message of the library
} // namespace

std::optional<StdoutCapture> capture_stdout()
{
    // What the program printed before stays in front of the capture.
    std::fflush(stdout);
    int ends[2];
    // Not inherited: no program started meanwhile may hold the write end open.
    if (_pipe(ends, pipe_size, _O_BINARY | _O_NOINHERIT) != 0) {
        return std::nullopt;
    }
    const int saved = _dup(stdout_descriptor);
    if (saved < 0 || _dup2(ends[1], stdout_descriptor) != 0) {
        if (saved >= 0) {
            _close(saved);
        }
        _close(ends[0]);
        _close(ends[1]);
        return std::nullopt;
    }
    _close(ends[1]);
    return StdoutCapture{saved, ends[0]};
}

std::size_t end_capture(const StdoutCapture &capture, char *buffer, std::size_t size)
{
    std::fflush(stdout);
    // Closes the pipe's last write end: the reads below end at its end.
    _dup2(capture.saved_stdout, stdout_descriptor);
    _close(capture.saved_stdout);
    std::size_t total = 0;
    while (total < size) {
        const int count = _read(capture.pipe_read, buffer + total, static_cast<unsigned>(size - total));
        if (count <= 0) {
            break;
        }
        total += static_cast<std::size_t>(count);
    }
    _close(capture.pipe_read);
    return total;
}

} // namespace quorvel
