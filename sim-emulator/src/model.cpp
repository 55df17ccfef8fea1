#include "model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace simemu {
namespace {

// Standard atmosphere conversion; MSFS shows 29.92 inHg as 1013 hPa.
constexpr double kMillibarsPerInHg = 33.8639;
// The sim's altimeter setting stops at these limits.
constexpr double kBaroMinInHg = 948.0 / kMillibarsPerInHg;
constexpr double kBaroMaxInHg = 1084.0 / kMillibarsPerInHg;
constexpr double kBaroStepInHg = 0.01;
constexpr double kBaroStandardInHg = 29.92;

// Bands in kHz. COM runs 118.000 to 136.975 on 25 kHz channels (136.990 is
// still reachable as an 8.33 kHz display value); NAV 108.00 to 117.95.
constexpr long kComLowKhz = 118000;
constexpr long kComHighKhz = 136990;
constexpr long kComLowMhz = 118;
constexpr long kComHighMhz = 136;
constexpr long kComStepKhz = 25;
constexpr long kNavLowKhz = 108000;
constexpr long kNavHighKhz = 117950;

constexpr std::array<VarInfo, kVarCount> kVars{{
    {"COM ACTIVE FREQUENCY:1", Family::Frequency, "MHz"},
    {"COM STANDBY FREQUENCY:1", Family::Frequency, "MHz"},
    {"COM ACTIVE FREQUENCY:2", Family::Frequency, "MHz"},
    {"COM STANDBY FREQUENCY:2", Family::Frequency, "MHz"},
    {"NAV ACTIVE FREQUENCY:1", Family::Frequency, "MHz"},
    {"NAV STANDBY FREQUENCY:1", Family::Frequency, "MHz"},
    {"NAV ACTIVE FREQUENCY:2", Family::Frequency, "MHz"},
    {"NAV STANDBY FREQUENCY:2", Family::Frequency, "MHz"},
    {"AUTOPILOT HEADING LOCK DIR", Family::Angle, "degrees"},
    {"NAV OBS:1", Family::Angle, "degrees"},
    {"NAV OBS:2", Family::Angle, "degrees"},
    {"TRANSPONDER CODE:1", Family::Squawk, "BCO16"},
    {"AUTOPILOT ALTITUDE LOCK VAR", Family::Length, "feet"},
    {"AUTOPILOT VERTICAL HOLD VAR", Family::VerticalSpeed, "feet/minute"},
    {"AUTOPILOT MASTER", Family::Boolean, "Bool"},
    {"AUTOPILOT HEADING LOCK", Family::Boolean, "Bool"},
    {"AUTOPILOT NAV1 LOCK", Family::Boolean, "Bool"},
    {"AUTOPILOT APPROACH HOLD", Family::Boolean, "Bool"},
    {"AUTOPILOT ALTITUDE LOCK", Family::Boolean, "Bool"},
    {"AUTOPILOT VERTICAL HOLD", Family::Boolean, "Bool"},
    {"GPS DRIVES NAV1", Family::Boolean, "Bool"},
    {"KOHLSMAN SETTING HG", Family::Pressure, "inHg"},
    {"KOHLSMAN SETTING MB", Family::Pressure, "millibars"},
}};

struct UnitName {
    std::string_view name;  // lower case
    Unit unit;
};

constexpr double kPi = 3.14159265358979323846;
constexpr double kFeetToMeters = 0.3048;

const UnitName kUnits[] = {
    {"mhz", {Family::Frequency, 1.0, false}},
    {"megahertz", {Family::Frequency, 1.0, false}},
    {"khz", {Family::Frequency, 1e3, false}},
    {"kilohertz", {Family::Frequency, 1e3, false}},
    {"hz", {Family::Frequency, 1e6, false}},
    {"hertz", {Family::Frequency, 1e6, false}},
    {"frequency bcd16", {Family::Frequency, 1.0, true}},
    {"bcd16", {Family::Frequency, 1.0, true}},
    {"degrees", {Family::Angle, 1.0, false}},
    {"degree", {Family::Angle, 1.0, false}},
    {"radians", {Family::Angle, kPi / 180.0, false}},
    {"radian", {Family::Angle, kPi / 180.0, false}},
    {"feet", {Family::Length, 1.0, false}},
    {"foot", {Family::Length, 1.0, false}},
    {"ft", {Family::Length, 1.0, false}},
    {"meters", {Family::Length, kFeetToMeters, false}},
    {"meter", {Family::Length, kFeetToMeters, false}},
    {"m", {Family::Length, kFeetToMeters, false}},
    {"feet/minute", {Family::VerticalSpeed, 1.0, false}},
    {"feet per minute", {Family::VerticalSpeed, 1.0, false}},
    {"ft/min", {Family::VerticalSpeed, 1.0, false}},
    {"feet/second", {Family::VerticalSpeed, 1.0 / 60.0, false}},
    {"feet per second", {Family::VerticalSpeed, 1.0 / 60.0, false}},
    {"ft/s", {Family::VerticalSpeed, 1.0 / 60.0, false}},
    {"meters/minute", {Family::VerticalSpeed, kFeetToMeters, false}},
    {"meters per minute", {Family::VerticalSpeed, kFeetToMeters, false}},
    {"meters/second", {Family::VerticalSpeed, kFeetToMeters / 60.0, false}},
    {"meters per second", {Family::VerticalSpeed, kFeetToMeters / 60.0, false}},
    {"m/s", {Family::VerticalSpeed, kFeetToMeters / 60.0, false}},
    {"bco16", {Family::Squawk, 1.0, false}},
    {"bool", {Family::Boolean, 1.0, false}},
    {"boolean", {Family::Boolean, 1.0, false}},
    {"inhg", {Family::Pressure, 1.0, false}},
    {"inches of mercury", {Family::Pressure, 1.0, false}},
    {"millibars", {Family::Pressure, kMillibarsPerInHg, false}},
    {"millibar", {Family::Pressure, kMillibarsPerInHg, false}},
    {"mbar", {Family::Pressure, kMillibarsPerInHg, false}},
    {"hectopascals", {Family::Pressure, kMillibarsPerInHg, false}},
    {"hectopascal", {Family::Pressure, kMillibarsPerInHg, false}},
    {"hpa", {Family::Pressure, kMillibarsPerInHg, false}},
    {"kilopascals", {Family::Pressure, kMillibarsPerInHg / 10.0, false}},
    {"kpa", {Family::Pressure, kMillibarsPerInHg / 10.0, false}},
    {"pascals", {Family::Pressure, kMillibarsPerInHg * 100.0, false}},
    {"pascal", {Family::Pressure, kMillibarsPerInHg * 100.0, false}},
    {"pa", {Family::Pressure, kMillibarsPerInHg * 100.0, false}},
};

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

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lx = (x >= 'A' && x <= 'Z') ? char(x - 'A' + 'a') : x;
               const auto ly = (y >= 'A' && y <= 'Z') ? char(y - 'A' + 'a') : y;
               return lx == ly;
           });
}

long toKhz(double mhz) { return std::lround(mhz * 1000.0); }
double fromKhz(long khz) { return static_cast<double>(khz) / 1000.0; }

bool isCom(Var v) {
    return v == Var::ComActive1 || v == Var::ComStandby1 || v == Var::ComActive2 || v == Var::ComStandby2;
}

// Four BCD digits from the low 16 bits. Above them only the leading "1" of
// the five-digit form may stand (0x11345 and 0x1345 both mean 113.45).
std::optional<long> bcd16Digits(std::uint32_t data) {
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

bool validSquawk(std::uint32_t code) {
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

double wrapDegrees(double deg) {
    double r = std::fmod(deg, 360.0);
    if (r < 0) {
        r += 360.0;
    }
    return r >= 360.0 ? 0.0 : r;
}

double roundMicro(double v) { return std::round(v * 1e6) / 1e6; }

std::string shortest(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

const VarInfo& info(Var v) { return kVars[static_cast<std::size_t>(v)]; }

std::optional<Var> findVar(std::string_view name) {
    name = trim(name);
    for (std::size_t i = 0; i < kVarCount; ++i) {
        if (equalsIgnoreCase(kVars[i].name, name)) {
            return static_cast<Var>(i);
        }
    }
    return std::nullopt;
}

std::optional<Unit> findUnit(std::string_view name) {
    name = trim(name);
    for (const UnitName& u : kUnits) {
        if (equalsIgnoreCase(u.name, name)) {
            return u.unit;
        }
    }
    return std::nullopt;
}

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
    case Family::Angle:
        setCanonical(v, wrapDegrees(value));
        return std::nullopt;
    case Family::Length:
    case Family::VerticalSpeed:
        setCanonical(v, value);
        return std::nullopt;
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

Effect Model::apply(const EventInfo& event, std::uint32_t data) {
    Effect effect;
    effect.vars[0] = event.target;
    effect.count = 1;
    const Var v = event.target;
    const auto signedData = static_cast<std::int32_t>(data);
    switch (event.kind) {
    case EventKind::ComWholeInc:
    case EventKind::ComWholeDec: {
        const long khz = toKhz(canonical(v));
        long mhz = khz / 1000;
        mhz += event.kind == EventKind::ComWholeInc ? 1 : -1;
        if (mhz > kComHighMhz) {
            mhz = kComLowMhz;
        } else if (mhz < kComLowMhz) {
            mhz = kComHighMhz;
        }
        setCanonical(v, fromKhz(mhz * 1000 + khz % 1000));
        break;
    }
    case EventKind::ComFractInc:
    case EventKind::ComFractDec: {
        // Steps to the next 25 kHz channel; an 8.33 kHz value in between
        // lands on the neighbouring channel. The fraction wraps inside the
        // MHz: no carry into the whole megahertz.
        const long khz = toKhz(canonical(v));
        const long mhz = khz / 1000;
        long frac = khz % 1000;
        if (event.kind == EventKind::ComFractInc) {
            frac = (frac / kComStepKhz + 1) * kComStepKhz;
            if (frac >= 1000) {
                frac = 0;
            }
        } else {
            frac = (frac + kComStepKhz - 1) / kComStepKhz * kComStepKhz - kComStepKhz;
            if (frac < 0) {
                frac = 1000 - kComStepKhz;
            }
        }
        setCanonical(v, fromKhz(mhz * 1000 + frac));
        break;
    }
    case EventKind::ComStandbySet: {
        const auto n = bcd16Digits(data);
        if (!n) {
            effect.ignored = "not a BCD16 frequency";
            break;
        }
        // BCD16 has two decimals; a last digit 2 or 7 stands for .x25/.x75.
        const long last = *n % 10;
        const long khz = 100000 + *n * 10 + ((last == 2 || last == 7) ? 5 : 0);
        if (khz < kComLowKhz || khz > kComHighKhz) {
            effect.ignored = "outside the COM band";
            break;
        }
        setCanonical(v, fromKhz(khz));
        break;
    }
    case EventKind::NavStandbySet: {
        const auto n = bcd16Digits(data);
        if (!n) {
            effect.ignored = "not a BCD16 frequency";
            break;
        }
        const long khz = 100000 + *n * 10;
        if (khz < kNavLowKhz || khz > kNavHighKhz) {
            effect.ignored = "outside the NAV band";
            break;
        }
        setCanonical(v, fromKhz(khz));
        break;
    }
    case EventKind::Swap: {
        const double standby = canonical(v);
        setCanonical(v, canonical(event.other));
        setCanonical(event.other, standby);
        effect.vars = {event.other, v};
        effect.count = 2;
        break;
    }
    case EventKind::AngleSet:
        // Whole degrees; 360 is north again, so it reads 0.
        setCanonical(v, static_cast<double>(((signedData % 360) + 360) % 360));
        break;
    case EventKind::SquawkSet:
        if (!validSquawk(data)) {
            effect.ignored = "not a BCO16 squawk code";
            break;
        }
        setCanonical(v, static_cast<double>(data));
        break;
    case EventKind::AltitudeSet:
    case EventKind::VerticalSpeedSet:
        setCanonical(v, static_cast<double>(signedData));
        break;
    case EventKind::KohlsmanInc:
    case EventKind::KohlsmanDec: {
        const double step = event.kind == EventKind::KohlsmanInc ? kBaroStepInHg : -kBaroStepInHg;
        setCanonical(v, std::clamp(roundMicro(canonical(v) + step), kBaroMinInHg, kBaroMaxInHg));
        effect.vars = {Var::KohlsmanHg, Var::KohlsmanMb};
        effect.count = 2;
        break;
    }
    case EventKind::BaroStandard:
        setCanonical(v, kBaroStandardInHg);
        effect.vars = {Var::KohlsmanHg, Var::KohlsmanMb};
        effect.count = 2;
        break;
    case EventKind::Toggle:
        setCanonical(v, canonical(v) != 0.0 ? 0.0 : 1.0);
        break;
    }
    if (!effect.ignored.empty()) {
        effect.count = 0;
    }
    for (int i = 0; i < effect.count; ++i) {
        effect.limited = holdWithinLimit(effect.vars[static_cast<std::size_t>(i)]) || effect.limited;
    }
    return effect;
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

namespace {

// A value of the variable as --set and --limit take it, checked against
// what the variable can hold.
std::optional<double> parseValue(Var var, std::string_view text, std::string& error) {
    const std::string_view valueText = trim(text);
    if (valueText.empty()) {
        error = "no value for " + std::string(info(var).name);
        return std::nullopt;
    }
    const std::string valueString(valueText);
    double value = 0.0;
    const Family family = info(var).family;
    if (family == Family::Squawk) {
        // "0x1200" is the BCO16 value itself; "1200" the squawk digits,
        // which are the same nibbles.
        std::string_view digits = valueText;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.remove_prefix(2);
        }
        unsigned code = 0;
        auto r = std::from_chars(digits.data(), digits.data() + digits.size(), code, 16);
        if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || digits.size() > 4) {
            error = "\"" + valueString + "\" is not a squawk code such as 0x1200";
            return std::nullopt;
        }
        value = code;
    } else if (family == Family::Boolean) {
        const std::string lower = lowerCase(valueText);
        if (lower == "1" || lower == "true" || lower == "on") {
            value = 1.0;
        } else if (lower == "0" || lower == "false" || lower == "off") {
            value = 0.0;
        } else {
            error = "\"" + valueString + "\" is not a Bool (0, 1, true, false, on, off)";
            return std::nullopt;
        }
    } else {
        char* end = nullptr;
        value = std::strtod(valueString.c_str(), &end);
        if (end != valueString.c_str() + valueString.size()) {
            error = "\"" + valueString + "\" is not a number";
            return std::nullopt;
        }
    }
    Model probe;
    if (auto why = probe.set(var, value)) {
        error = "\"" + valueString + "\" for " + std::string(info(var).name) + ": " + *why;
        return std::nullopt;
    }
    return value;
}

// The variable named before the '=' of "NAME=...", and what follows it.
std::optional<std::pair<Var, std::string_view>> splitName(std::string_view text, std::string_view form,
                                                          std::string& error) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "expected " + std::string(form);
        return std::nullopt;
    }
    const std::string_view name = trim(text.substr(0, eq));
    const auto var = findVar(name);
    if (!var) {
        error = "unknown variable \"" + std::string(name) + "\"";
        return std::nullopt;
    }
    return std::pair{*var, text.substr(eq + 1)};
}

}  // namespace

std::optional<Setting> parseSetting(std::string_view text, std::string& error) {
    const auto named = splitName(text, "NAME=VALUE", error);
    if (!named) {
        return std::nullopt;
    }
    const auto value = parseValue(named->first, named->second, error);
    if (!value) {
        return std::nullopt;
    }
    return Setting{named->first, *value};
}

std::optional<Limit> parseLimit(std::string_view text, std::string& error) {
    const auto named = splitName(text, "NAME=MIN:MAX", error);
    if (!named) {
        return std::nullopt;
    }
    const auto [var, range] = *named;
    const std::size_t colon = range.find(':');
    if (colon == std::string_view::npos || range.find(':', colon + 1) != std::string_view::npos) {
        error = "expected MIN:MAX after the name, e.g. -2000:2000";
        return std::nullopt;
    }
    const auto min = parseValue(var, range.substr(0, colon), error);
    const auto max = min ? parseValue(var, range.substr(colon + 1), error) : std::nullopt;
    if (!max) {
        return std::nullopt;
    }
    if (*min > *max) {
        error = "MIN " + formatValue(var, *min) + " above MAX " + formatValue(var, *max);
        return std::nullopt;
    }
    return Limit{var, *min, *max};
}

std::string formatValue(Var v, double value) {
    char buf[64];
    switch (info(v).family) {
    case Family::Frequency:
        std::snprintf(buf, sizeof buf, isCom(v) ? "%.3f" : "%.2f", value);
        return buf;
    case Family::Squawk:
        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(value));
        return buf;
    case Family::Boolean:
        return value != 0.0 ? "1" : "0";
    case Family::Pressure:
        std::snprintf(buf, sizeof buf, "%.2f", value);
        return buf;
    case Family::Angle:
    case Family::Length:
    case Family::VerticalSpeed:
        break;
    }
    return shortest(value);
}

}  // namespace simemu
