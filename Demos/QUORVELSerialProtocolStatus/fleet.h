// What the deployment scripts (deploy/) ask of the status program. They
// find the install, start this program and pass its line and exit status on
// to their fleet tool; every judgement is made here:
//   --line             "QUORVEL: " and the state, settings named, as Intune's
//                      detection shows it;
//   --compliance       "Compliant" on a match, otherwise "NonCompliant: " and
//                      the state, the value a Configuration Manager rule
//                      "Equals Compliant" reads;
//   --applied STATUS   the line after apply-configuration.cmd ended with
//                      STATUS, and the remediation's status;
//   --install-carried  the settings a script carries written to
//                      Configuration.ini, where they are valid and differ;
//                      a line only when refused.
// The settings a script carries come in the environment variable
// QUORVEL_CARRIED_CONFIGURATION (not set, or blank: none). In these modes the
// exit status is 0 only on a match (or, --install-carried, when
// Configuration.ini holds the carried settings): 1 the board cannot be
// reached, 2 it differs, 4 anything else.
#pragma once

#include "settings.h"
#include "status_json.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel {

struct BoardRead {
    bool opened = false; // QUORVEL_INIT succeeded
    bool read = false;   // and both registers were read
    unsigned char scratch = 0;
    unsigned char protocol = 0;
    std::uint32_t error = 0; // the library's Windows error code when not read
};

// The board and a Configuration.ini, as the JSON and the fleet lines tell them.
struct Observation {
    BoardRead board;
    std::array<char, 256> message{}; // the library's, while the board was read
    std::size_t message_size = 0;
    SettingsFromFile configured{};
    LinesNotRead lines_not_read{};
    BoardState state = BoardState::board_not_read;
    bool compared = false; // the file's settings were read, so "asked" is known
};

// The path of name in folder (nullptr: the working directory); nothing
// when it is too long.
struct Path {
    std::array<char, 1024> chars{};
};
std::optional<Path> path_in(const char *folder, const char *name);

// Reads the board (the library's message caught) and the settings file at path.
Observation observe(const char *configuration_path);

enum class FleetMode { line, compliance, install_carried };

// Runs a fleet mode for the install in folder; returns the exit status.
int run_fleet_mode(FleetMode mode, const char *folder, std::optional<int> applied);

// --check: says on stdout whether the settings file at path is read as
// written (lines not read, values not valid, bytes beyond ASCII); 0 when
// it is, 4 otherwise.
int check_settings_file(const char *path);

} // namespace quorvel
