#include <cmath>

#include "simulator/flight_sim_interface_msfs.h"
#include "simulator/numeric.h"

namespace {

// COM events come in blocks of four per radio: whole up, whole down,
// fraction up, fraction down.
constexpr ClientEventId kCom1WholeInc = clientEventId("COM_RADIO_WHOLE_INC");
static_assert(kCom1WholeInc + 4 == clientEventId("COM2_RADIO_WHOLE_INC"));
constexpr ClientEventId kWholeInc = 0;
constexpr ClientEventId kWholeDec = 1;
constexpr ClientEventId kFractInc = 2;
constexpr ClientEventId kFractDec = 3;

constexpr double kNavBandLow = 108.0;
constexpr double kNavBandHigh = 117.0;
constexpr double kNavInnerStep = 0.05;
constexpr double kNavGridPerMHz = 20.0;  // 0.05 MHz channels

// Snaps to the 0.05 MHz grid. Via a double, not an integer, so that any
// cached value (however far out of the band) keeps its magnitude.
double snapToNavGrid(double frequency) { return std::round(frequency * kNavGridPerMHz) / kNavGridPerMHz; }

}  // namespace

int FlightSimInterfaceMSFS::tuneCom(std::uint8_t radio, std::int8_t outer, std::int8_t inner) {
    if (radio != 1 && radio != 2) {
        return 0;
    }
    const ClientEventId base = kCom1WholeInc + 4 * (radio - 1U);
    // Widened first: -128 detents are 128 events.
    const std::int32_t outerCount = outer;
    const std::int32_t innerCount = inner;
    // The simulator does the arithmetic (and its own wrap) per event.
    for (std::int32_t i = 0; i < std::abs(outerCount); ++i) {
        send(base + (outerCount > 0 ? kWholeInc : kWholeDec), 1);
    }
    for (std::int32_t i = 0; i < std::abs(innerCount); ++i) {
        send(base + (innerCount > 0 ? kFractInc : kFractDec), 1);
    }
    return 0;
}

int FlightSimInterfaceMSFS::tuneNav(std::uint8_t radio, std::int8_t outer, std::int8_t inner) {
    double* standby = nullptr;
    ClientEventId event = 0;
    HeldMember held = HeldMember::Nav1Standby;
    if (radio == 1) {
        standby = &nav1_standby;
        event = clientEventId("NAV1_STBY_SET");
    } else if (radio == 2) {
        standby = &nav2_standby;
        event = clientEventId("NAV2_STBY_SET");
        held = HeldMember::Nav2Standby;
    } else {
        return 0;
    }
    if (mustWait(held, outer, inner)) {
        return 0;
    }
    const double from = snapToNavGrid(*standby);
    const double wrapped = wrapFrequency(from, kNavBandLow, kNavBandHigh, outer, inner, kNavInnerStep);
    *standby = snapToNavGrid(wrapped);
    holdLocal(held, *standby);
    // The 0.1 bias keeps 113.45 * 100 = 11344.999... from truncating to 11344.
    const std::int32_t hundredths = truncateToInt32(*standby * 100.0 + 0.1);
    send(event, toBcd(hundredths));
    return 0;
}

double wrapFrequency(double frequency, double low, double high, std::int32_t outer, std::int32_t inner, double step) {
    // The fraction to the nearest 25 kHz; the remainder takes the sign of n.
    const std::int32_t n = roundToInt32(frequency * 40.0);
    double frac = static_cast<double>(n % 40) / 40.0;
    const std::int32_t width = truncateToInt32(high - low + 1.0);

    // Whole megahertz and fraction wrap independently, like the two knobs of
    // a real NAV radio: the fraction never carries into the megahertz. One
    // correction per side is enough for what one report can hold in practice
    // (up to 9 outer and 19 inner detents land exactly in the band).
    double whole = (frequency - frac) + outer;
    if (whole > high) {
        whole -= width;
    } else if (whole < low) {
        whole += width;
    }
    frac += inner * step;
    // The small tolerance keeps a fraction that is zero but for rounding
    // (e.g. 0.05 - 0.05 computed as -1e-17) from wrapping to .95 / 1.0.
    if (frac >= 1.0) {
        frac -= 1.0;
    } else if (frac < -0.012) {
        frac += 1.0;
    }
    return whole + frac;
}

std::uint32_t toBcd(std::int32_t value) {
    // The value taken modulo 65536; every decimal digit of it gets a nibble,
    // so 113.45 MHz (11345) becomes 0x11345 with its leading 1.
    auto remaining = static_cast<std::uint16_t>(value);
    std::uint32_t bcd = 0;
    unsigned shift = 0;
    while (remaining != 0) {
        bcd |= static_cast<std::uint32_t>(remaining % 10U) << shift;
        shift += 4;
        remaining = static_cast<std::uint16_t>(remaining / 10U);
    }
    return bcd;
}
