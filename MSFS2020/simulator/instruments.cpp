#include <cstdint>

#include "simulator/flight_sim_interface_msfs.h"
#include "simulator/numeric.h"

namespace {

// Heading bug and courses: 10 degrees per outer detent, 1 per inner one.
// 64-bit arithmetic so that no cached value, however wild, can overflow.
std::int64_t stepDegrees(double cached, std::int32_t outer, std::int32_t inner) {
    std::int64_t degrees = std::int64_t{truncateToInt32(cached)} + 10 * std::int64_t{outer} + inner;
    // One correction of 360: 360 stays 360 (the simulator accepts 0 to 360).
    if (degrees > 360) {
        degrees -= 360;
    } else if (degrees < 0) {
        degrees += 360;
    }
    return degrees;
}

constexpr std::int32_t kTransponderCodes = 4096;  // 0000 to 7777 octal

}  // namespace

int FlightSimInterfaceMSFS::adjustHeadingBug(std::uint8_t /*selector*/, std::int8_t outer, std::int8_t inner) {
    if (mustWait(HeldMember::HeadingBug, outer, inner)) {
        return 0;
    }
    const std::int64_t heading = stepDegrees(heading_bug, outer, inner);
    heading_bug = static_cast<double>(heading);
    holdLocal(HeldMember::HeadingBug, heading_bug);
    send(clientEventId("HEADING_BUG_SET"), static_cast<std::uint32_t>(heading));
    return 0;
}

int FlightSimInterfaceMSFS::adjustCourse(std::uint8_t selector, std::int8_t outer, std::int8_t inner) {
    double* course = nullptr;
    ClientEventId event = 0;
    HeldMember held = HeldMember::Obs1;
    if (selector == 1) {
        course = &obs1;
        event = clientEventId("VOR1_SET");
    } else if (selector == 2) {
        course = &obs2;
        event = clientEventId("VOR2_SET");
        held = HeldMember::Obs2;
    } else {
        return 0;
    }
    if (mustWait(held, outer, inner)) {
        return 0;
    }
    const std::int64_t degrees = stepDegrees(*course, outer, inner);
    *course = static_cast<double>(degrees);
    holdLocal(held, *course);
    send(event, static_cast<std::uint32_t>(degrees));
    return 0;
}

int FlightSimInterfaceMSFS::adjustAltitudeAndVerticalSpeed(std::uint8_t /*selector*/, std::int8_t outer,
                                                           std::int8_t inner) {
    if (outer != 0 && !mustWait(HeldMember::ApAltitude, outer, 0)) {
        // 100 ft per detent, floored at 0; not snapped to the 100 ft grid.
        double altitude = static_cast<std::int32_t>(outer) * 100.0 + ap_altitude;
        if (altitude < 0.0) {
            altitude = 0.0;
        }
        ap_altitude = altitude;
        holdLocal(HeldMember::ApAltitude, altitude);
        send(clientEventId("AP_ALT_VAR_SET_ENGLISH"), asEventData(truncateToInt32(altitude)));
    }
    if (inner != 0 && !mustWait(HeldMember::ApVerticalSpeed, 0, inner)) {
        const double speed = static_cast<std::int32_t>(inner) * 100.0 + ap_vertical_speed;
        ap_vertical_speed = speed;
        holdLocal(HeldMember::ApVerticalSpeed, speed);
        send(clientEventId("AP_VS_VAR_SET_ENGLISH"), asEventData(truncateToInt32(speed)));
    }
    return 0;
}

int FlightSimInterfaceMSFS::adjustTransponder(std::uint8_t selector, std::int8_t outer, std::int8_t inner) {
    // Selector 2 is the XPDR mode with shift set: the knobs are inactive.
    if (selector != 1 || mustWait(HeldMember::TransponderCode, outer, inner)) {
        return 0;
    }
    // The outer knob steps the second octal digit (64), the inner one the
    // last (1); carries run through the value, so 1777 + 1 outer is 2077.
    std::int32_t code = bco16ToValue(*transponder_code) + 64 * std::int32_t{outer} + inner;
    if (code < 0) {
        code += kTransponderCodes;
    } else if (code >= kTransponderCodes) {
        code -= kTransponderCodes;
    }
    // Still outside after one correction only with 63+ outer detents or a
    // cached code with a nibble above 7: a true modulo then, so that the
    // simulator always receives a valid octal code.
    if (code < 0 || code >= kTransponderCodes) {
        code = ((code % kTransponderCodes) + kTransponderCodes) % kTransponderCodes;
    }
    const std::uint32_t sent = valueToBco16(code);
    transponder_code = sent;
    holdLocal(HeldMember::TransponderCode, sent);
    send(clientEventId("XPNDR_SET"), sent);
    return 0;
}

int FlightSimInterfaceMSFS::adjustBarometer(std::uint8_t /*selector*/, std::int8_t outer, std::int8_t inner) {
    // One relative event per report whatever the counts: the simulator's
    // step is small and its own. An increment wins over a decrement.
    if (inner > 0 || outer > 0) {
        send(clientEventId("KOHLSMAN_INC"), 1);
    } else if (inner < 0 || outer < 0) {
        send(clientEventId("KOHLSMAN_DEC"), 1);
    }
    return 0;
}

std::int32_t bco16ToValue(std::uint32_t code) {
    // Every nibble counts, octal or not; the largest possible result
    // (eight nibbles of 15) still fits in 32 bits.
    std::uint32_t value = 0;
    unsigned shift = 0;
    while (code != 0) {
        value += (code & 0xFU) << shift;
        code >>= 4;
        shift += 3;
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t valueToBco16(std::int32_t value) {
    // Meant for 0 to 4095; the shift bound keeps any other input finite and
    // defined (a negative value would never shift down to 0).
    auto remaining = static_cast<std::uint32_t>(value);
    std::uint32_t code = 0;
    unsigned shift = 0;
    while (remaining != 0 && shift < 32) {
        code += (remaining & 7U) << shift;
        remaining >>= 3;
        shift += 4;
    }
    return code;
}
