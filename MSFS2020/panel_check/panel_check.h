// msfs-panel --test-panel: the panel alone, before any simulator is involved.
// It is opened, looked for and reported on as in a normal run (the same
// messages on standard error); each control is printed as it is used, and
// the LEDs light one after the other so that a miswired one shows at once.
#ifndef MSFS_PANEL_PANEL_CHECK_H
#define MSFS_PANEL_PANEL_CHECK_H

#include <cstdio>

// Runs until quitFlag is set (Ctrl+C, SIGTERM), writing one line to `out`
// for each mode change, knob report, button press and release, and LED step;
// leaves the LEDs off. No SimConnect call is made. Returns the exit status.
int runPanelCheck(std::FILE* out);

#endif
