// One run of virtual-panel: the device, the script or the keyboard, and
// COMMAND, all driven by one poll() loop on one thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "script.hpp"

namespace vpanel {

struct RunOptions {
    bool hasScript = false;
    std::vector<ScriptAction> script;
    std::FILE* leds = nullptr;  // one line per output report, or null
    int lingerMs = 300;
    bool verbose = false;
    std::vector<std::string> command;  // empty: serve the socket only
};

// Returns the exit status; reports failures on stderr.
int run(const RunOptions& options);

}  // namespace vpanel
