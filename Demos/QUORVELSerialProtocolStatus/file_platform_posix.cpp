#include "file_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorvel {

std::optional<std::size_t> environment_text(const char *name, char *buffer, std::size_t capacity)
{
    const char *text = std::getenv(name);
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::size_t length = std::strlen(text);
    if (length > capacity) {
        return std::nullopt;
    }
    std::copy_n(text, length, buffer);
    return length;
}

std::uint32_t library_error()
{
    return static_cast<std::uint32_t>(errno);
}

int replace_file(const char *source, const char *target)
{
    // rename replaces target in one step; nothing here holds a file against it.
    return std::rename(source, target) == 0 ? 0 : errno;
}

} // namespace quorvel
