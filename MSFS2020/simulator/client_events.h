// The client events: our own IDs 0 to 90 and the simulator event names they
// are mapped to at start-up. The IDs are fixed (the operations send blocks of
// them by arithmetic), so each row carries its ID and a check below makes sure
// that row i holds ID i.
#ifndef MSFS_PANEL_CLIENT_EVENTS_H
#define MSFS_PANEL_CLIENT_EVENTS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

using ClientEventId = std::uint32_t;

struct ClientEvent {
    ClientEventId id;
    // Names with a period are custom events an add-on in the simulator may
    // answer to; an empty name makes the event private to this client (the
    // AS1000 has no counterpart for the key it stands opposite of).
    std::string_view name;
};

inline constexpr std::array<ClientEvent, 91> kClientEvents{{
    {0, "COM_STBY_RADIO_SET"},
    {1, "COM2_STBY_RADIO_SET"},
    {2, "NAV1_STBY_SET"},
    {3, "NAV2_STBY_SET"},
    {4, "HEADING_BUG_SET"},
    {5, "VOR1_SET"},
    {6, "VOR2_SET"},
    {7, "XPNDR_SET"},
    {8, "AP_ALT_VAR_SET_ENGLISH"},
    {9, "AP_VS_VAR_SET_ENGLISH"},
    {10, "KOHLSMAN_INC"},
    {11, "KOHLSMAN_DEC"},
    {12, "COM_RADIO_WHOLE_INC"},
    {13, "COM_RADIO_WHOLE_DEC"},
    {14, "COM_RADIO_FRACT_INC"},
    {15, "COM_RADIO_FRACT_DEC"},
    {16, "COM2_RADIO_WHOLE_INC"},
    {17, "COM2_RADIO_WHOLE_DEC"},
    {18, "COM2_RADIO_FRACT_INC"},
    {19, "COM2_RADIO_FRACT_DEC"},
    {20, "MobiFlight.AS530_RightLargeKnob_Right"},
    {21, "MobiFlight.AS530_RightLargeKnob_Left"},
    {22, "MobiFlight.AS530_RightSmallKnob_Right"},
    {23, "MobiFlight.AS530_RightSmallKnob_Left"},
    {24, "MobiFlight.AS430_RightLargeKnob_Right"},
    {25, "MobiFlight.AS430_RightLargeKnob_Left"},
    {26, "MobiFlight.AS430_RightSmallKnob_Right"},
    {27, "MobiFlight.AS430_RightSmallKnob_Left"},
    {28, "MobiFlight.AS1000_PFD_FMS_Lower_INC"},
    {29, "MobiFlight.AS1000_PFD_FMS_Lower_DEC"},
    {30, "MobiFlight.AS1000_PFD_FMS_Upper_INC"},
    {31, "MobiFlight.AS1000_PFD_FMS_Upper_DEC"},
    {32, "MobiFlight.AS1000_MFD_FMS_Lower_INC"},
    {33, "MobiFlight.AS1000_MFD_FMS_Lower_DEC"},
    {34, "MobiFlight.AS1000_MFD_FMS_Upper_INC"},
    {35, "MobiFlight.AS1000_MFD_FMS_Upper_DEC"},
    {36, "MobiFlight.AS530_RightSmallKnob_Push"},
    {37, "MobiFlight.AS530_DirectTo_Push"},
    {38, "MobiFlight.AS530_MENU_Push"},
    {39, "MobiFlight.AS530_CLR_Push"},
    {40, "MobiFlight.AS530_ENT_Push"},
    {41, "TOGGLE_GPS_DRIVES_NAV1"},
    {42, "MobiFlight.AS530_OBS_Push"},
    {43, "MobiFlight.AS530_MSG_Push"},
    {44, "MobiFlight.AS530_FPL_Push"},
    {45, "MobiFlight.AS530_VNAV_Push"},
    {46, "MobiFlight.AS530_PROC_Push"},
    {47, "MobiFlight.AS430_RightSmallKnob_Push"},
    {48, "MobiFlight.AS430_DirectTo_Push"},
    {49, "MobiFlight.AS430_MENU_Push"},
    {50, "MobiFlight.AS430_CLR_Push"},
    {51, "MobiFlight.AS430_ENT_Push"},
    {52, "TOGGLE_GPS_DRIVES_NAV2"},
    {53, "MobiFlight.AS430_OBS_Push"},
    {54, "MobiFlight.AS430_MSG_Push"},
    {55, "MobiFlight.AS430_FPL_Push"},
    {56, "MobiFlight.AS430_VNAV_Push"},
    {57, "MobiFlight.AS430_PROC_Push"},
    {58, "MobiFlight.AS1000_PFD_FMS_Upper_PUSH"},
    {59, "MobiFlight.AS1000_PFD_DIRECTTO"},
    {60, "MobiFlight.AS1000_PFD_MENU_Push"},
    {61, "MobiFlight.AS1000_PFD_CLR"},
    {62, "MobiFlight.AS1000_PFD_ENT_Push"},
    {63, ""},
    {64, ""},
    {65, ""},
    {66, "MobiFlight.AS1000_PFD_FPL_Push"},
    {67, ""},
    {68, "MobiFlight.AS1000_PFD_PROC_Push"},
    {69, "MobiFlight.AS1000_MFD_FMS_Upper_PUSH"},
    {70, "MobiFlight.AS1000_MFD_DIRECTTO"},
    {71, "MobiFlight.AS1000_MFD_MENU_Push"},
    {72, "MobiFlight.AS1000_MFD_CLR"},
    {73, "MobiFlight.AS1000_MFD_ENT_Push"},
    {74, ""},
    {75, ""},
    {76, ""},
    {77, "MobiFlight.AS1000_MFD_FPL_Push"},
    {78, ""},
    {79, "MobiFlight.AS1000_MFD_PROC_Push"},
    {80, "COM_STBY_RADIO_SWAP"},
    {81, "COM2_RADIO_SWAP"},
    {82, "NAV1_RADIO_SWAP"},
    {83, "NAV2_RADIO_SWAP"},
    {84, "BAROMETRIC_STD_PRESSURE"},
    {85, "AP_MASTER"},
    {86, "AP_PANEL_HEADING_HOLD"},
    {87, "AP_NAV1_HOLD"},
    {88, "AP_APR_HOLD"},
    {89, "AP_PANEL_ALTITUDE_HOLD"},
    {90, "AP_PANEL_VS_HOLD"},
}};

constexpr bool clientEventIdsMatchRows() {
    for (std::size_t i = 0; i < kClientEvents.size(); ++i) {
        if (kClientEvents[i].id != i) {
            return false;
        }
    }
    return true;
}
static_assert(clientEventIdsMatchRows(), "row i of the client event table must hold ID i");

// The ID of a named (non-empty) event. Meant for compile time: an unknown
// name makes the call not a constant expression, so a typo does not build.
consteval ClientEventId clientEventId(std::string_view name) {
    ClientEventId found = 0;
    int matches = 0;
    for (const ClientEvent& event : kClientEvents) {
        if (event.name == name) {
            found = event.id;
            ++matches;
        }
    }
    if (name.empty() || matches != 1) {
        throw "no single client event with this name";
    }
    return found;
}

// The order in which setupConnection maps the IDs: not ID order, and part of
// the start-up sequence the simulator observes, so it is fixed here as data.
struct ClientEventRange {
    ClientEventId first;
    ClientEventId last;
};
inline constexpr std::array<ClientEventRange, 4> kClientEventMappingOrder{{
    {0, 57},
    {80, 83},
    {58, 79},
    {84, 90},
}};

#endif
