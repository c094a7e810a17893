// The status program's machine-readable output: one JSON object on one
// line, for deployment scripts (ConvertFrom-Json) and other tools. Field
// names are stable: fields may be added, none renamed or removed.
//
// Every string is printable ASCII: bytes of Configuration.ini that form
// well-formed UTF-8 become the escaped characters (\uXXXX, a surrogate pair
// beyond U+FFFF); any other byte above 0x7F becomes \u00XX of that byte,
// as if read in Latin-1. So the output parses whatever bytes the file
// holds, and in any console code page.
#pragma once

#include "settings.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

namespace quorvel {

// The program's verdict; each one has its exit status (exit_status_of).
enum class BoardState {
    matches,
    differs,
    board_not_read,
    configuration_not_found,
    configuration_cannot_be_opened,
    configuration_not_valid,
};

int exit_status_of(BoardState state);

struct StatusReport {
    BoardState state;
    std::optional<unsigned> scratch_register;  // 0x13 as read; nothing: not read
    std::optional<unsigned> protocol_register; // 0x10 as read
    std::optional<unsigned> asked;             // the word Configuration.ini asks for
    const SettingsFromFile &configured;
    std::string_view library_message; // empty: none
    const LinesNotRead &lines_not_read;
    std::optional<std::uint32_t> windows_error; // the library's when the board was not read
};

// How the text and the JSON name why a line is not read.
std::string_view reason_text(NotReadReason reason);
std::string_view reason_name(NotReadReason reason);

// Writes text as a JSON string, quotes included.
void write_json_string(std::FILE *out, std::string_view text);

// Writes the report as one line.
void write_status_json(std::FILE *out, const StatusReport &report);

} // namespace quorvel
