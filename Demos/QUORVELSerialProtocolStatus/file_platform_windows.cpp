#include "file_platform.h"

#include <windows.h>

#include <array>

namespace quorvel {

std::optional<std::size_t> environment_text(const char *name, char *buffer, std::size_t capacity)
{
    std::array<wchar_t, 64> wide_name{};
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name.data(), static_cast<int>(wide_name.size())) == 0) {
        return std::nullopt;
    }
    // An environment variable holds at most 32767 characters.
    static std::array<wchar_t, 32768> text;
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wide_name.data(), text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) {
        // Set and empty, or not set: either way no text.
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::size_t>(0);
    }
    if (length >= text.size()) {
        return std::nullopt;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(length), buffer,
                                          static_cast<int>(capacity), nullptr, nullptr);
    if (bytes <= 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(bytes);
}

std::uint32_t library_error()
{
    return GetLastError();
}

int replace_file(const char *source, const char *target)
{
    // MoveFileEx replaces target by a rename: never a delete and then a
    // move, after which a delete left pending by a reader that shares
    // deletion (an antivirus scan, the indexer) would keep the move from
    // happening and leave no Configuration.ini at all.
    constexpr DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExA(source, target, flags)) {
        return 0;
    }
    DWORD error = GetLastError();
    // Held open by a program that does not share deletion (the start-up
    // task's run, an editor): such holds are short, so wait once.
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION) {
        Sleep(1000);
        if (MoveFileExA(source, target, flags)) {
            return 0;
        }
        error = GetLastError();
    }
    return static_cast<int>(error);
}

} // namespace quorvel
