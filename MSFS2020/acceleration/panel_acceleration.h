// Acceleration of the built-in mapping's knobs, with --accelerate: the knobs
// that move a value by a step per detent (heading bug, courses, autopilot
// altitude and vertical speed) move it by their detents' weights
// (knob_acceleration.h). Never the frequencies, the transponder, the
// barometer or the FMS knobs: those are tuned or stepped, not flown to.
//
// It sits between a decoded report and the dispatcher: the dispatcher gets
// the report with the accelerated knobs' counts replaced by the steps they
// move, and calls the knob's own operation once with them, as it would with
// that many detents.
#ifndef ACCELERATION_PANEL_ACCELERATION_H
#define ACCELERATION_PANEL_ACCELERATION_H

#include "acceleration/knob_acceleration.h"
#include "driver/panel_report.h"
#include "driver/panel_state.h"

struct WeighedReport {
    // The report as read, but with each accelerated knob's count replaced by
    // the steps it moves.
    PanelReport report;
    // The weighing of each knob; no detents where the knob was not weighed.
    Weighing outer;
    Weighing inner;
};

// What a layer that decides knob by knob (a profile) says of one knob
// position: 1 weigh it, 0 do not, -1 as PanelAcceleration::enabled says.
using KnobSetting = std::int8_t (*)(std::uint8_t mode, bool shift, bool inner);

class PanelAcceleration {
public:
    // --accelerate. Off: every report passes unchanged (unless knob_setting
    // says otherwise).
    bool enabled = false;
    // Null: `enabled` decides for every built-in knob. Set, it is asked for
    // each knob turned; a knob it says yes to is still weighed only where
    // its operation steps a value.
    KnobSetting knob_setting = nullptr;
    // The clock the detents are timed by; tests replace it.
    AccelerationClock::time_point (*clock)() = &AccelerationClock::now;

    // What the dispatcher gets for `report`, which the panel (its mode and
    // shift already updated for this report) is about to dispatch.
    WeighedReport weigh(const PanelState& panel, const PanelReport& report);

    // Ends the run: at start, on each new connection and on each change of
    // mode (acceptReport).
    void reset() { runs_.reset(); }

    // The runs themselves, for a layer that weighs knobs of its own: sharing
    // them, it shares the resets with the built-in knobs.
    KnobAcceleration& runs() { return runs_; }

private:
    KnobAcceleration runs_;
};

// Whether the built-in knob in this position moves a value by a step per
// detent (heading bug, courses, autopilot altitude and vertical speed): the
// positions where acceleration belongs. A profile's knob bound there
// accelerates as the built-in one would; elsewhere only when marked so.
bool stepsAValue(std::uint8_t mode, bool shift);

// The process's one instance, used by acceptReport.
extern PanelAcceleration panelAcceleration;

#endif
