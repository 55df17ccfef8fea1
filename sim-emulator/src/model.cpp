#include "model.h"

#include "aircraft.h"

#include <algorithm>
#include <cmath>

namespace simemu {

Model::Model() {
    setCanonical(Var::ComActive1, 124.850);
    setCanonical(Var::ComStandby1, 118.000);
    setCanonical(Var::ComActive2, 121.500);
    setCanonical(Var::ComStandby2, 126.700);
    setCanonical(Var::NavActive1, 113.90);
    setCanonical(Var::NavStandby1, 110.50);
    setCanonical(Var::NavActive2, 116.80);
    setCanonical(Var::NavStandby2, 112.30);
    setCanonical(Var::HeadingBug, 270.0);
    setCanonical(Var::Obs1, 90.0);
    setCanonical(Var::Obs2, 180.0);
    setCanonical(Var::Transponder, 0x1200);  // VFR squawk
    setCanonical(Var::ApAltitude, 5000.0);
    setCanonical(Var::ApVerticalSpeed, 0.0);
    setCanonical(Var::KohlsmanHg, kBaroStandardInHg);
    // Autopilot modes and GPS DRIVES NAV1 start off (zero).
}

void Model::setCanonical(Var v, double value) {
    if (v == Var::KohlsmanMb) {
        v = Var::KohlsmanHg;
    }
    values_[static_cast<std::size_t>(v)] = value;
}

double Model::canonical(Var v) const {
    if (v == Var::KohlsmanMb) {
        v = Var::KohlsmanHg;
    }
    return values_[static_cast<std::size_t>(v)];
}

double Model::value(Var v) const {
    // Rounded so that 29.92 inHg reads 1013.207888, not ...8880000001.
    return v == Var::KohlsmanMb ? roundMicro(canonical(v) * kMillibarsPerInHg) : canonical(v);
}

std::optional<double> Model::read(Var v, const Unit& unit) const {
    if (unit.family != info(v).family) {
        return std::nullopt;
    }
    if (unit.bcd16) {
        // BCD16 drops the leading 1 and the third decimal: 127.975 -> 0x2797.
        long n = toKhz(canonical(v)) / 10 - 10000;
        n = std::clamp(n, 0L, 9999L);
        std::uint32_t bcd = 0;
        for (int shift = 0; shift < 16; shift += 4) {
            bcd |= static_cast<std::uint32_t>(n % 10) << shift;
            n /= 10;
        }
        return static_cast<double>(bcd);
    }
    return canonical(v) * unit.scale;
}

std::optional<std::string> Model::set(Var v, double value) {
    if (!std::isfinite(value)) {
        return "not a finite number";
    }
    switch (info(v).family) {
    case Family::Frequency: {
        const long khz = toKhz(value);
        const bool com = isCom(v);
        const long low = com ? kComLowKhz : kNavLowKhz;
        const long high = com ? kComHighKhz : kNavHighKhz;
        if (khz < low || khz > high) {
            return com ? "outside the COM band 118.000 to 136.990 MHz" : "outside the NAV band 108.00 to 117.95 MHz";
        }
        setCanonical(v, fromKhz(khz));
        return std::nullopt;
    }
    case Family::Angle: setCanonical(v, wrapDegrees(value)); return std::nullopt;
    case Family::Length:
    case Family::VerticalSpeed: setCanonical(v, value); return std::nullopt;
    case Family::Squawk:
        if (value < 0 || value != std::floor(value) || !validSquawk(static_cast<std::uint32_t>(value))) {
            return "not a BCO16 squawk code (four octal digits, e.g. 0x1200)";
        }
        setCanonical(v, value);
        return std::nullopt;
    case Family::Boolean:
        if (value != 0.0 && value != 1.0) {
            return "a Bool is 0 or 1";
        }
        setCanonical(v, value);
        return std::nullopt;
    case Family::Pressure: {
        const double inhg = v == Var::KohlsmanMb ? value / kMillibarsPerInHg : value;
        if (inhg < kBaroMinInHg - 1e-9 || inhg > kBaroMaxInHg + 1e-9) {
            return "outside the altimeter range 948 to 1084 hPa (27.99 to 32.01 inHg)";
        }
        setCanonical(v, inhg);
        return std::nullopt;
    }
    }
    return "unknown variable";
}

void Model::limit(const Limit& l) {
    limits_[static_cast<std::size_t>(l.var)] = l;
    holdWithinLimit(l.var);
}

bool Model::holdWithinLimit(Var v) {
    const auto& l = limits_[static_cast<std::size_t>(v)];
    if (!l) {
        return false;
    }
    const double now = value(v);
    const double held = std::clamp(now, l->min, l->max);
    if (held == now) {
        return false;
    }
    set(v, held);  // the bounds were checked by parseLimit
    return true;
}

std::optional<double> Model::valueSetBy(const EventInfo& event, std::uint32_t data) const {
    Model probe = *this;
    if (!probe.apply(event, data).ignored.empty()) {
        return std::nullopt;
    }
    return probe.value(event.target);
}

}  // namespace simemu
