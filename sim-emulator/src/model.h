// The emulated aircraft: the simulator variables the panel program reads,
// the simulator events it sends, and what each event does to the variables.
//
// Values are held in one canonical unit per family (MHz, degrees, feet,
// feet/minute, BCO16, Bool, inHg) and converted on reading, as SimConnect
// converts to whatever unit of the same family a data definition names.
// Event and variable names are matched case-insensitively.
#ifndef SIM_EMULATOR_MODEL_H
#define SIM_EMULATOR_MODEL_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace simemu {

enum class Family { Frequency, Angle, Length, VerticalSpeed, Squawk, Boolean, Pressure };

enum class Var : std::uint8_t {
    ComActive1, ComStandby1, ComActive2, ComStandby2,
    NavActive1, NavStandby1, NavActive2, NavStandby2,
    HeadingBug, Obs1, Obs2,
    Transponder,
    ApAltitude, ApVerticalSpeed,
    ApMaster, ApHeadingLock, ApNav1Lock, ApApproachHold, ApAltitudeLock, ApVerticalHold,
    GpsDrivesNav1,
    KohlsmanHg, KohlsmanMb,
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

enum class DataFormat { None, Hex, Unsigned, Signed };

enum class EventKind {
    ComWholeInc, ComWholeDec, ComFractInc, ComFractDec, ComStandbySet, NavStandbySet,
    Swap, AngleSet, SquawkSet, AltitudeSet, VerticalSpeedSet,
    KohlsmanInc, KohlsmanDec, BaroStandard, Toggle,
};

struct EventInfo {
    std::string_view name;
    EventKind kind;
    Var target;
    Var other;  // the active frequency of a swap; unused otherwise
    DataFormat data_format;
};

// What a mapped event name stands for.
enum class NameClass {
    Sim,      // a simulator event this model knows
    Custom,   // empty (private to the client), dotted or "#nnnn": accepted, no effect here
    Unknown,  // a plain name the simulator does not know
};
NameClass classifyEventName(std::string_view name);
const EventInfo* findEvent(std::string_view name);

// The variables an applied event changed, or why it changed nothing.
struct Effect {
    std::array<Var, 2> vars{};
    int count = 0;
    std::string_view ignored;  // non-empty when the event's data was rejected
    bool limited = false;      // a variable was held within its --limit
};

// A range a variable is held within, in its own unit (--limit).
struct Limit {
    Var var = Var::Count;
    double min = 0.0;
    double max = 0.0;
};

class Model {
public:
    Model();  // the starting values listed by --help

    double canonical(Var v) const;
    // The value in the variable's own unit (VarInfo::unit).
    double value(Var v) const;
    // The value in another unit; nothing when the unit's family differs.
    std::optional<double> read(Var v, const Unit& unit) const;

    // Sets a value given in the variable's own unit, normalised as the
    // events would leave it (angles into 0..359.x). Returns an error text
    // when the value lies outside what the variable can hold.
    std::optional<std::string> set(Var v, double value);

    // Applies the event, then holds the variables it changed within their
    // limits.
    Effect apply(const EventInfo& event, std::uint32_t data);

    // Holds the variable within the range from now on: after every event,
    // and its current value at once. The bounds must be values set() takes.
    void limit(const Limit& limit);

    // What an event that carries its value in its data (a set event, whose
    // data_format is not None) would leave its variable at, limits
    // included; nothing when the simulator would ignore the data. Such
    // events do not depend on the state, so this holds whenever they apply.
    std::optional<double> valueSetBy(const EventInfo& event, std::uint32_t data) const;

private:
    void setCanonical(Var v, double value);
    bool holdWithinLimit(Var v);
    std::array<double, kVarCount> values_{};
    std::array<std::optional<Limit>, kVarCount> limits_{};
};

// Parses "NAME=VALUE" as given to --set. Transponder values are BCO16,
// written in hex ("0x1200") or as the four squawk digits ("1200"); Bools
// take 0/1/true/false/on/off; everything else is a decimal number in the
// variable's own unit.
struct Setting {
    Var var = Var::Count;
    double value = 0.0;
};
std::optional<Setting> parseSetting(std::string_view text, std::string& error);

// Parses "NAME=MIN:MAX" as given to --limit, each bound written as a --set
// value of that variable.
std::optional<Limit> parseLimit(std::string_view text, std::string& error);

// Display text of a value in the variable's own unit, e.g. "124.850", "1200".
std::string formatValue(Var v, double value);

std::string lowerCase(std::string_view text);

}  // namespace simemu

#endif
