// The panel driver's state and its report dispatcher.
#ifndef MSFS_PANEL_PANEL_STATE_H
#define MSFS_PANEL_PANEL_STATE_H

#include <array>
#include <cstdint>

#include <hidapi.h>

#include "driver/panel_report.h"
#include "simulator/flight_sim_interface.h"

// The mode byte the panel sends with every report. Values above XPDR can
// arrive; they turn no knob and leave the buttons their default functions.
enum PanelMode : std::uint8_t {
    COM1 = 0,
    COM2 = 1,
    NAV1 = 2,
    NAV2 = 3,
    FMS1 = 4,
    FMS2 = 5,
    AP = 6,
    XPDR = 7,
};
// Their names, as the verbose log and profiles write them.
inline constexpr std::array<const char*, 8> kModeNames{"COM1", "COM2", "NAV1", "NAV2", "FMS1", "FMS2", "AP", "XPDR"};

// Buttons with a function (bit masks of PanelReport::buttons).
enum PanelButton : std::uint32_t {
    BTN_DIRECT_TO = 1U << 4,
    BTN_MENU = 1U << 5,
    BTN_CLR = 1U << 6,
    BTN_ENT = 1U << 7,
    BTN_SWAP = 1U << 8,
    BTN_KNOB_PUSH = 1U << 9,
    BTN_AP_CDI = 1U << 14,
    BTN_HDG_OBS = 1U << 15,
    BTN_NAV_MSG = 1U << 16,
    BTN_APR_FPL = 1U << 17,
    BTN_ALT_VNAV = 1U << 18,
    BTN_VS_PROC = 1U << 19,
};

// The six buttons that are autopilot modes everywhere but in FMS1/FMS2,
// where they are navigator keys; in ascending bit order, which is the order
// their events go out in.
inline constexpr std::array<PanelButton, 6> kDualPurposeButtons{BTN_AP_CDI,  BTN_HDG_OBS,  BTN_NAV_MSG,
                                                                BTN_APR_FPL, BTN_ALT_VNAV, BTN_VS_PROC};
// Navigator-only keys, acting in FMS1/FMS2 alone.
inline constexpr std::array<PanelButton, 4> kNavigatorButtons{BTN_DIRECT_TO, BTN_MENU, BTN_CLR, BTN_ENT};

// What the program last found of the panel, so that each change is said
// once and a retry that finds the same says nothing.
enum class PanelPresence : std::uint8_t {
    Unknown,     // not looked for yet
    Missing,     // no device with the panel's IDs (or it was unplugged)
    Unopenable,  // listed, but opening it failed (permissions, in use)
    Open,
};

struct PanelState {
    hid_device* device = nullptr;  // null while no panel is open
    // The alternate-function flag: the knob push toggles it outside FMS1 and
    // FMS2, and every mode change clears it.
    bool shift = false;
    FlightSimInterface* simInterface = nullptr;
    PanelReport previous_report{};
    std::uint8_t mode = COM1;    // the mode in force, copied from the latest report
    std::uint8_t led_state = 0;  // the LED byte last written
    // Passes left before the next attempt to open a panel that is not open.
    int passes_until_open = 0;
    PanelPresence presence = PanelPresence::Unknown;
    // Whether a simulator is connected. Without one, reports are read and
    // dropped; their buttons still count as held, so that a button held
    // across a reconnection does not fire.
    bool linked = true;

    // Turns one report into calls on simInterface, by mode and shift flag.
    // The caller has already copied the report's mode into `mode` (clearing
    // `shift` on a change) and stores the report as previous_report after.
    // Returns the mask of buttons newly pressed in this report.
    std::uint32_t dispatchReport(PanelReport report);
};

// The knob operation the dispatcher calls in `mode` with `shift` (null:
// the knobs do nothing there), for those who need to know what a knob does.
KnobOperation knobOperation(std::uint8_t mode, bool shift);

// The process's one panel state; its simInterface points at msfsInterface
// from load on.
extern PanelState panelState;

#endif
