// Values the program sets keep their local value against data blocks that do
// not show them yet, for a while: a simulator applies events a frame or more
// late, and the blocks it sent before are still on their way.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include "doubles/recording_simconnect.h"
#include "msfs_fixture.h"

namespace {

namespace sc = simconnect_double;
using Bytes = std::vector<unsigned char>;

SimClock::time_point fakeTime{};
SimClock::time_point fakeNow() { return fakeTime; }

// The simulator's view of the state, turned into the two blocks.
struct SimView {
    double radios[7] = {122.8, 121.5, 113.45, 110.5, 100.0, 180.0, 270.0};
    double altitude = 5000.0;
    double speed = 0.0;
    std::uint32_t code = 0x1200;
    std::int32_t states[6] = {0, 0, 0, 0, 0, 0};
};

struct Hold : Msfs {
    SimView view;
    void SetUp() override {
        Msfs::SetUp();
        fakeTime = SimClock::time_point{} + std::chrono::hours(1);
        sim.clock = &fakeNow;
        deliver();
    }
    void deliver() {
        const Bytes radios = sc::radioBlock(view.radios);
        const Bytes autopilot = sc::autopilotBlock(view.altitude, view.speed, view.code, view.states);
        sim.storeDataBlock(REQ_RADIOS, radios.data(), radios.size());
        sim.storeDataBlock(REQ_AUTOPILOT, autopilot.data(), autopilot.size());
    }
    void after(int ms) { fakeTime += std::chrono::milliseconds(ms); }
};

struct HeldCase {
    const char* name;
    std::function<void(FlightSimInterfaceMSFS&)> turn;  // one detent
    std::function<double(const FlightSimInterfaceMSFS&)> cached;
    std::function<void(SimView&, double)> simulatorShows;  // the simulator applied a value
    double afterOne;  // the value after one detent from the simulator's start value
    double afterTwo;  // after a second detent built on the first
};

void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

const std::vector<HeldCase>& heldCases() {
    static const std::vector<HeldCase> cases = {
        {"Nav1Standby", [](auto& s) { s.tuneNav(1, 1, 0); }, [](const auto& s) { return s.nav1_standby; },
         [](SimView& v, double x) { v.radios[2] = x; }, 114.45, 115.45},
        {"Nav2Standby", [](auto& s) { s.tuneNav(2, 0, 1); }, [](const auto& s) { return s.nav2_standby; },
         [](SimView& v, double x) { v.radios[3] = x; }, 110.55, 110.60},
        {"HeadingBug", [](auto& s) { s.adjustHeadingBug(1, 0, 1); }, [](const auto& s) { return s.heading_bug; },
         [](SimView& v, double x) { v.radios[4] = x; }, 101, 102},
        {"Course1", [](auto& s) { s.adjustCourse(1, 1, 0); }, [](const auto& s) { return s.obs1; },
         [](SimView& v, double x) { v.radios[5] = x; }, 190, 200},
        {"Course2", [](auto& s) { s.adjustCourse(2, 0, -1); }, [](const auto& s) { return s.obs2; },
         [](SimView& v, double x) { v.radios[6] = x; }, 269, 268},
        {"Altitude", [](auto& s) { s.adjustAltitudeAndVerticalSpeed(1, 1, 0); },
         [](const auto& s) { return s.ap_altitude; }, [](SimView& v, double x) { v.altitude = x; }, 5100, 5200},
        {"VerticalSpeed", [](auto& s) { s.adjustAltitudeAndVerticalSpeed(1, 0, -1); },
         [](const auto& s) { return s.ap_vertical_speed; }, [](SimView& v, double x) { v.speed = x; }, -100, -200},
        {"Transponder", [](auto& s) { s.adjustTransponder(1, 0, 1); },
         [](const auto& s) { return static_cast<double>(s.transponder_code); },
         [](SimView& v, double x) { v.code = static_cast<std::uint32_t>(x); }, 0x1201, 0x1202},
    };
    return cases;
}

class HeldMembers : public Hold, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HeldMembers, AStaleBlockDoesNotUndoADetent) {
    const HeldCase& c = GetParam();
    c.turn(sim);
    ASSERT_DOUBLE_EQ(c.cached(sim), c.afterOne);
    after(20);
    deliver();  // produced before the simulator applied the event
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterOne);
    c.turn(sim);
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterTwo);
}

TEST_P(HeldMembers, ReleasedOnceTheSimulatorShowsTheValueThenFollowsTheSimulator) {
    const HeldCase& c = GetParam();
    c.turn(sim);
    c.simulatorShows(view, c.afterOne);
    after(20);
    deliver();
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterOne);
    // A change made in the simulator itself is taken at once.
    c.simulatorShows(view, c.afterTwo);
    after(20);
    deliver();
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterTwo);
}

TEST_P(HeldMembers, TheSimulatorWinsWhenTheHoldOffRunsOut) {
    const HeldCase& c = GetParam();
    const double before = c.cached(sim);
    c.turn(sim);
    after(499);
    deliver();
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterOne);
    after(1);
    deliver();
    EXPECT_DOUBLE_EQ(c.cached(sim), before);
}

INSTANTIATE_TEST_SUITE_P(Cache, HeldMembers, ::testing::ValuesIn(heldCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Hold, TheRestOfEachBlockIsCopiedAsUsualMeanwhile) {
    sim.tuneNav(1, 1, 0);
    sim.adjustAltitudeAndVerticalSpeed(1, 1, 0);
    view.radios[0] = 118.0;
    view.radios[4] = 42.0;
    view.states[0] = 1;
    deliver();
    EXPECT_DOUBLE_EQ(sim.nav1_standby, 114.45);
    EXPECT_DOUBLE_EQ(sim.ap_altitude, 5100);
    EXPECT_DOUBLE_EQ(sim.com1_standby, 118.0);
    EXPECT_DOUBLE_EQ(sim.heading_bug, 42.0);
    EXPECT_EQ(sim.getLedState(), 0x01);
}

// What the simulator shows may differ from the value set in its form only.
TEST_F(Hold, ValuesShownInTheSimulatorsOwnFormReleaseTheHold) {
    view.radios[4] = 350.0;
    view.altitude = 1234.5;
    deliver();
    sim.adjustHeadingBug(1, 1, 0);                // 360, which the simulator keeps as 0
    sim.adjustAltitudeAndVerticalSpeed(1, 1, 0);  // 1334.5, sent as 1334 feet
    sim.tuneNav(1, 1, 0);                         // 114.45, shown as 114.44999...
    view.radios[4] = 0.0;
    view.altitude = 1334.0;
    view.radios[2] = 114.449999;
    deliver();
    // Released: a later change in the simulator shows at once.
    view.radios[4] = 10.0;
    view.altitude = 2000.0;
    view.radios[2] = 110.0;
    deliver();
    EXPECT_DOUBLE_EQ(sim.heading_bug, 10.0);
    EXPECT_DOUBLE_EQ(sim.ap_altitude, 2000.0);
    EXPECT_DOUBLE_EQ(sim.nav1_standby, 110.0);
}

// Eleven outer detents come back to the same NAV frequency: a late block
// showing that frequency from the first detent is not the latest one.
TEST_F(Hold, ARecurringValueIsTakenOnlyOnceTheSimulatorHasShownEverythingBefore) {
    std::vector<double> sent;
    for (int i = 0; i < 11; ++i) {
        sim.tuneNav(1, 1, 0);
        sent.push_back(sim.nav1_standby);
    }
    ASSERT_DOUBLE_EQ(sent.front(), sent.back());  // 114.45 both
    for (std::size_t applied = 0; applied + 1 < sent.size(); ++applied) {
        view.radios[2] = sent[applied];
        after(5);
        deliver();
        ASSERT_DOUBLE_EQ(sim.nav1_standby, sent.back()) << "after the simulator showed detent " << applied + 1;
    }
    // Several events applied in one frame: the block jumps to the last.
    view.radios[2] = sent.back();
    deliver();
    view.radios[2] = 109.0;  // and now a change in the simulator itself
    deliver();
    EXPECT_DOUBLE_EQ(sim.nav1_standby, 109.0);
}

// Ten outer detents end on the frequency the simulator showed before them:
// its blocks that still show that frequency have applied nothing yet.
TEST_F(Hold, ABlockThatShowsWhatItShowedBeforeIsNoNews) {
    for (int i = 0; i < 10; ++i) {
        sim.tuneNav(1, 1, 0);
    }
    ASSERT_DOUBLE_EQ(sim.nav1_standby, view.radios[2]);  // 113.45 again
    after(5);
    deliver();
    sim.tuneNav(1, 1, 0);
    EXPECT_DOUBLE_EQ(sim.nav1_standby, 114.45);
    view.radios[2] = 114.45;  // the first detent applied
    after(5);
    deliver();
    sim.tuneNav(1, 1, 0);
    EXPECT_DOUBLE_EQ(sim.nav1_standby, 115.45);
}

// A simulator that clamps a target (or rejects it) never shows what it was
// sent. Its value must win half a second after the oldest value it has not
// shown was set, however often the knob turns meanwhile: otherwise the cache
// runs ever further ahead of what the user sees.
TEST_F(Hold, AClampingSimulatorWinsHalfASecondAfterTheOldestValueItHasNotShown) {
    const double limit = 2000.0;
    view.speed = 1900.0;
    deliver();
    double highest = 0.0;
    for (int detent = 0; detent < 20; ++detent) {
        sim.adjustAltitudeAndVerticalSpeed(1, 0, 1);
        highest = std::max(highest, sim.ap_vertical_speed);
        view.speed = std::min(sim.ap_vertical_speed, limit);
        for (int frame = 0; frame < 5; ++frame) {  // a block every 20 ms
            after(20);
            deliver();
        }
    }
    // At most six detents (half a second and a frame) above the limit.
    EXPECT_LE(highest, limit + 600.0);
    sim.adjustAltitudeAndVerticalSpeed(1, 0, -1);
    EXPECT_LE(sim.ap_vertical_speed, limit + 500.0);
}

}  // namespace
