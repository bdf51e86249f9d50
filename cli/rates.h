#pragma once

// The board's fourteen line rates, in the order the window searches them; a rate's position
// is also its index in the configuration record.

#include <array>
#include <optional>

namespace swb808::cli {

inline constexpr std::array<int, 14> kBoardRates = {
    300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 76800, 115200, 230400};
inline constexpr int kBootloaderRate = 19200;

// The index of a rate in the list, or nullopt.
constexpr std::optional<int> RateIndex(int baud) {
    for (size_t i = 0; i < kBoardRates.size(); ++i)
        if (kBoardRates[i] == baud) return int(i);
    return std::nullopt;
}

// The rate of a configuration index, or nullopt for 14 ("unknown") and above.
constexpr std::optional<int> RateOfIndex(int index) {
    if (index < 0 || index >= int(kBoardRates.size())) return std::nullopt;
    return kBoardRates[size_t(index)];
}

}  // namespace swb808::cli
