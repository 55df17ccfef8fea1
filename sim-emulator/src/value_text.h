// Values of variables as people write and read them: the --set and --limit
// arguments, and the display's text.
#ifndef SIM_EMULATOR_VALUE_TEXT_H
#define SIM_EMULATOR_VALUE_TEXT_H

#include "model.h"
#include "named_variables.h"

#include <optional>
#include <string>
#include <string_view>

namespace simemu {

// Parses "NAME=VALUE" as given to --set. Transponder values are BCO16,
// written in hex ("0x1200") or as the four squawk digits ("1200"); Bools
// take 0/1/true/false/on/off; everything else is a decimal number in the
// variable's own unit. "L:NAME=VALUE" sets an L:var and "A:NAME=VALUE" a
// variable the model does not hold (a named variable, a plain number); a
// modelled variable may carry the "A:" prefix too.
struct Setting {
    Var var = Var::Count;  // Var::Count for a named variable
    NamedKind kind = NamedKind::Sim;
    std::string name;  // of a named variable, without its prefix
    double value = 0.0;
};
std::optional<Setting> parseSetting(std::string_view text, std::string& error);

// Parses "NAME=MIN:MAX" as given to --limit, each bound written as a --set
// value of that variable.
std::optional<Limit> parseLimit(std::string_view text, std::string& error);

// Display text of a value in the variable's own unit, e.g. "124.850", "1200".
std::string formatValue(Var v, double value);

}  // namespace simemu

#endif
