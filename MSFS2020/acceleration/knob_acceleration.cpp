#include "acceleration/knob_acceleration.h"

#include <algorithm>
#include <cstdlib>

int KnobAcceleration::next(KnobId knob, int direction, AccelerationClock::time_point now) {
    const auto gap = now - run_.last;
    if (!run_.active || run_.knob != knob || run_.direction != direction || gap >= kRunGap || gap.count() < 0) {
        run_ = Run{.active = true, .knob = knob, .direction = direction, .length = 1, .weight = 1, .last = now};
        return 1;
    }
    ++run_.length;
    run_.last = now;
    if (run_.length <= kPlainDetents) {
        run_.weight = 1;
    } else if (gap < kFastGap) {
        run_.weight = std::min(run_.weight + 1, kMaxWeight);
    } else {
        run_.weight = std::max(run_.weight / 2, 1);
    }
    return run_.weight;
}

Weighing KnobAcceleration::weigh(KnobId knob, std::int8_t detents, AccelerationClock::time_point now,
                                 std::int32_t limit) {
    Weighing result;
    const int count = std::abs(static_cast<int>(detents));
    const int direction = detents < 0 ? -1 : 1;
    const std::int32_t budget = std::max<std::int32_t>(limit, count);
    std::int32_t moved = 0;
    for (int i = 0; i < count; ++i) {
        const int ruled = next(knob, direction, now);
        // What the detents after this one need at the least: one step each.
        const std::int32_t room = budget - moved - (count - 1 - i);
        const int weight = std::min<std::int32_t>(ruled, room);
        result.limited = result.limited || weight < ruled;
        result.weights[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(weight);
        moved += weight;
    }
    result.detents = count;
    result.steps = direction * moved;
    return result;
}
