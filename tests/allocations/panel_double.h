// The USB panel, which cannot exist on a build machine: hidapi's functions
// as the loop calls them, with reports fed from a fixed ring and LED writes
// kept in a fixed array, so that the double itself never allocates.
#ifndef TEST_PANEL_DOUBLE_H
#define TEST_PANEL_DOUBLE_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace panel_double {

using Report = std::array<unsigned char, 8>;

// An input report: ID 1, buttons (little-endian), outer, inner, mode.
Report report(std::uint32_t buttons, std::int8_t outer, std::int8_t inner, std::uint8_t mode);

// Queues a report for hid_read; false when the ring is full.
bool feed(const Report& report);
// Reports fed but not read yet.
std::size_t waiting();

struct Writes {
    static constexpr std::size_t capacity = 1024;
    std::array<std::array<unsigned char, 2>, capacity> reports{};
    std::size_t count = 0;
};
const Writes& writes();
int opens();

}  // namespace panel_double

#endif
