#include "variables.h"

#include "aircraft.h"
#include "text.h"

#include <array>

namespace simemu {
namespace {

constexpr std::array<VarInfo, kVarCount> kVars{{
    {"COM ACTIVE FREQUENCY:1", Family::Frequency, "MHz"},
    {"COM STANDBY FREQUENCY:1", Family::Frequency, "MHz"},
    {"COM ACTIVE FREQUENCY:2", Family::Frequency, "MHz"},
    {"COM STANDBY FREQUENCY:2", Family::Frequency, "MHz"},
    {"NAV ACTIVE FREQUENCY:1", Family::Frequency, "MHz"},
    {"NAV STANDBY FREQUENCY:1", Family::Frequency, "MHz"},
    {"NAV ACTIVE FREQUENCY:2", Family::Frequency, "MHz"},
    {"NAV STANDBY FREQUENCY:2", Family::Frequency, "MHz"},
    {"AUTOPILOT HEADING LOCK DIR", Family::Angle, "degrees"},
    {"NAV OBS:1", Family::Angle, "degrees"},
    {"NAV OBS:2", Family::Angle, "degrees"},
    {"TRANSPONDER CODE:1", Family::Squawk, "BCO16"},
    {"AUTOPILOT ALTITUDE LOCK VAR", Family::Length, "feet"},
    {"AUTOPILOT VERTICAL HOLD VAR", Family::VerticalSpeed, "feet/minute"},
    {"AUTOPILOT MASTER", Family::Boolean, "Bool"},
    {"AUTOPILOT HEADING LOCK", Family::Boolean, "Bool"},
    {"AUTOPILOT NAV1 LOCK", Family::Boolean, "Bool"},
    {"AUTOPILOT APPROACH HOLD", Family::Boolean, "Bool"},
    {"AUTOPILOT ALTITUDE LOCK", Family::Boolean, "Bool"},
    {"AUTOPILOT VERTICAL HOLD", Family::Boolean, "Bool"},
    {"GPS DRIVES NAV1", Family::Boolean, "Bool"},
    {"KOHLSMAN SETTING HG", Family::Pressure, "inHg"},
    {"KOHLSMAN SETTING MB", Family::Pressure, "millibars"},
}};

struct UnitName {
    std::string_view name;  // lower case
    Unit unit;
};

constexpr double kPi = 3.14159265358979323846;
constexpr double kFeetToMeters = 0.3048;

const UnitName kUnits[] = {
    {"mhz", {Family::Frequency, 1.0, false}},
    {"megahertz", {Family::Frequency, 1.0, false}},
    {"khz", {Family::Frequency, 1e3, false}},
    {"kilohertz", {Family::Frequency, 1e3, false}},
    {"hz", {Family::Frequency, 1e6, false}},
    {"hertz", {Family::Frequency, 1e6, false}},
    {"frequency bcd16", {Family::Frequency, 1.0, true}},
    {"bcd16", {Family::Frequency, 1.0, true}},
    {"degrees", {Family::Angle, 1.0, false}},
    {"degree", {Family::Angle, 1.0, false}},
    {"radians", {Family::Angle, kPi / 180.0, false}},
    {"radian", {Family::Angle, kPi / 180.0, false}},
    {"feet", {Family::Length, 1.0, false}},
    {"foot", {Family::Length, 1.0, false}},
    {"ft", {Family::Length, 1.0, false}},
    {"meters", {Family::Length, kFeetToMeters, false}},
    {"meter", {Family::Length, kFeetToMeters, false}},
    {"m", {Family::Length, kFeetToMeters, false}},
    {"feet/minute", {Family::VerticalSpeed, 1.0, false}},
    {"feet per minute", {Family::VerticalSpeed, 1.0, false}},
    {"ft/min", {Family::VerticalSpeed, 1.0, false}},
    {"feet/second", {Family::VerticalSpeed, 1.0 / 60.0, false}},
    {"feet per second", {Family::VerticalSpeed, 1.0 / 60.0, false}},
    {"ft/s", {Family::VerticalSpeed, 1.0 / 60.0, false}},
    {"meters/minute", {Family::VerticalSpeed, kFeetToMeters, false}},
    {"meters per minute", {Family::VerticalSpeed, kFeetToMeters, false}},
    {"meters/second", {Family::VerticalSpeed, kFeetToMeters / 60.0, false}},
    {"meters per second", {Family::VerticalSpeed, kFeetToMeters / 60.0, false}},
    {"m/s", {Family::VerticalSpeed, kFeetToMeters / 60.0, false}},
    {"bco16", {Family::Squawk, 1.0, false}},
    {"bool", {Family::Boolean, 1.0, false}},
    {"boolean", {Family::Boolean, 1.0, false}},
    {"inhg", {Family::Pressure, 1.0, false}},
    {"inches of mercury", {Family::Pressure, 1.0, false}},
    {"millibars", {Family::Pressure, kMillibarsPerInHg, false}},
    {"millibar", {Family::Pressure, kMillibarsPerInHg, false}},
    {"mbar", {Family::Pressure, kMillibarsPerInHg, false}},
    {"hectopascals", {Family::Pressure, kMillibarsPerInHg, false}},
    {"hectopascal", {Family::Pressure, kMillibarsPerInHg, false}},
    {"hpa", {Family::Pressure, kMillibarsPerInHg, false}},
    {"kilopascals", {Family::Pressure, kMillibarsPerInHg / 10.0, false}},
    {"kpa", {Family::Pressure, kMillibarsPerInHg / 10.0, false}},
    {"pascals", {Family::Pressure, kMillibarsPerInHg * 100.0, false}},
    {"pascal", {Family::Pressure, kMillibarsPerInHg * 100.0, false}},
    {"pa", {Family::Pressure, kMillibarsPerInHg * 100.0, false}},
};

}  // namespace

const VarInfo& info(Var v) { return kVars[static_cast<std::size_t>(v)]; }

std::optional<Var> findVar(std::string_view name) {
    name = trim(name);
    for (std::size_t i = 0; i < kVarCount; ++i) {
        if (equalsIgnoreCase(kVars[i].name, name)) {
            return static_cast<Var>(i);
        }
    }
    return std::nullopt;
}

std::optional<Unit> findUnit(std::string_view name) {
    name = trim(name);
    for (const UnitName& u : kUnits) {
        if (equalsIgnoreCase(u.name, name)) {
            return u.unit;
        }
    }
    return std::nullopt;
}

}  // namespace simemu
