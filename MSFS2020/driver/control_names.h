// The names people read for the panel's modes, buttons and LEDs, kept once:
// the verbose log names a button by its token ("AP_CDI"), the panel check by
// the legend docs/controls.md gives it ("AP/CDI").
#ifndef MSFS_PANEL_CONTROL_NAMES_H
#define MSFS_PANEL_CONTROL_NAMES_H

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>

#include "driver/panel_state.h"

// "NAV1" (kModeNames, beside PanelMode), or "mode 9" (written into `spare`) for a byte without a name.
inline const char* modeName(std::uint8_t mode, char (&spare)[16]) {
    if (mode < kModeNames.size()) {
        return kModeNames[mode];
    }
    std::snprintf(spare, sizeof spare, "mode %u", static_cast<unsigned>(mode));
    return spare;
}

struct ButtonName {
    PanelButton button;
    const char* token;   // one word, for the verbose log
    const char* legend;  // as the controls page and the panel's legends have it
};

inline constexpr std::array<ButtonName, 12> kButtonNames{{
    {BTN_DIRECT_TO, "DIRECT_TO", "Direct-To"},
    {BTN_MENU, "MENU", "MENU"},
    {BTN_CLR, "CLR", "CLR"},
    {BTN_ENT, "ENT", "ENT"},
    {BTN_SWAP, "SWAP", "Swap"},
    {BTN_KNOB_PUSH, "KNOB_PUSH", "Knob push"},
    {BTN_AP_CDI, "AP_CDI", "AP/CDI"},
    {BTN_HDG_OBS, "HDG_OBS", "HDG/OBS"},
    {BTN_NAV_MSG, "NAV_MSG", "NAV/MSG"},
    {BTN_APR_FPL, "APR_FPL", "APR/FPL"},
    {BTN_ALT_VNAV, "ALT_VNAV", "ALT/VNAV"},
    {BTN_VS_PROC, "VS_PROC", "VS/PROC"},
}};

// The names of the button on report bit `bit`; null for a bit without one.
constexpr const ButtonName* buttonAtBit(unsigned bit) {
    for (const ButtonName& name : kButtonNames) {
        if (std::countr_zero(static_cast<std::uint32_t>(name.button)) == static_cast<int>(bit)) {
            return &name;
        }
    }
    return nullptr;
}

// By bit of the LED report (bit 0 AP master ... bit 5 vertical speed hold).
inline constexpr std::array<const char*, 6> kLedNames{"AP", "HDG", "NAV", "APR", "ALT", "VS"};

#endif
