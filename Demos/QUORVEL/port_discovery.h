// Finding the board's COM port numbers in the registry's serial-port map.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel {

using PortNumbers = std::array<std::int32_t, 4>;

// The number in registry string data that reads COM<digits> (COM in any
// letter case), or nothing. Only the size bytes that the query returned are
// looked at, and the text ends at the first zero code unit or at the end of
// the data, since a value may be stored without its terminator.
std::optional<std::int32_t> parse_com_number(const std::uint8_t *data, std::size_t size);

// Ascending, by an exchange sort over the four slots.
void sort_port_numbers(PortNumbers &port_numbers);

// Reads the map entries of the board's four ports into port_numbers and
// sorts them. 0 on success; -1 when the map cannot be opened or an entry is
// absent or does not name a COM port (the slots read before it keep their
// new numbers and nothing is sorted).
int find_port_numbers(PortNumbers &port_numbers);

} // namespace quorvel
