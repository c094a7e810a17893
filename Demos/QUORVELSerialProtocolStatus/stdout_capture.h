// Catching what the library prints during a few calls. The library writes
// its failure messages to the C runtime's stdout, which it shares with the
// program; for the JSON status the program puts them into its object
// instead. stdout's file descriptor is pointed at a pipe for the calls and
// then put back. The library's messages are short fixed texts: they fit
// the pipe, so nothing waits for a reader. One backend per platform
// (stdout_capture_posix.cpp, stdout_capture_windows.cpp), chosen by CMake.
#pragma once

#include <cstddef>
#include <optional>

namespace quorvel {

struct StdoutCapture {
    int saved_stdout; // the descriptor stdout had before
    int pipe_read;    // what was written to stdout since, to read
};

// Sends what is written to stdout from now on into a pipe. Nothing: stdout
// stays as it was (no pipe, or no stdout to save), and nothing is captured.
std::optional<StdoutCapture> capture_stdout();

// Puts stdout back and reads what was captured into buffer, at most size
// bytes; returns how many.
std::size_t end_capture(const StdoutCapture &capture, char *buffer, std::size_t size);

} // namespace quorvel
