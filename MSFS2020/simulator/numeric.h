// Conversions shared by the knob operations.
#ifndef MSFS_PANEL_NUMERIC_H
#define MSFS_PANEL_NUMERIC_H

#include <cmath>
#include <cstdint>
#include <limits>

// Truncates toward zero. The cache holds whatever the simulator sent, so a
// value beyond the 32-bit range (or NaN) must not make the conversion
// undefined: it saturates, and NaN gives 0.
inline std::int32_t truncateToInt32(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (value <= lowest) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= highest) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

// Nearest integer, halves away from zero (108.125 MHz snaps up to 108.15,
// not to the even neighbour), as a 32-bit integer.
inline std::int32_t roundToInt32(double value) { return truncateToInt32(std::round(value)); }

// Event data is a DWORD; negative values travel as two's complement.
inline std::uint32_t asEventData(std::int32_t value) { return static_cast<std::uint32_t>(value); }

#endif
