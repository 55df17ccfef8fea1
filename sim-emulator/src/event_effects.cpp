// What each simulator event does to the variables.
#include "model.h"

#include "aircraft.h"

#include <algorithm>

namespace simemu {

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
    case EventKind::VerticalSpeedSet: setCanonical(v, static_cast<double>(signedData)); break;
    case EventKind::AltitudeInc:
    case EventKind::AltitudeDec: {
        // 100 ft a step; data above 999 asks for 1000 ft steps. Never below 0.
        const double step = data > 999 ? 1000.0 : 100.0;
        const double to = canonical(v) + (event.kind == EventKind::AltitudeInc ? step : -step);
        setCanonical(v, std::max(to, 0.0));
        break;
    }
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
    case EventKind::Toggle: setCanonical(v, canonical(v) != 0.0 ? 0.0 : 1.0); break;
    }
    if (!effect.ignored.empty()) {
        effect.count = 0;
    }
    for (int i = 0; i < effect.count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        effect.limited = holdWithinLimit(effect.vars[k]) || effect.limited;
        effect.values[k] = value(effect.vars[k]);
    }
    return effect;
}

}  // namespace simemu
