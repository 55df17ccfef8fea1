#include "driver/panel_state.h"

#include <array>

#include "simulator/flight_sim_interface_msfs.h"

constinit PanelState panelState{nullptr, false, &msfsInterface};

namespace {

struct KnobCall {
    KnobOperation operation;  // null: the knobs do nothing
    std::uint8_t selector;
};

struct ModeKnobs {
    KnobCall shiftClear;
    KnobCall shiftSet;
};

using FSI = FlightSimInterface;

// Indexed by PanelMode. In COM1, COM2, NAV1 and NAV2 the shift flag selects
// an alternate instrument; in XPDR, selector 2 leaves the transponder alone.
constexpr std::array<ModeKnobs, 8> kKnobTable{{
    {{&FSI::tuneCom, 1}, {&FSI::adjustHeadingBug, 1}},
    {{&FSI::tuneCom, 2}, {&FSI::adjustBarometer, 1}},
    {{&FSI::tuneNav, 1}, {&FSI::adjustCourse, 1}},
    {{&FSI::tuneNav, 2}, {&FSI::adjustCourse, 2}},
    {{&FSI::turnFmsKnobs, 1}, {&FSI::turnFmsKnobs, 1}},
    {{&FSI::turnFmsKnobs, 2}, {&FSI::turnFmsKnobs, 2}},
    {{&FSI::adjustAltitudeAndVerticalSpeed, 1}, {&FSI::adjustAltitudeAndVerticalSpeed, 1}},
    {{&FSI::adjustTransponder, 1}, {&FSI::adjustTransponder, 2}},
}};

}  // namespace

KnobOperation knobOperation(std::uint8_t mode, bool shift) {
    if (mode >= kKnobTable.size()) {
        return nullptr;
    }
    return shift ? kKnobTable[mode].shiftSet.operation : kKnobTable[mode].shiftClear.operation;
}

std::uint32_t PanelState::dispatchReport(PanelReport report) {
    const std::uint32_t pressed = report.buttons & ~previous_report.buttons;
    const bool fmsMode = mode == FMS1 || mode == FMS2;
    // Unit 2 keys are unit 1's plus 11.
    const KeyCommand unitOffset = mode == FMS2 ? key::Unit2Offset : 0;

    // The knobs read the shift flag as it was before this report's knob push.
    if ((report.outer_delta != 0 || report.inner_delta != 0) && mode < kKnobTable.size()) {
        const KnobCall& call = shift ? kKnobTable[mode].shiftSet : kKnobTable[mode].shiftClear;
        (simInterface->*call.operation)(call.selector, report.outer_delta, report.inner_delta);
    }

    if ((pressed & BTN_KNOB_PUSH) != 0) {
        if (fmsMode) {
            simInterface->pressKey(key::Unit1KnobPush + unitOffset);
        } else {
            shift = !shift;
        }
    }

    // The swap reads the shift flag after this report's knob push.
    if ((pressed & BTN_SWAP) != 0) {
        switch (mode) {
        case COM1: simInterface->pressKey(key::Com1Swap); break;
        case COM2: simInterface->pressKey(shift ? key::BaroStd : key::Com2Swap); break;
        case NAV1: simInterface->pressKey(key::Nav1Swap); break;
        case NAV2: simInterface->pressKey(key::Nav2Swap); break;
        default: break;
        }
    }

    for (std::size_t i = 0; i < kDualPurposeButtons.size(); ++i) {
        if ((pressed & kDualPurposeButtons[i]) != 0) {
            const KeyCommand base = fmsMode ? key::Unit1Cdi + unitOffset : key::ApMaster;
            simInterface->pressKey(base + static_cast<KeyCommand>(i));
        }
    }
    if (fmsMode) {
        for (std::size_t i = 0; i < kNavigatorButtons.size(); ++i) {
            if ((pressed & kNavigatorButtons[i]) != 0) {
                simInterface->pressKey(key::Unit1DirectTo + unitOffset + static_cast<KeyCommand>(i));
            }
        }
    }
    return pressed;
}
