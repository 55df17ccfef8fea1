#include "events.h"

#include "text.h"

namespace simemu {
namespace {

using K = EventKind;
using D = DataFormat;
const EventInfo kEvents[] = {
    {"COM_RADIO_WHOLE_INC", K::ComWholeInc, Var::ComStandby1, Var::ComStandby1, D::None},
    {"COM_RADIO_WHOLE_DEC", K::ComWholeDec, Var::ComStandby1, Var::ComStandby1, D::None},
    {"COM_RADIO_FRACT_INC", K::ComFractInc, Var::ComStandby1, Var::ComStandby1, D::None},
    {"COM_RADIO_FRACT_DEC", K::ComFractDec, Var::ComStandby1, Var::ComStandby1, D::None},
    {"COM2_RADIO_WHOLE_INC", K::ComWholeInc, Var::ComStandby2, Var::ComStandby2, D::None},
    {"COM2_RADIO_WHOLE_DEC", K::ComWholeDec, Var::ComStandby2, Var::ComStandby2, D::None},
    {"COM2_RADIO_FRACT_INC", K::ComFractInc, Var::ComStandby2, Var::ComStandby2, D::None},
    {"COM2_RADIO_FRACT_DEC", K::ComFractDec, Var::ComStandby2, Var::ComStandby2, D::None},
    {"COM_STBY_RADIO_SET", K::ComStandbySet, Var::ComStandby1, Var::ComStandby1, D::Hex},
    {"COM2_STBY_RADIO_SET", K::ComStandbySet, Var::ComStandby2, Var::ComStandby2, D::Hex},
    {"NAV1_STBY_SET", K::NavStandbySet, Var::NavStandby1, Var::NavStandby1, D::Hex},
    {"NAV2_STBY_SET", K::NavStandbySet, Var::NavStandby2, Var::NavStandby2, D::Hex},
    // COM_RADIO_SWAP and COM1_RADIO_SWAP are the sim's aliases of the first.
    {"COM_STBY_RADIO_SWAP", K::Swap, Var::ComStandby1, Var::ComActive1, D::None},
    {"COM1_RADIO_SWAP", K::Swap, Var::ComStandby1, Var::ComActive1, D::None},
    {"COM_RADIO_SWAP", K::Swap, Var::ComStandby1, Var::ComActive1, D::None},
    {"COM2_RADIO_SWAP", K::Swap, Var::ComStandby2, Var::ComActive2, D::None},
    {"NAV1_RADIO_SWAP", K::Swap, Var::NavStandby1, Var::NavActive1, D::None},
    {"NAV2_RADIO_SWAP", K::Swap, Var::NavStandby2, Var::NavActive2, D::None},
    {"HEADING_BUG_SET", K::AngleSet, Var::HeadingBug, Var::HeadingBug, D::Signed},
    {"VOR1_SET", K::AngleSet, Var::Obs1, Var::Obs1, D::Signed},
    {"VOR2_SET", K::AngleSet, Var::Obs2, Var::Obs2, D::Signed},
    {"XPNDR_SET", K::SquawkSet, Var::Transponder, Var::Transponder, D::Hex},
    {"AP_ALT_VAR_SET_ENGLISH", K::AltitudeSet, Var::ApAltitude, Var::ApAltitude, D::Signed},
    // The selected altitude by steps (data 0: 100 ft), as aircraft whose
    // autopilot ignores the SET expect (the G1000 NXi's profile sends them).
    {"AP_ALT_VAR_INC", K::AltitudeInc, Var::ApAltitude, Var::ApAltitude, D::None},
    {"AP_ALT_VAR_DEC", K::AltitudeDec, Var::ApAltitude, Var::ApAltitude, D::None},
    {"AP_VS_VAR_SET_ENGLISH", K::VerticalSpeedSet, Var::ApVerticalSpeed, Var::ApVerticalSpeed, D::Signed},
    {"KOHLSMAN_INC", K::KohlsmanInc, Var::KohlsmanHg, Var::KohlsmanMb, D::None},
    {"KOHLSMAN_DEC", K::KohlsmanDec, Var::KohlsmanHg, Var::KohlsmanMb, D::None},
    {"BAROMETRIC_STD_PRESSURE", K::BaroStandard, Var::KohlsmanHg, Var::KohlsmanMb, D::None},
    {"AP_MASTER", K::Toggle, Var::ApMaster, Var::ApMaster, D::None},
    {"AP_PANEL_HEADING_HOLD", K::Toggle, Var::ApHeadingLock, Var::ApHeadingLock, D::None},
    {"AP_NAV1_HOLD", K::Toggle, Var::ApNav1Lock, Var::ApNav1Lock, D::None},
    {"AP_APR_HOLD", K::Toggle, Var::ApApproachHold, Var::ApApproachHold, D::None},
    {"AP_PANEL_ALTITUDE_HOLD", K::Toggle, Var::ApAltitudeLock, Var::ApAltitudeLock, D::None},
    {"AP_PANEL_VS_HOLD", K::Toggle, Var::ApVerticalHold, Var::ApVerticalHold, D::None},
    {"TOGGLE_GPS_DRIVES_NAV1", K::Toggle, Var::GpsDrivesNav1, Var::GpsDrivesNav1, D::None},
};

}  // namespace

const EventInfo* findEvent(std::string_view name) {
    for (const EventInfo& e : kEvents) {
        if (equalsIgnoreCase(e.name, name)) {
            return &e;
        }
    }
    return nullptr;
}

NameClass classifyEventName(std::string_view name) {
    // Empty: private to the client. A period: a custom event for other
    // clients or an add-on. "#nnnn": a third-party event number. The sim
    // takes all of these without complaint and does nothing itself.
    if (name.empty() || name.find('.') != std::string_view::npos || name.front() == '#') {
        return NameClass::Custom;
    }
    return findEvent(name) ? NameClass::Sim : NameClass::Unknown;
}

}  // namespace simemu
