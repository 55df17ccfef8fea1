// The simulator events the panel program sends, and what kind of name a
// client maps. Event names are matched case-insensitively.
#ifndef SIM_EMULATOR_EVENTS_H
#define SIM_EMULATOR_EVENTS_H

#include "variables.h"

#include <string_view>

namespace simemu {

enum class DataFormat { None, Hex, Unsigned, Signed };

enum class EventKind {
    ComWholeInc,
    ComWholeDec,
    ComFractInc,
    ComFractDec,
    ComStandbySet,
    NavStandbySet,
    Swap,
    AngleSet,
    SquawkSet,
    AltitudeSet,
    AltitudeInc,
    AltitudeDec,
    VerticalSpeedSet,
    KohlsmanInc,
    KohlsmanDec,
    BaroStandard,
    Toggle,
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

}  // namespace simemu

#endif
