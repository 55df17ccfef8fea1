// One run of virtual-panel: the device, the script or the keyboard, and
// COMMAND, all driven by one poll() loop on one thread.
#ifndef VIRTUAL_PANEL_RUNNER_H
#define VIRTUAL_PANEL_RUNNER_H

#include <string>
#include <vector>

#include "output_file.h"
#include "script.h"

namespace vpanel {

struct RunOptions {
    bool hasScript = false;
    std::vector<ScriptAction> script;
    // One line per output report, or null. A line that cannot be written
    // stops the run (Failed), as does one in `reportLog`.
    OutputFile* leds = nullptr;
    // One JSON line per report the script plays (see reportLogLine), or null.
    OutputFile* reportLog = nullptr;
    int lingerMs = 300;
    // COMMAND is ended when it has not opened the panel within this time;
    // 0 waits for ever.
    int openTimeoutMs = 10000;
    bool verbose = false;
    std::vector<std::string> command;  // empty: serve the socket only
    bool uhid = false;                 // a kernel HID device through /dev/uhid, not the socket
};

// How a run ended; main turns it into the exit status.
struct RunResult {
    enum class Ending {
        Finished,      // script or keyboard done, no COMMAND
        CommandEnded,  // `waitStatus` holds COMMAND's wait status
        Interrupted,   // `signal` arrived while there was no COMMAND
        CommandNotStarted,
        OpenTimedOut,  // COMMAND never opened the panel; reported on stderr
        Failed,        // reported on stderr; COMMAND, if any, was ended
    };
    Ending ending = Ending::Finished;
    int waitStatus = 0;
    bool endTermSent = false;  // COMMAND was sent the SIGTERM that ends a run
    int signal = 0;
};

RunResult run(const RunOptions& options);

}  // namespace vpanel

#endif
