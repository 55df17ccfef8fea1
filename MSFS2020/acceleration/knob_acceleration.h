// Knob acceleration: a knob turned fast moves its value further per detent,
// one turned slowly moves it exactly one step per detent.
//
// The rule, for each knob a caller names:
// - A run is a series of detents of one knob in one direction, each less than
//   kRunGap after the one before. Any other detent (the first one, one after
//   a pause, one the other way, one of another knob) starts a new run.
// - The first kPlainDetents detents of a run move one step each, however
//   fast: one- and two-detent corrections stay exact.
// - From then on, a detent that comes less than kFastGap after the previous
//   one weighs one step more than the previous (up to kMaxWeight); a slower
//   one halves the weight (down to 1), so slowing down near the target gets
//   the exact steps back at once.
// - A report that carries several detents counts them as that many detents
//   at the report's time (each one "fast" after the one before).
//
// How a profile layer (or any other caller) uses it:
// - It decides which knobs accelerate; this class knows none. It gives each
//   knob a KnobId of its own choice (distinct per knob position and function),
//   calls weigh() for every report that turned an accelerated knob, with the
//   report's time, and reset() where a turn must not carry over: at start,
//   on a change of mode and on each new connection (PanelAcceleration does
//   these for the built-in mapping; a layer that shares its instance, through
//   PanelAcceleration::runs(), shares them too).
// - It moves its value by Weighing::steps: a summed knob in one event, an
//   L:var in one write adding steps, a per-detent event action run
//   |steps| times. The per-detent weights are there for the log.
// - A knob that does not accelerate is simply never weighed: it neither moves
//   by weights nor ends the run of the knob that does.
#ifndef ACCELERATION_KNOB_ACCELERATION_H
#define ACCELERATION_KNOB_ACCELERATION_H

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>

using AccelerationClock = std::chrono::steady_clock;

// The rule's parameters (docs/controls.md, "Knob acceleration").
inline constexpr std::chrono::milliseconds kRunGap{300};
inline constexpr std::chrono::milliseconds kFastGap{150};
inline constexpr int kPlainDetents = 3;
inline constexpr int kMaxWeight = 10;

// The most detents one call weighs: what a report's signed byte can carry.
inline constexpr int kMaxDetentsPerCall = 128;

// Chosen by the caller; equal ids are the same knob.
using KnobId = std::uint32_t;

struct Weighing {
    // The detents' weights summed, with the detents' sign: how many steps the
    // knob moves its value.
    std::int32_t steps = 0;
    // How many detents were weighed (|detents|), and the weight of each, in
    // the order they were counted.
    int detents = 0;
    std::array<std::uint8_t, kMaxDetentsPerCall> weights{};
    // Set when the caller's limit made some weights smaller than the rule's.
    bool limited = false;

    // Whether any detent moved more than one step.
    bool accelerated() const { return steps > detents || steps < -detents; }
};

class KnobAcceleration {
public:
    // No limit on the steps of one call but the rule's own (kMaxWeight per
    // detent).
    static constexpr std::int32_t kNoLimit = std::numeric_limits<std::int32_t>::max();

    // Weighs `detents` detents (signed, + clockwise) of `knob`, all made at
    // `now`, and carries the run on. `limit` caps |steps| of this call for a
    // value that cannot take more at once; every detent still moves at least
    // one step, so a limit below |detents| is raised to it. Zero detents
    // weigh nothing and leave the run as it is.
    Weighing weigh(KnobId knob, std::int8_t detents, AccelerationClock::time_point now, std::int32_t limit = kNoLimit);

    // Ends the run: the next detent of any knob moves one step.
    void reset() { run_ = Run{}; }

private:
    struct Run {
        bool active = false;
        KnobId knob = 0;
        int direction = 0;  // +1 or -1
        int length = 0;     // detents so far
        int weight = 1;     // of the last detent
        AccelerationClock::time_point last{};
    };
    // The weight of one more detent of `knob` in `direction` at `now`.
    int next(KnobId knob, int direction, AccelerationClock::time_point now);

    Run run_{};
};

#endif
