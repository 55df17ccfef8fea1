// Start-up, the polling loop and its single pass.
#ifndef MSFS_PANEL_MAIN_LOOP_H
#define MSFS_PANEL_MAIN_LOOP_H

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
    Stopped,       // the quit flag ended the loop and the connection was closed
    LinkLost,      // the connection broke without the simulator's QUIT record
};

// The whole program after library initialisation: opens the panel (going on
// without one), connects, sets up the connection, prints the one line, and
// polls until quitFlag is set. `simulator` must be the object `panel`'s
// simInterface points at, and receives the connection handle.
RunOutcome runPanel(PanelState& panel, FlightSimInterfaceMSFS& simulator);

// At most this many reports are handled in one pass: more than a panel sends
// in 25 ms, and as many as the operating system's queue holds.
inline constexpr int maxReportsPerPass = 64;
// While no panel is open, it is looked for every this many passes (~1 s).
inline constexpr int panelRetryPasses = 40;

// One pass of the loop, without its sleep: lets SimConnect deliver what has
// arrived, handles every panel report waiting (up to maxReportsPerPass), and
// updates the LEDs; while no panel is open, looks for one now and then.
// Returns false when the connection to the simulator has been lost (the
// simulator's QUIT record sets quitFlag instead).
bool runPass(PanelState& panel, HANDLE connection);

// Opens the panel if it is there, in non-blocking mode, and writes the
// current LED byte to it, whatever it is: a panel keeps the LEDs of an earlier
// run or of before it was unplugged.
void openPanel(PanelState& panel);

// Applies one decoded report: a mode change clears shift, the dispatcher
// acts on the report, and the report becomes previous_report.
void acceptReport(PanelState& panel, const PanelReport& report);

#endif
