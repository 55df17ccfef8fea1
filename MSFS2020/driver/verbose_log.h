// The --verbose log, for people wiring a cockpit: one line on standard error
// for each panel action and each event it sends, e.g.
//   NAV1 outer +1 -> NAV1_STBY_SET 0x11445
// Off unless enabled; while off, each function here returns at once.
#ifndef MSFS_PANEL_VERBOSE_LOG_H
#define MSFS_PANEL_VERBOSE_LOG_H

#include <cstdint>

#include "acceleration/panel_acceleration.h"
#include "driver/panel_state.h"

// Puts the log between the panel and its simulator interface, and has every
// event sent reported.
void enableVerboseLog(PanelState& panel);
// Takes it out again (for tests).
void disableVerboseLog(PanelState& panel);
bool verboseLogEnabled();

// Dispatches one report, logging what each of its actions sent, and what
// did nothing (a shift toggle, a button without a function in this mode).
// An accelerated knob is named with the detents turned and their weights:
//   AP outer +1 x4 -> AP_ALT_VAR_SET_ENGLISH 7400
void dispatchLogged(PanelState& panel, const WeighedReport& weighed);

// How the log names a knob turn ("AP outer +3", with its weights where
// `weighed` has them) or a button ("COM1 shift SWAP") in the panel's mode;
// also for the profile layer's own lines.
void describeKnobs(const PanelState& panel, std::int8_t outer, std::int8_t inner, const WeighedReport* weighed,
                   char (&out)[160]);
void describeButton(const PanelState& panel, std::uint32_t mask, char (&out)[160]);

void logModeChange(const PanelState& panel);
// A report read while no simulator is connected.
void logDroppedReport(const PanelState& panel, const PanelReport& report);

#endif
