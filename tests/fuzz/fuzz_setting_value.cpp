// Turning a found value into a setting, on arbitrary text and field sizes.
//
// Input: one byte choosing the field's largest value (the tool's 1 and 3,
// a few edges, or four more input bytes taken as any int), then the text.
#include "reference.h"
#include "settings.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    // The tool's two field sizes and the edges of an int's range.
    constexpr int chosen_largest[] = {1, 3, 0, INT_MAX, INT_MAX - 1, -1};
    int largest_value = 0;
    if (const unsigned choice = data[0] % 8U; choice < std::size(chosen_largest)) {
        largest_value = chosen_largest[choice];
    } else if (text.size() >= sizeof largest_value) {
        std::memcpy(&largest_value, text.data(), sizeof largest_value);
        text.remove_prefix(sizeof largest_value);
    }

    const auto value = quorvel::parse_setting_value(text, largest_value);
    quorvel::fuzz::require(value == quorvel::fuzz::expected_setting_value(text, largest_value),
                           "the conversion agrees with strtoll");
    if (value) {
        quorvel::fuzz::require(*value >= 0 && *value <= largest_value, "a setting lies inside its field");
    }
    return 0;
}
