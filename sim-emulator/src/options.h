// The command line of sim-emulator. Other projects' tests drive it, so the
// option names and defaults are fixed.
#ifndef SIM_EMULATOR_OPTIONS_H
#define SIM_EMULATOR_OPTIONS_H

#include "simulator.h"
#include "value_text.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace simemu {

struct Options {
    std::uint16_t port = 500;  // 0: any free port
    std::string bind = "127.0.0.1";
    unsigned frame_ms = 16;
    unsigned event_delay_frames = 0;
    std::vector<Setting> settings;          // --set, in order
    std::vector<Limit> limits;              // --limit, in order
    std::vector<LoadedAircraft> aircraft;   // --aircraft, in order
    std::vector<std::string> input_events;  // --input-event, in order
    std::string trace_path;
    std::string state_out_path;
    std::string port_file;
    bool once = false;
    bool quiet = false;
    bool help = false;
    // --- The simulator that answers, and the add-on inside it
    unsigned sim = 2020;                    // --sim: 2020 or 2024
    std::optional<std::string> mobiflight;  // --mobiflight: the module's version
};

// Parses the arguments after the program name. On a usage error returns
// its text, "what(argument): reason".
std::optional<std::string> parseOptions(std::span<const std::string_view> args, Options& out);

std::string helpText();

}  // namespace simemu

#endif
