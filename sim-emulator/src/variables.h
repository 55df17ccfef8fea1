// The simulator variables the panel program reads, and the units a data
// definition may name for them.
//
// Values are held in one canonical unit per family (MHz, degrees, feet,
// feet/minute, BCO16, Bool, inHg) and converted on reading, as SimConnect
// converts to whatever unit of the same family a data definition names.
// Variable and unit names are matched case-insensitively.
#ifndef SIM_EMULATOR_VARIABLES_H
#define SIM_EMULATOR_VARIABLES_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace simemu {

enum class Family { Frequency, Angle, Length, VerticalSpeed, Squawk, Boolean, Pressure };

enum class Var : std::uint8_t {
    ComActive1,
    ComStandby1,
    ComActive2,
    ComStandby2,
    NavActive1,
    NavStandby1,
    NavActive2,
    NavStandby2,
    HeadingBug,
    Obs1,
    Obs2,
    Transponder,
    ApAltitude,
    ApVerticalSpeed,
    ApMaster,
    ApHeadingLock,
    ApNav1Lock,
    ApApproachHold,
    ApAltitudeLock,
    ApVerticalHold,
    GpsDrivesNav1,
    KohlsmanHg,
    KohlsmanMb,
    Count
};
inline constexpr std::size_t kVarCount = static_cast<std::size_t>(Var::Count);

struct VarInfo {
    std::string_view name;  // the SimConnect name, as the state output writes it
    Family family;
    std::string_view unit;  // the unit of --set values, the state output and the display
};

const VarInfo& info(Var v);
std::optional<Var> findVar(std::string_view name);

// A unit name resolved: value_in_unit = canonical value * scale, except for
// the BCD16 frequency encoding which is not a linear scale.
struct Unit {
    Family family = Family::Frequency;
    double scale = 1.0;
    bool bcd16 = false;
};
std::optional<Unit> findUnit(std::string_view name);

}  // namespace simemu

#endif
