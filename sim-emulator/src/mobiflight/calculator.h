// The part of the simulator's calculator code (RPN) that the module's model
// runs: numbers, + - * /, reading "(L:NAME)", "(L:NAME, unit)" and
// "(A:NAME, unit)", and the effects "(>L:NAME)", "(>K:NAME)" (with the
// value on the stack as its data, 0 when empty) and "(>H:NAME)". Anything
// else is refused with a reason rather than guessed at.
#ifndef SIM_EMULATOR_MOBIFLIGHT_CALCULATOR_H
#define SIM_EMULATOR_MOBIFLIGHT_CALCULATOR_H

#include "ports.h"

#include <optional>
#include <string>
#include <string_view>

namespace simemu::mobiflight {

// More values than any code a panel sends keeps on the stack at once.
inline constexpr std::size_t kMaxStack = 64;

struct Outcome {
    std::optional<double> value;  // the top of the stack at the end, if any
    std::string error;            // empty when the code ran
};

enum class Effects { Allowed, Refused };

// Runs `code` token by token; effects up to an error have happened, as in
// the simulator. With Effects::Refused (a variable the module reads every
// frame) code that writes or sends anything is an error before any of it
// runs.
Outcome run(std::string_view code, SimulatorPort& sim, int client, Effects effects);

}  // namespace simemu::mobiflight

#endif
