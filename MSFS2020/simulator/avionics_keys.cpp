#include <array>

#include "mobiflight/channel.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

// Each unit is a navigator plus an AS1000 display, driven together: every
// knob movement and key goes out as the navigator's event, then the AS1000's.
// Knob events run in blocks of four per unit (outer right, outer left, inner
// right, inner left), the navigators' block parallel to the AS1000s'.
constexpr ClientEventId kNavigatorKnobs = clientEventId("MobiFlight.AS530_RightLargeKnob_Right");
constexpr ClientEventId kDisplayKnobs = clientEventId("MobiFlight.AS1000_PFD_FMS_Lower_INC");
static_assert(kNavigatorKnobs + 4 == clientEventId("MobiFlight.AS430_RightLargeKnob_Right"));
static_assert(kDisplayKnobs + 4 == clientEventId("MobiFlight.AS1000_MFD_FMS_Lower_INC"));
constexpr ClientEventId kOuterRight = 0;
constexpr ClientEventId kOuterLeft = 1;
constexpr ClientEventId kInnerRight = 2;
constexpr ClientEventId kInnerLeft = 3;

constexpr ClientEventId kNoEvent = 0xFFFFFFFF;

// The custom events MobiFlight.NAME stand for the H: event NAME, which only
// the module's channel runs with a current module: while the channel is up,
// they go through it instead. Other events, and the nameless AS1000 keys, go
// out as they are.
bool sentThroughChannel(ClientEventId event) { return mobiflight::channel().runCustomEvent(kClientEvents[event].name); }

struct KeyEvents {
    ClientEventId first;
    ClientEventId second;  // kNoEvent when the key is a single event
};

// Key command k of the two units (0 to 21) sends navigator row k, then the
// AS1000 row k of the parallel block; the rest are single simulator events.
constexpr std::array<KeyEvents, key::Last + 1> makeKeyTable() {
    constexpr ClientEventId navigatorKeys = clientEventId("MobiFlight.AS530_RightSmallKnob_Push");
    constexpr ClientEventId displayKeys = clientEventId("MobiFlight.AS1000_PFD_FMS_Upper_PUSH");
    constexpr ClientEventId autopilot = clientEventId("AP_MASTER");
    constexpr ClientEventId swaps = clientEventId("COM_STBY_RADIO_SWAP");
    std::array<KeyEvents, key::Last + 1> table{};
    for (KeyCommand k = 0; k < key::ApMaster; ++k) {
        table[k] = {navigatorKeys + k, displayKeys + k};
    }
    for (KeyCommand k = key::ApMaster; k < key::Com1Swap; ++k) {
        table[k] = {autopilot + (k - key::ApMaster), kNoEvent};
    }
    for (KeyCommand k = key::Com1Swap; k <= key::Nav2Swap; ++k) {
        table[k] = {swaps + (k - key::Com1Swap), kNoEvent};
    }
    table[key::BaroStd] = {clientEventId("BAROMETRIC_STD_PRESSURE"), kNoEvent};
    return table;
}

constexpr std::array<KeyEvents, key::Last + 1> kKeyTable = makeKeyTable();

// The rows line up as the two blocks of the event table promise.
static_assert(kClientEvents[kKeyTable[5].first].name == "TOGGLE_GPS_DRIVES_NAV1");
static_assert(kClientEvents[kKeyTable[16].first].name == "TOGGLE_GPS_DRIVES_NAV2");
static_assert(kClientEvents[kKeyTable[11].second].name == "MobiFlight.AS1000_MFD_FMS_Upper_PUSH");
static_assert(kClientEvents[kKeyTable[21].second].name == "MobiFlight.AS1000_MFD_PROC_Push");
static_assert(kClientEvents[kKeyTable[27].first].name == "AP_PANEL_VS_HOLD");
static_assert(kClientEvents[kKeyTable[31].first].name == "NAV2_RADIO_SWAP");

}  // namespace

int FlightSimInterfaceMSFS::turnFmsKnobs(std::uint8_t unit, std::int8_t outer, std::int8_t inner) {
    if (unit != 1 && unit != 2) {
        return 0;
    }
    const ClientEventId offset = 4 * (unit - 1U);
    // Only the sign counts: one pair per knob and report, whatever the
    // detent count; the outer knob's pair first.
    auto turn = [&](ClientEventId which) {
        for (const ClientEventId event : {kNavigatorKnobs + offset + which, kDisplayKnobs + offset + which}) {
            if (!sentThroughChannel(event)) {
                send(event, 1);
            }
        }
    };
    if (outer > 0) {
        turn(kOuterRight);
    } else if (outer < 0) {
        turn(kOuterLeft);
    }
    if (inner > 0) {
        turn(kInnerRight);
    } else if (inner < 0) {
        turn(kInnerLeft);
    }
    return 0;
}

int FlightSimInterfaceMSFS::pressKey(KeyCommand command) {
    if (command > key::Last) {
        return 0;
    }
    const bool navSwap = command == key::Nav1Swap || command == key::Nav2Swap;
    const HeldMember standby = command == key::Nav1Swap ? HeldMember::Nav1Standby : HeldMember::Nav2Standby;
    if (navSwap && mustWait(standby, 0, 0, true)) {
        return 0;
    }
    const KeyEvents& events = kKeyTable[command];
    if (!sentThroughChannel(events.first)) {
        send(events.first, 0);
    }
    // The AS1000 side is sent even where it maps to the empty name.
    if (events.second != kNoEvent && !sentThroughChannel(events.second)) {
        send(events.second, 0);
    }
    // The COM swaps need nothing of the kind: the COM knobs send relative
    // events, computed by the simulator from the standby it has.
    if (navSwap) {
        forgetStandby(standby);
    }
    return 0;
}
