// The two data definitions, written once: what each datum asks the simulator
// for, where its value goes in the cache, and how a value the program sets is
// recognised in it. The definition calls, the reading of a received block,
// the block sizes and the hold-off's tolerances all come from these rows, so
// a datum added to a definition cannot be misread silently.
#ifndef MSFS_PANEL_DATA_BLOCKS_H
#define MSFS_PANEL_DATA_BLOCKS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "simconnect_protocol/vocabulary.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace blocks {

using Sim = FlightSimInterfaceMSFS;

// When a reported value counts as the one the program set: within half the
// unit the event carries (BCD hundredths, whole degrees, whole feet), angles
// modulo 360 since the simulator keeps 360 as 0; transponder codes exactly.
struct HoldRule {
    HeldMember member = HeldMember::Count;  // Count: the program never sets it
    double tolerance = 0.0;
    bool angle = false;
};

// One datum. Exactly one of the three members is set, and it gives the type:
// FLOAT64 for `real`, INT32 for `integer` and `code`.
struct Datum {
    const char* variable;
    const char* unit;
    double Sim::*real = nullptr;
    std::int32_t Sim::*integer = nullptr;
    std::optional<std::uint32_t> Sim::*code = nullptr;
    HoldRule hold{};

    constexpr SIMCONNECT_DATATYPE type() const {
        return real != nullptr ? SIMCONNECT_DATATYPE_FLOAT64 : SIMCONNECT_DATATYPE_INT32;
    }
    constexpr std::size_t width() const { return scproto::dataTypeWidth(static_cast<scproto::DataType>(type())); }
};

constexpr Datum real(const char* variable, const char* unit, double Sim::*member, HoldRule hold = {}) {
    return {variable, unit, member, nullptr, nullptr, hold};
}
constexpr Datum flag(const char* variable, std::int32_t Sim::*member) {
    return {variable, "Bool", nullptr, member, nullptr, {}};
}

constexpr HoldRule frequency(HeldMember member) {
    return {member, 0.005, false};  // MHz, sent in hundredths
}
constexpr HoldRule angle(HeldMember member) { return {member, 0.5, true}; }

// In the order the variables are added, which is the order they lie in the
// received block.
inline constexpr std::array<Datum, 7> kRadio{{
    real("COM STANDBY FREQUENCY:1", "MHz", &Sim::com1_standby),
    real("COM STANDBY FREQUENCY:2", "MHz", &Sim::com2_standby),
    real("NAV STANDBY FREQUENCY:1", "MHz", &Sim::nav1_standby, frequency(HeldMember::Nav1Standby)),
    real("NAV STANDBY FREQUENCY:2", "MHz", &Sim::nav2_standby, frequency(HeldMember::Nav2Standby)),
    real("AUTOPILOT HEADING LOCK DIR", "degrees", &Sim::heading_bug, angle(HeldMember::HeadingBug)),
    real("NAV OBS:1", "degrees", &Sim::obs1, angle(HeldMember::Obs1)),
    real("NAV OBS:2", "degrees", &Sim::obs2, angle(HeldMember::Obs2)),
}};

// clang-format off
inline constexpr std::array<Datum, 9> kAutopilot{{
    // Sent truncated to whole feet and feet per minute.
    real("AUTOPILOT ALTITUDE LOCK VAR", "feet", &Sim::ap_altitude, {HeldMember::ApAltitude, 1.0, false}),
    real("AUTOPILOT VERTICAL HOLD VAR", "feet/minute", &Sim::ap_vertical_speed,
         {HeldMember::ApVerticalSpeed, 1.0, false}),
    {"TRANSPONDER CODE:1", "BCO16", nullptr, nullptr, &Sim::transponder_code,
     {HeldMember::TransponderCode, 0.0, false}},
    flag("AUTOPILOT MASTER", &Sim::ap_master),
    flag("AUTOPILOT HEADING LOCK", &Sim::ap_heading_lock),
    flag("AUTOPILOT NAV1 LOCK", &Sim::ap_nav1_lock),
    flag("AUTOPILOT APPROACH HOLD", &Sim::ap_approach_hold),
    flag("AUTOPILOT ALTITUDE LOCK", &Sim::ap_altitude_lock),
    flag("AUTOPILOT VERTICAL HOLD", &Sim::ap_vertical_hold),
}};
// clang-format on

constexpr std::size_t size(std::span<const Datum> layout) {
    std::size_t bytes = 0;
    for (const Datum& datum : layout) {
        bytes += datum.width();
    }
    return bytes;
}

// The hold rule of each member the program sets, found in the rows.
constexpr std::array<HoldRule, static_cast<std::size_t>(HeldMember::Count)> holdRules() {
    std::array<HoldRule, static_cast<std::size_t>(HeldMember::Count)> rules{};
    for (std::span<const Datum> layout : {std::span<const Datum>(kRadio), std::span<const Datum>(kAutopilot)}) {
        for (const Datum& datum : layout) {
            if (datum.hold.member != HeldMember::Count) {
                rules[static_cast<std::size_t>(datum.hold.member)] = datum.hold;
            }
        }
    }
    return rules;
}

constexpr bool everyHeldMemberHasItsRow() {
    const auto rules = holdRules();
    for (std::size_t i = 0; i < rules.size(); ++i) {
        if (rules[i].member != static_cast<HeldMember>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(everyHeldMemberHasItsRow(), "each member the program sets needs a datum with its hold rule");

}  // namespace blocks

#endif
