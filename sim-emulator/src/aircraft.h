// Facts of the emulated aircraft that the variables, the events and the
// value parser share: radio bands, the altimeter's range, and the BCD16 and
// BCO16 encodings.
#ifndef SIM_EMULATOR_AIRCRAFT_H
#define SIM_EMULATOR_AIRCRAFT_H

#include "variables.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace simemu {

// Standard atmosphere conversion; MSFS shows 29.92 inHg as 1013 hPa.
inline constexpr double kMillibarsPerInHg = 33.8639;
// The sim's altimeter setting stops at these limits.
inline constexpr double kBaroMinInHg = 948.0 / kMillibarsPerInHg;
inline constexpr double kBaroMaxInHg = 1084.0 / kMillibarsPerInHg;
inline constexpr double kBaroStepInHg = 0.01;
inline constexpr double kBaroStandardInHg = 29.92;

// Bands in kHz. COM runs 118.000 to 136.975 on 25 kHz channels (136.990 is
// still reachable as an 8.33 kHz display value); NAV 108.00 to 117.95.
inline constexpr long kComLowKhz = 118000;
inline constexpr long kComHighKhz = 136990;
inline constexpr long kComLowMhz = 118;
inline constexpr long kComHighMhz = 136;
inline constexpr long kComStepKhz = 25;
inline constexpr long kNavLowKhz = 108000;
inline constexpr long kNavHighKhz = 117950;

inline long toKhz(double mhz) { return std::lround(mhz * 1000.0); }
inline double fromKhz(long khz) { return static_cast<double>(khz) / 1000.0; }

inline bool isCom(Var v) {
    return v == Var::ComActive1 || v == Var::ComStandby1 || v == Var::ComActive2 || v == Var::ComStandby2;
}

// Four BCD digits from the low 16 bits. Above them only the leading "1" of
// the five-digit form may stand (0x11345 and 0x1345 both mean 113.45).
inline std::optional<long> bcd16Digits(std::uint32_t data) {
    if ((data >> 16) > 1) {
        return std::nullopt;
    }
    long n = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const std::uint32_t digit = (data >> shift) & 0xF;
        if (digit > 9) {
            return std::nullopt;
        }
        n = n * 10 + static_cast<long>(digit);
    }
    return n;
}

// A squawk code: four octal digits, one per nibble.
inline bool validSquawk(std::uint32_t code) {
    if (code > 0xFFFF) {
        return false;
    }
    for (int shift = 0; shift < 16; shift += 4) {
        if (((code >> shift) & 0xF) > 7) {
            return false;
        }
    }
    return true;
}

inline double wrapDegrees(double deg) {
    double r = std::fmod(deg, 360.0);
    if (r < 0) {
        r += 360.0;
    }
    return r >= 360.0 ? 0.0 : r;
}

inline double roundMicro(double v) { return std::round(v * 1e6) / 1e6; }

}  // namespace simemu

#endif
