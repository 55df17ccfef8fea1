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

class PanelAcceleration {
public:
    // Off unless --accelerate: then every report passes unchanged.
    bool enabled = false;
    // The clock the detents are timed by; tests replace it.
    AccelerationClock::time_point (*clock)() = &AccelerationClock::now;

    // What the dispatcher gets for `report`, which the panel (its mode and
    // shift already updated for this report) is about to dispatch. A change
    // of mode since the previous report ends the run.
    WeighedReport weigh(const PanelState& panel, const PanelReport& report);

    // Ends the run: at start and on each new connection.
    void reset();

    // The runs themselves, for a layer that weighs knobs of its own and must
    // share the resets with the built-in ones.
    KnobAcceleration& runs() { return runs_; }

private:
    KnobAcceleration runs_;
    bool seen_mode_ = false;
    std::uint8_t mode_ = 0;
};

// The process's one instance, used by acceptReport.
extern PanelAcceleration panelAcceleration;

#endif
