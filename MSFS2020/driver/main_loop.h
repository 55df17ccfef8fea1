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
};

// The whole program after library initialisation: opens the panel (going on
// without one), connects, sets up the connection, prints the one line, and
// polls until quitFlag is set. `simulator` must be the object `panel`'s
// simInterface points at, and receives the connection handle.
RunOutcome runPanel(PanelState& panel, FlightSimInterfaceMSFS& simulator);

// One pass of the loop, without its sleep: lets SimConnect deliver what has
// arrived, takes at most one panel report, and updates the LEDs.
void runPass(PanelState& panel, HANDLE connection);

// Applies one decoded report: a mode change clears shift, the dispatcher
// acts on the report, and the report becomes previous_report.
void acceptReport(PanelState& panel, const PanelReport& report);

#endif
