// The panel device's life: opening it, noticing it is gone, looking for it
// again, and its LEDs; each change said once on standard error.
#ifndef MSFS_PANEL_PANEL_DEVICE_H
#define MSFS_PANEL_PANEL_DEVICE_H

#include "driver/panel_state.h"

// While no panel is open, it is looked for every this many passes (~1 s).
inline constexpr int kPanelRetryPasses = 40;

// Opens the panel if it is there, in non-blocking mode, and writes the
// current LED byte to it, whatever it is: a panel keeps the LEDs of an earlier
// run or of before it was unplugged. Says what it found when that differs
// from what it found last time: no panel, a panel it cannot open (and why),
// or the panel opened.
void openPanel(PanelState& panel);

// While no panel is open, counts passes and tries again every
// kPanelRetryPasses.
void lookForPanel(PanelState& panel);

// After a read error: the panel is gone (unplugged). Closes it, says so, and
// starts looking for it again.
void losePanel(PanelState& panel);

// Writes the LED byte if it differs from the one last written; after a
// failed write, writes it again every kPanelRetryPasses (about once a
// second), changed or not, until a write succeeds. Says once that the panel
// refuses the LED report, and once when it accepts it again.
void updateLeds(PanelState& panel);

// At the end of the run: LEDs off, then closed. A panel is left dark rather
// than showing a state that no longer holds.
void closePanel(PanelState& panel);

#endif
