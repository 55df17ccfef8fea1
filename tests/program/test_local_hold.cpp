// Values the program sets keep their local value against data blocks that do
// not show them yet, for a while: a simulator applies events a frame or more
// late, and the blocks it sent before are still on their way.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
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
    void deliverRadios() {
        const Bytes radios = sc::radioBlock(view.radios);
        sim.storeDataBlock(REQ_RADIOS, radios.data(), radios.size());
    }
    void after(int ms) { fakeTime += std::chrono::milliseconds(ms); }
    // As the main loop does after each dispatch.
    void deliverAndServe() {
        deliver();
        sim.serveWaitingTurns();
    }
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
         [](const auto& s) { return s.transponder_code ? static_cast<double>(*s.transponder_code) : kUnknown; },
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

// Before the simulator's first block (and after every reconnection) the cache
// holds nothing to build on: a turn waits, and goes out built on the block
// that brings its value, never computed from nothing.
TEST_P(HeldMembers, ATurnBeforeTheFirstBlockWaitsForItAndBuildsOnIt) {
    const HeldCase& c = GetParam();
    sim.forgetSimulator();
    c.turn(sim);
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(std::isnan(c.cached(sim)));
    after(1000);
    sim.serveWaitingTurns();
    EXPECT_TRUE(sent().empty());
    deliverAndServe();
    EXPECT_EQ(sent().size(), 1U);
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterOne);
    c.turn(sim);  // and from then on at once
    EXPECT_EQ(sent().size(), 2U);
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterTwo);
}

TEST_P(HeldMembers, ATurnThatWaitedInVainIsDroppedAndThatSaidOnce) {
    const HeldCase& c = GetParam();
    sim.forgetSimulator();
    ::testing::internal::CaptureStderr();
    c.turn(sim);
    after(1999);
    sim.serveWaitingTurns();
    EXPECT_EQ(sim.waitingTurns(), 1U);
    after(1);
    sim.serveWaitingTurns();
    EXPECT_EQ(sim.waitingTurns(), 0U);
    c.turn(sim);
    after(2000);
    sim.serveWaitingTurns();
    deliverAndServe();  // too late for both
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: knob turns dropped: the simulator sent no value for them to build on within 2 s\n");
    EXPECT_TRUE(sent().empty());
    c.turn(sim);
    EXPECT_DOUBLE_EQ(c.cached(sim), c.afterOne);
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

// Each waiting turn goes out when the block with its value comes, in the
// order the turns were made; relative events never wait.
TEST_F(Hold, WaitingTurnsGoOutInOrderEachWithItsBlock) {
    sim.forgetSimulator();
    sim.tuneNav(1, 1, 0);
    sim.adjustAltitudeAndVerticalSpeed(1, 1, -1);
    sim.tuneNav(1, 0, 1);
    sim.pressKey(key::Nav1Swap);  // must not overtake the turns of its standby
    sim.tuneNav(1, 0, 1);         // and this one is for the standby swapped in
    sim.tuneCom(1, 1, 0);
    EXPECT_EQ(sent(), (Sent{{12, 1}}));
    deliverRadios();
    sim.serveWaitingTurns();
    EXPECT_EQ(sent(), (Sent{{12, 1}, {2, 0x11445}, {2, 0x11450}, {82, 0}}));
    view.radios[2] = 110.10;  // the former active frequency
    deliverAndServe();
    EXPECT_EQ(
        sent(),
        (Sent{{12, 1}, {2, 0x11445}, {2, 0x11450}, {82, 0}, {8, 5100}, {9, static_cast<DWORD>(-100)}, {2, 0x11015}}));
    EXPECT_EQ(sim.waitingTurns(), 0U);
}

TEST_F(Hold, AtMostAQueueFullOfTurnsWaits) {
    sim.forgetSimulator();
    ::testing::internal::CaptureStderr();
    for (std::size_t i = 0; i < kMaxWaitingTurns + 10; ++i) {
        sim.adjustHeadingBug(1, 0, 1);
    }
    EXPECT_EQ(sim.waitingTurns(), kMaxWaitingTurns);
    deliverAndServe();
    EXPECT_EQ(sent().size(), kMaxWaitingTurns);
    EXPECT_DOUBLE_EQ(sim.heading_bug, 100.0 + kMaxWaitingTurns);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: knob turns dropped: more than 128 waiting for the simulator's data\n");
}

// NaN or infinity is no value: what was cached stays, and what was unknown
// stays unknown (a detent would otherwise send 0 or 2147483647).
TEST_F(Hold, ADatumThatIsNotAFiniteNumberLeavesTheCacheAsItWas) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    view.altitude = kNaN;
    view.radios[2] = kInfinity;
    view.radios[4] = -kInfinity;
    view.radios[0] = kNaN;
    deliver();
    EXPECT_DOUBLE_EQ(sim.ap_altitude, 5000.0);
    EXPECT_DOUBLE_EQ(sim.nav1_standby, 113.45);
    EXPECT_DOUBLE_EQ(sim.heading_bug, 100.0);
    EXPECT_DOUBLE_EQ(sim.com1_standby, 122.8);
    sim.forgetSimulator();
    deliverAndServe();
    sim.adjustAltitudeAndVerticalSpeed(1, 1, 1);
    sim.tuneNav(1, 1, 0);
    EXPECT_EQ(sent(), (Sent{{9, 100}}));  // the vertical speed alone is known
    EXPECT_EQ(sim.waitingTurns(), 2U);
}

// A swap makes the standby the program holds the active frequency: the hold
// ends with it, and the next detent builds on the standby the simulator
// shows now (the former active one), not on the one swapped out.
TEST_F(Hold, ASwapEndsTheHoldOnTheStandbyItExchanges) {
    for (const int radio : {1, 2}) {
        clearSent();
        const KeyCommand swap = radio == 1 ? key::Nav1Swap : key::Nav2Swap;
        double& shown = view.radios[radio + 1];
        shown = 113.45;
        deliver();
        sim.tuneNav(static_cast<std::uint8_t>(radio), 1, 0);  // 114.45, not yet shown
        sim.pressKey(swap);
        shown = 110.10;
        after(20);
        deliver();
        sim.tuneNav(static_cast<std::uint8_t>(radio), 0, 1);
        const DWORD set = radio == 1 ? 2 : 3;
        EXPECT_EQ(sent(), (Sent{{set, 0x11445}, {set + 80, 0}, {set, 0x11015}})) << "NAV" << radio;
    }
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
