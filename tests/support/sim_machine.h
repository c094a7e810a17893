// A simulated machine with the board installed, in a temporary directory
// that QUORVEL_SIM_DIR names for the library.
#pragma once

#include "temp_dir.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::test {

struct SimMachine {
    TempDir dir;

    // Lists the COM numbers as \Device\ser15x0, \Device\ser15x1 ... in
    // order and creates a register file for each port, holding the given
    // (register, value) pairs and zero elsewhere.
    void install_board(const std::vector<int> &com_numbers,
                       const std::vector<std::pair<int, int>> &registers = {}) const
    {
        std::string values;
        for (const auto &[reg, value] : registers) {
            values.resize(std::max(values.size(), static_cast<std::size_t>(reg) + 1));
            values[reg] = static_cast<char>(value);
        }
        std::string map;
        for (std::size_t i = 0; i < com_numbers.size(); ++i) {
            map += "\\Device\\ser15x" + std::to_string(i) + "=COM" + std::to_string(com_numbers[i]) + "\n";
            dir.write("COM" + std::to_string(com_numbers[i]), values);
        }
        dir.write("SERIALCOMM", map);
    }

    [[nodiscard]] std::vector<std::string> log() const { return dir.read_lines("requests.log"); }

    // Register reg of the board as reached through port n; zero past the
    // end of the file.
    [[nodiscard]] int reg(int port, int reg) const
    {
        const std::string registers = dir.read("COM" + std::to_string(port));
        return static_cast<std::size_t>(reg) < registers.size() ? static_cast<unsigned char>(registers[reg]) : 0;
    }
};

} // namespace quorvel::test
