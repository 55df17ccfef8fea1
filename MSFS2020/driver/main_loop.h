// Start-up, the polling loop, its passes and the waits between them.
#ifndef MSFS_PANEL_MAIN_LOOP_H
#define MSFS_PANEL_MAIN_LOOP_H

#include <chrono>

#include "driver/panel_device.h"
#include "driver/panel_report.h"
#include "driver/panel_state.h"
#include "driver/quit_flag.h"
#include "simconnect/simconnect_api.h"

class FlightSimInterfaceMSFS;

// The SimConnect connection; owned by runPanel, null until it is open.
extern HANDLE simConnectHandle;

// How runPanel ended; the entry point alone turns it into an exit status.
enum class RunOutcome {
    NoConnection,  // SimConnect_Open failed; nothing was printed or closed
    Stopped,       // a stop request or the simulator's QUIT ended the run
    LinkLost,      // the connection broke without the simulator's QUIT record (already said)
};

struct RunOptions {
    // Wait for the simulator, and wait again after it quits or the link is
    // lost, instead of ending: only a stop request (quitFlag) ends the run.
    bool keep_running = false;
    // One line on standard error for each panel action and each event it
    // sends.
    bool verbose = false;
    // Knob acceleration for the built-in mapping (acceleration/).
    bool accelerate = false;
    // What the SimConnect library knows of its last failure, for messages;
    // null when it says nothing.
    const char* (*last_error)() = nullptr;
};

// The whole program after library initialisation: opens the panel (going on
// without one), connects, sets up the connection, prints the one line, and
// polls until quitFlag is set or the simulator goes. `simulator` must be the
// object `panel`'s simInterface points at, and receives the connection handle.
RunOutcome runPanel(PanelState& panel, FlightSimInterfaceMSFS& simulator, const RunOptions& options = {});

// SimConnect's dispatch and the LED update come once per pass of this length;
// between them the loop waits on the panel, so a report is handled the moment
// it arrives.
inline constexpr std::chrono::milliseconds kPassInterval{25};
// At most this many waiting reports are taken at the start of a pass: more
// than a panel sends in 25 ms, and as many as the operating system's queue
// holds.
inline constexpr int kMaxReportsPerPass = 64;

enum class PassResult {
    Running,
    SimulatorQuit,  // its QUIT record arrived
    LinkLost,       // the connection broke without one
};

// One pass of the loop, without its wait: lets SimConnect deliver what has
// arrived, handles every panel report waiting (up to kMaxReportsPerPass), and
// updates the LEDs; while no panel is open, looks for one now and then.
PassResult runPass(PanelState& panel, HANDLE connection);

// The same without a simulator: the panel is looked for and read, its reports
// dropped, its LEDs kept up to date.
void runIdlePass(PanelState& panel);

// Until `until`: waits for the panel and handles each report the moment it
// arrives; without a panel, waits on the clock. Returns early on a stop
// request.
void waitForPanel(PanelState& panel, std::chrono::steady_clock::time_point until);

// Applies one decoded report: a mode change clears shift, the dispatcher
// acts on the report (while a simulator is connected; its knobs weighed when
// acceleration is on), and the report becomes previous_report.
void acceptReport(PanelState& panel, const PanelReport& report);

#endif
