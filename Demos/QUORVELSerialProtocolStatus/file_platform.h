// What the status program needs of the system beyond the C runtime, for
// the deployment scripts: text they hand over in the environment, and the
// replacement of Configuration.ini in one step. One backend per platform
// (file_platform_posix.cpp, file_platform_windows.cpp), chosen by CMake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel {

// The text of environment variable name, as UTF-8, in buffer (on Windows
// read as the UTF-16 text the system keeps, so that no character beyond the
// code page becomes a "?"); its length. Nothing when the variable is not
// set or its text does not fit capacity bytes.
std::optional<std::size_t> environment_text(const char *name, char *buffer, std::size_t capacity);

// Puts the file at source in target's place in one step: target is either
// the old file or the new one, never missing, even when the program is cut
// short. Tried once more after a second when another program holds target.
// Returns 0, or the system's error code; source is left where it was then.
int replace_file(const char *source, const char *target);

// The Windows error code QUORVEL left for the calling thread after a call
// that failed: GetLastError on Windows; errno on the simulated machine,
// whose library keeps the Windows code there. Read it before any other
// call that may change it.
std::uint32_t library_error();

} // namespace quorvel
