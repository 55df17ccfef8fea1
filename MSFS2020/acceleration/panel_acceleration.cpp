#include "acceleration/panel_acceleration.h"

#include <cstdlib>
#include <limits>

#include "simulator/flight_sim_interface.h"

constinit PanelAcceleration panelAcceleration;

namespace {

using FSI = FlightSimInterface;

// How the steps of an accelerated knob are handed to its operation, whose
// counts are a report's signed bytes.
enum class Fit : std::uint8_t {
    None,     // not accelerated
    Linear,   // altitude and vertical speed: steps as counts, at most a byte's worth per report
    Degrees,  // heading and courses: steps as counts, less whole turns
};

Fit fitOf(KnobOperation operation) {
    if (operation == &FSI::adjustAltitudeAndVerticalSpeed) {
        return Fit::Linear;
    }
    if (operation == &FSI::adjustHeadingBug || operation == &FSI::adjustCourse) {
        return Fit::Degrees;
    }
    return Fit::None;
}

// 127 steps of 100 ft: a report would need thirteen detents at the full
// weight to reach it; beyond, the weights are cut (and the log says so)
// rather than the count wrapped.
constexpr std::int32_t kLinearLimit = std::numeric_limits<std::int8_t>::max();

// The heading and course operations move 10° per outer step and 1° per
// inner one, and correct by 360° once (simulator/instruments.cpp). Heading
// wraps, so a move of more than a turn is the same move less whole turns:
// passed so, the value ends exactly where the steps take it, in one event.
constexpr std::int32_t kDegreesPerOuterStep = 10;
constexpr std::int32_t kTurn = 360;

bool fitsByte(std::int32_t count) {
    return count >= std::numeric_limits<std::int8_t>::min() && count <= std::numeric_limits<std::int8_t>::max();
}

void fitDegrees(std::int32_t outer, std::int32_t inner, PanelReport& report) {
    std::int32_t degrees = kDegreesPerOuterStep * outer + inner;
    if (!fitsByte(outer) || !fitsByte(inner) || std::abs(degrees) > kTurn) {
        // A whole number of turns still moves (by one turn), so that the
        // knob sends its event as any turned knob does.
        const std::int32_t whole = degrees < 0 ? -kTurn : kTurn;
        degrees %= kTurn;
        degrees = degrees == 0 ? whole : degrees;
        outer = degrees / kDegreesPerOuterStep;
        inner = degrees % kDegreesPerOuterStep;
    }
    report.outer_delta = static_cast<std::int8_t>(outer);
    report.inner_delta = static_cast<std::int8_t>(inner);
}

// Each knob position (mode, shift, outer or inner) is a knob of its own: a
// push that switches shift ends the run too.
KnobId knobId(const PanelState& panel, bool inner) {
    return (KnobId{panel.mode} << 2) | (panel.shift ? 2U : 0U) | (inner ? 1U : 0U);
}

}  // namespace

bool stepsAValue(std::uint8_t mode, bool shift) { return fitOf(knobOperation(mode, shift)) != Fit::None; }

WeighedReport PanelAcceleration::weigh(const PanelState& panel, const PanelReport& report) {
    WeighedReport weighed{.report = report, .outer = {}, .inner = {}};
    if (!enabled && knob_setting == nullptr) {
        return weighed;
    }
    const Fit fit = fitOf(knobOperation(panel.mode, panel.shift));
    if (fit == Fit::None) {
        return weighed;
    }
    const auto accelerates = [&](bool inner) {
        const std::int8_t setting = knob_setting != nullptr ? knob_setting(panel.mode, panel.shift, inner) : -1;
        return setting < 0 ? enabled : setting != 0;
    };
    const std::int32_t limit = fit == Fit::Linear ? kLinearLimit : KnobAcceleration::kNoLimit;
    // A knob that is not weighed moves by its detents, as without acceleration.
    std::int32_t outer = report.outer_delta;
    std::int32_t inner = report.inner_delta;
    const bool weighOuter = outer != 0 && accelerates(false);
    const bool weighInner = inner != 0 && accelerates(true);
    if (!weighOuter && !weighInner) {
        return weighed;
    }
    const AccelerationClock::time_point now = clock();
    if (weighOuter) {
        weighed.outer = runs_.weigh(knobId(panel, false), report.outer_delta, now, limit);
        outer = weighed.outer.steps;
    }
    if (weighInner) {
        weighed.inner = runs_.weigh(knobId(panel, true), report.inner_delta, now, limit);
        inner = weighed.inner.steps;
    }
    if (fit == Fit::Linear) {
        weighed.report.outer_delta = static_cast<std::int8_t>(outer);
        weighed.report.inner_delta = static_cast<std::int8_t>(inner);
    } else {
        fitDegrees(outer, inner, weighed.report);
    }
    return weighed;
}
