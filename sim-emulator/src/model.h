// The emulated aircraft: the values of its variables, and what each event
// does to them (event_effects.cpp), held within any --limit.
#ifndef SIM_EMULATOR_MODEL_H
#define SIM_EMULATOR_MODEL_H

#include "events.h"
#include "variables.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace simemu {

// The variables an applied event changed, or why it changed nothing.
struct Effect {
    std::array<Var, 2> vars{};
    // Their values right after this event, as later events of the same
    // frame may move them again before anything is shown.
    std::array<double, 2> values{};
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

}  // namespace simemu

#endif
