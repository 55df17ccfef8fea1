// Knob acceleration: the rule's properties on a fake clock, the built-in
// mapping's knobs through acceptReport, the counts handed to the real
// operations, the verbose log's weights, and the reset at a new connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "acceleration/knob_acceleration.h"
#include "acceleration/panel_acceleration.h"
#include "doubles/recording_simconnect.h"
#include "driver/main_loop.h"
#include "driver/verbose_log.h"
#include "hid_double.h"
#include "msfs_fixture.h"
#include "recording_sim_interface.h"

namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
using TimePoint = AccelerationClock::time_point;

// ---- The rule ----------------------------------------------------------------

// One report's worth of detents of one knob, `gap` after the previous report.
struct Turn {
    KnobId knob;
    int detents;
    Ms gap;
};

struct Rule {
    KnobAcceleration runs;
    TimePoint now{1h};

    Weighing turn(const Turn& t) {
        now += t.gap;
        return runs.weigh(t.knob, static_cast<std::int8_t>(t.detents), now);
    }
    // The weights of every detent of `turns`, in order.
    std::vector<int> weights(const std::vector<Turn>& turns) {
        std::vector<int> all;
        for (const Turn& t : turns) {
            const Weighing w = turn(t);
            all.insert(all.end(), w.weights.begin(), w.weights.begin() + w.detents);
        }
        return all;
    }
};

// `count` reports of one detent each, `gap` apart.
std::vector<Turn> spin(int count, Ms gap, int direction = 1, KnobId knob = 0) {
    return std::vector<Turn>(static_cast<std::size_t>(count), Turn{knob, direction, gap});
}

int sum(const std::vector<int>& weights) { return std::accumulate(weights.begin(), weights.end(), 0); }

TEST(AccelerationRule, DetentsAtLeast300MsApartMoveOneStepEach) {
    for (const Ms gap : {300ms, 301ms, 450ms, 1000ms, 60000ms}) {
        for (const int direction : {1, -1}) {
            Rule rule;
            // A fast spin first: a pause of `gap` must end it too.
            rule.weights(spin(30, 20ms, direction));
            EXPECT_EQ(rule.weights(spin(30, gap, direction)), std::vector<int>(30, 1)) << gap.count();
        }
    }
}

TEST(AccelerationRule, ThirtyFastDetentsGoFourTimesAsFarAndNoneMovesMoreThanTen) {
    for (const Ms gap : {0ms, 1ms, 10ms, 50ms, 100ms}) {
        Rule rule;
        const std::vector<int> weights = rule.weights(spin(30, gap));
        EXPECT_GE(sum(weights), 4 * 30) << gap.count();
        EXPECT_LE(*std::max_element(weights.begin(), weights.end()), kMaxWeight) << gap.count();
    }
    Rule rule;
    const std::vector<int> long_spin = rule.weights(spin(5000, 1ms));
    EXPECT_EQ(*std::max_element(long_spin.begin(), long_spin.end()), kMaxWeight);
}

TEST(AccelerationRule, SlowingDownBringsTheWeightBackToOne) {
    Rule rule;
    rule.weights(spin(30, 50ms));
    const std::vector<int> slower = rule.weights(spin(5, 200ms));
    EXPECT_LT(slower[0], kMaxWeight);
    EXPECT_EQ(slower.back(), 1);
}

TEST(AccelerationRule, TheFirstDetentTheOtherWayMovesOneStepAndStartsANewRun) {
    for (const int length : {4, 10, 30, 100}) {
        for (const Ms gap : {0ms, 50ms}) {
            Rule rule;
            const std::vector<int> forward = rule.weights(spin(length, 50ms));
            ASSERT_GT(forward.back(), 1) << length;
            const Weighing back = rule.turn({0, -1, gap});
            EXPECT_EQ(back.steps, -1) << length << " " << gap.count();
            // A new run: its first three detents are plain too.
            EXPECT_EQ(rule.weights(spin(2, gap, -1)), (std::vector<int>{1, 1})) << length;
        }
    }
}

// Random sequences of reports of two knobs, both ways, at gaps around the
// rule's thresholds, now and then a reset; each detent is held to what the
// properties promise, with the runs followed independently here.
TEST(AccelerationRule, PropertiesHoldForRandomTurns) {
    std::mt19937 rng(20240917);
    const Ms gaps[] = {0ms, 1ms, 20ms, 50ms, 149ms, 150ms, 200ms, 299ms, 300ms, 1000ms};
    std::uniform_int_distribution<int> pickGap(0, std::size(gaps) - 1);
    std::uniform_int_distribution<int> pickDetents(-6, 6);
    std::uniform_int_distribution<int> percent(0, 99);
    for (int sequence = 0; sequence < 300; ++sequence) {
        Rule rule;
        int runLength = 0;
        KnobId runKnob = 0;
        int runDirection = 0;
        for (int report = 0; report < 80; ++report) {
            if (percent(rng) < 3) {
                rule.runs.reset();
                runLength = 0;
            }
            int detents = pickDetents(rng);
            if (detents == 0) {
                detents = 1;
            }
            const KnobId knob = percent(rng) < 10 ? 1 : 0;
            const Ms gap = gaps[pickGap(rng)];
            const int direction = detents < 0 ? -1 : 1;

            // A report of n detents is n detents at one time.
            KnobAcceleration single = rule.runs;
            std::vector<int> oneByOne;
            for (int i = 0; i < std::abs(detents); ++i) {
                oneByOne.push_back(single.weigh(knob, static_cast<std::int8_t>(direction), rule.now + gap).steps *
                                   direction);
            }

            const Weighing w = rule.turn({knob, detents, gap});
            ASSERT_EQ(w.detents, std::abs(detents));
            EXPECT_EQ(std::vector<int>(w.weights.begin(), w.weights.begin() + w.detents), oneByOne);
            EXPECT_EQ(w.steps, direction * std::accumulate(oneByOne.begin(), oneByOne.end(), 0));
            EXPECT_FALSE(w.limited);
            for (int i = 0; i < w.detents; ++i) {
                const bool newRun =
                    runLength == 0 || knob != runKnob || direction != runDirection || (i == 0 && gap >= kRunGap);
                runLength = newRun ? 1 : runLength + 1;
                runKnob = knob;
                runDirection = direction;
                const int weight = w.weights[static_cast<std::size_t>(i)];
                EXPECT_GE(weight, 1);
                EXPECT_LE(weight, kMaxWeight);
                if (runLength <= kPlainDetents) {
                    EXPECT_EQ(weight, 1) << "detent " << runLength << " of its run, sequence " << sequence;
                }
            }
        }
    }
}

TEST(AccelerationRule, ALimitCutsTheLastWeightsButEveryDetentStillMoves) {
    struct Case {
        int warmUp;  // fast detents before
        int detents;
        std::int32_t limit;
        std::int32_t steps;
        bool limited;
    };
    const Case cases[] = {
        {30, 12, 127, 120, false}, {30, 13, 127, 127, true}, {30, -20, 127, -127, true}, {30, -128, 127, -128, true},
        {0, 127, 127, 127, true},  {0, 3, 1, 3, false},      {30, 5, 7, 7, true},        {0, 2, 0, 2, false},
    };
    for (const Case& c : cases) {
        Rule rule;
        rule.weights(spin(c.warmUp, 10ms, c.detents < 0 ? -1 : 1));
        rule.now += 10ms;
        const Weighing w = rule.runs.weigh(0, static_cast<std::int8_t>(c.detents), rule.now, c.limit);
        EXPECT_EQ(w.steps, c.steps) << c.detents << " limit " << c.limit;
        EXPECT_EQ(w.limited, c.limited) << c.detents << " limit " << c.limit;
        EXPECT_TRUE(std::all_of(w.weights.begin(), w.weights.begin() + w.detents, [](auto x) { return x >= 1; }));
    }
}

// The controls page states the rule's figures; they are these.
TEST(AccelerationRule, TheControlsPageGivesTheseFigures) {
    std::ifstream page(CONTROLS_PAGE);
    const std::string text{std::istreambuf_iterator<char>(page), std::istreambuf_iterator<char>()};
    const std::regex row(R"(\n\| [^|]+ \| (\d+)( ms| steps)? \|)");
    std::vector<int> values;
    const auto table = text.find("| Parameter | Value |");
    ASSERT_NE(table, std::string::npos);
    for (auto it = std::sregex_iterator(text.begin() + static_cast<std::ptrdiff_t>(table), text.end(), row);
         it != std::sregex_iterator() && values.size() < 4; ++it) {
        values.push_back(std::stoi((*it)[1]));
    }
    EXPECT_EQ(values, (std::vector<int>{static_cast<int>(kRunGap.count()), kPlainDetents,
                                        static_cast<int>(kFastGap.count()), kMaxWeight}));
    std::smatch example;
    ASSERT_TRUE(std::regex_search(text, example, std::regex(R"(thirty detents move (\d+) steps)")));
    Rule rule;
    EXPECT_EQ(sum(rule.weights(spin(30, 50ms))), std::stoi(example[1]));
}

// ---- The built-in mapping ------------------------------------------------------

TimePoint fakeNow = TimePoint{1h};
Ms fakeStep = 50ms;
// Each report is timed `fakeStep` after the one before.
TimePoint steppingClock() { return fakeNow += fakeStep; }

struct Accelerated : ::testing::Test {
    void SetUp() override {
        panelAcceleration = PanelAcceleration{};
        panelAcceleration.enabled = true;
        panelAcceleration.clock = &steppingClock;
        fakeStep = 50ms;
    }
    void TearDown() override { panelAcceleration = PanelAcceleration{}; }

    static PanelReport report(std::uint8_t mode, int outer, int inner, std::uint32_t buttons = 0) {
        return {.report_id = 1,
                .buttons = buttons,
                .mode = mode,
                .outer_delta = static_cast<std::int8_t>(outer),
                .inner_delta = static_cast<std::int8_t>(inner)};
    }
};

struct AcceleratedRecording : Accelerated {
    RecordingSimInterface sim;
    PanelState panel{nullptr, false, &sim};

    void accept(const PanelReport& r) { acceptReport(panel, r); }
    void pushKnob(std::uint8_t mode) {
        accept(report(mode, 0, 0, BTN_KNOB_PUSH));
        accept(report(mode, 0, 0));
    }
};

// Which knobs accelerate, as the controls page says: the heading bug
// (COM1 shift), the courses (NAV1 and NAV2 shift), autopilot altitude and
// vertical speed (AP). Every other knob calls exactly as without the option.
TEST_F(AcceleratedRecording, OnlyTheKnobsThatStepAValueAccelerate) {
    struct Position {
        std::uint8_t mode;
        bool shift;
    };
    const std::vector<std::pair<Position, bool>> positions = {
        {{COM1, false}, false}, {{COM1, true}, true},   {{COM2, false}, false}, {{COM2, true}, false},
        {{NAV1, false}, false}, {{NAV1, true}, true},   {{NAV2, false}, false}, {{NAV2, true}, true},
        {{FMS1, false}, false}, {{FMS2, false}, false}, {{AP, false}, true},    {{AP, true}, true},
        {{XPDR, false}, false}, {{XPDR, true}, false},  {{8, false}, false},    {{200, true}, false},
    };
    for (const auto& [position, accelerates] : positions) {
        for (const bool inner : {false, true}) {
            std::vector<std::string> calls[2];
            for (const bool on : {false, true}) {
                panelAcceleration.enabled = on;
                accept(report(XPDR == position.mode ? COM1 : XPDR, 0, 0));  // a mode change: shift off
                accept(report(position.mode, 0, 0));
                if (position.shift) {
                    pushKnob(position.mode);
                }
                sim.calls.clear();
                for (int i = 0; i < 12; ++i) {
                    accept(report(position.mode, inner ? 0 : 1, inner ? -1 : 0));
                }
                calls[on ? 1 : 0] = sim.calls;
            }
            const std::string where =
                std::to_string(position.mode) + (position.shift ? " shift" : "") + (inner ? " inner" : " outer");
            EXPECT_EQ(calls[0].size(), calls[1].size()) << where;
            if (accelerates) {
                EXPECT_NE(calls[1], calls[0]) << where;
                // The first three as without the option, then larger counts.
                EXPECT_TRUE(std::equal(calls[0].begin(), calls[0].begin() + 3, calls[1].begin())) << where;
            } else {
                EXPECT_EQ(calls[1], calls[0]) << where;
            }
        }
    }
}

TEST_F(AcceleratedRecording, ASummedKnobGetsTheWeightedCountOfEachReportInOneCall) {
    // Three single detents, then a report of three: the run's 4th to 6th
    // detents, all at the report's time, weigh 2, 3 and 4.
    for (int i = 0; i < 3; ++i) {
        accept(report(AP, 1, 0));
    }
    accept(report(AP, 3, 0));
    accept(report(AP, 0, -2));  // the other knob: a run of its own
    EXPECT_EQ(sim.calls, (std::vector<std::string>{
                             "adjustAltitudeAndVerticalSpeed(1,1,0)",
                             "adjustAltitudeAndVerticalSpeed(1,1,0)",
                             "adjustAltitudeAndVerticalSpeed(1,1,0)",
                             "adjustAltitudeAndVerticalSpeed(1,9,0)",
                             "adjustAltitudeAndVerticalSpeed(1,0,-2)",
                         }));
}

TEST_F(AcceleratedRecording, AModeChangeAShiftPushAndANewConnectionEndTheRun) {
    const auto spinThenOne = [&](const std::function<void()>& between) {
        accept(report(AP, 0, 0));
        for (int i = 0; i < 12; ++i) {
            accept(report(AP, 1, 0));
        }
        between();
        sim.calls.clear();
        accept(report(AP, 1, 0));
        return sim.calls;
    };
    const std::vector<std::string> one = {"adjustAltitudeAndVerticalSpeed(1,1,0)"};
    EXPECT_NE(spinThenOne([] {}), one);  // the run goes on
    EXPECT_EQ(spinThenOne([&] { accept(report(NAV1, 0, 0)); }), one);
    EXPECT_EQ(spinThenOne([&] { pushKnob(AP); }), one);
    EXPECT_EQ(spinThenOne([] { panelAcceleration.reset(); }), one);
}

// The steps reach the real operations whole: each report sends one event
// whose value moved by exactly the weighed steps (headings and courses
// modulo a turn, always within 0-360; altitude by at most a byte's worth).
struct AcceleratedMsfs : Accelerated {
    HANDLE handle = simconnect_double::kFakeHandle;
    FlightSimInterfaceMSFS msfs;
    PanelState panel{nullptr, false, &msfs};

    void SetUp() override {
        Accelerated::SetUp();
        simconnect_double::reset();
        msfs.connection = &handle;
    }
};

TEST_F(AcceleratedMsfs, HeadingsAndCoursesMoveByTheStepsModuloATurnInOneEvent) {
    struct Knob {
        std::uint8_t mode;
        double FlightSimInterfaceMSFS::*value;
        ClientEventId event;
    };
    const Knob knobs[] = {{COM1, &FlightSimInterfaceMSFS::heading_bug, clientEventId("HEADING_BUG_SET")},
                          {NAV1, &FlightSimInterfaceMSFS::obs1, clientEventId("VOR1_SET")},
                          {NAV2, &FlightSimInterfaceMSFS::obs2, clientEventId("VOR2_SET")}};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> count(-128, 127);
    std::uniform_int_distribution<int> small(-3, 3);
    std::uniform_int_distribution<int> percent(0, 99);
    for (const Knob& knob : knobs) {
        panel.mode = knob.mode;
        panel.shift = true;
        for (int i = 0; i < 2000; ++i) {
            // Mostly fast single-knob spins, now and then huge counts and
            // both knobs at once.
            const bool huge = percent(rng) < 20;
            const int outer = huge ? count(rng) : (percent(rng) < 50 ? small(rng) : 0);
            const int inner = huge ? count(rng) : (outer == 0 ? small(rng) : 0);
            if (outer == 0 && inner == 0) {
                continue;
            }
            const PanelReport r = report(knob.mode, outer, inner);
            const auto before = static_cast<std::int64_t>(msfs.*knob.value);
            simconnect_double::recorder().events.clear();
            const WeighedReport weighed = panelAcceleration.weigh(panel, r);
            panel.dispatchReport(weighed.report);
            const auto& events = simconnect_double::recorder().events;
            ASSERT_EQ(events.size(), 1U) << outer << " " << inner;
            EXPECT_EQ(events[0].event, knob.event);
            const std::int64_t moved = 10 * std::int64_t{weighed.outer.steps} + weighed.inner.steps;
            const auto sentDegrees = static_cast<std::int64_t>(events[0].data);
            EXPECT_LE(sentDegrees, 360);
            EXPECT_EQ(((sentDegrees - before - moved) % 360 + 360) % 360, 0)
                << before << " moved " << moved << " sent " << sentDegrees;
        }
    }
}

TEST_F(AcceleratedMsfs, AltitudeAndVerticalSpeedMoveByTheStepsInOneEventAndAtMostAByteOfThem) {
    msfs.ap_altitude = 1e7;  // far above the floor at 0
    panel.mode = AP;
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> count(-128, 127);
    std::uniform_int_distribution<int> small(1, 3);
    std::uniform_int_distribution<int> percent(0, 99);
    bool cut = false;
    for (int i = 0; i < 2000; ++i) {
        const int outer = percent(rng) < 15 ? count(rng) : small(rng);
        const PanelReport r = report(AP, i % 2 == 0 ? outer : 0, i % 2 == 0 ? 0 : -outer);
        if (r.outer_delta == 0 && r.inner_delta == 0) {
            continue;
        }
        const double altitude = msfs.ap_altitude;
        const double speed = msfs.ap_vertical_speed;
        simconnect_double::recorder().events.clear();
        const WeighedReport weighed = panelAcceleration.weigh(panel, r);
        panel.dispatchReport(weighed.report);
        ASSERT_EQ(simconnect_double::recorder().events.size(), 1U);
        EXPECT_DOUBLE_EQ(msfs.ap_altitude - altitude, 100.0 * weighed.outer.steps);
        EXPECT_DOUBLE_EQ(msfs.ap_vertical_speed - speed, 100.0 * weighed.inner.steps);
        const Weighing& w = r.outer_delta != 0 ? weighed.outer : weighed.inner;
        EXPECT_LE(std::abs(w.steps), std::max(127, w.detents));
        cut = cut || w.limited;
    }
    EXPECT_TRUE(cut) << "no report reached the limit: the test does not test it";
}

TEST_F(AcceleratedMsfs, TheVerboseLogShowsTheWeightOfEachAcceleratedDetent) {
    msfs.ap_altitude = 7000;
    msfs.nav1_standby = 113.45;
    enableVerboseLog(panel);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 4; ++i) {
        acceptReport(panel, report(AP, 1, 0));
    }
    acceptReport(panel, report(AP, 2, 0));
    for (int i = 0; i < 12; ++i) {
        acceptReport(panel, report(AP, 0, -1));
    }
    acceptReport(panel, report(AP, 0, -20));
    acceptReport(panel, report(NAV1, 1, 0));
    const std::string said = ::testing::internal::GetCapturedStderr();
    disableVerboseLog(panel);
    EXPECT_EQ(said,
              "mode AP\n"
              "AP outer +1 -> AP_ALT_VAR_SET_ENGLISH 7100\n"
              "AP outer +1 -> AP_ALT_VAR_SET_ENGLISH 7200\n"
              "AP outer +1 -> AP_ALT_VAR_SET_ENGLISH 7300\n"
              "AP outer +1 x2 -> AP_ALT_VAR_SET_ENGLISH 7500\n"
              "AP outer +2 x3+4 -> AP_ALT_VAR_SET_ENGLISH 8200\n"
              "AP inner -1 -> AP_VS_VAR_SET_ENGLISH -100\n"
              "AP inner -1 -> AP_VS_VAR_SET_ENGLISH -200\n"
              "AP inner -1 -> AP_VS_VAR_SET_ENGLISH -300\n"
              "AP inner -1 x2 -> AP_VS_VAR_SET_ENGLISH -500\n"
              "AP inner -1 x3 -> AP_VS_VAR_SET_ENGLISH -800\n"
              "AP inner -1 x4 -> AP_VS_VAR_SET_ENGLISH -1200\n"
              "AP inner -1 x5 -> AP_VS_VAR_SET_ENGLISH -1700\n"
              "AP inner -1 x6 -> AP_VS_VAR_SET_ENGLISH -2300\n"
              "AP inner -1 x7 -> AP_VS_VAR_SET_ENGLISH -3000\n"
              "AP inner -1 x8 -> AP_VS_VAR_SET_ENGLISH -3800\n"
              "AP inner -1 x9 -> AP_VS_VAR_SET_ENGLISH -4700\n"
              "AP inner -1 x10 -> AP_VS_VAR_SET_ENGLISH -5700\n"
              "AP inner -20 x10..1 (127 steps) (cut to fit one event) -> AP_VS_VAR_SET_ENGLISH -18400\n"
              "mode NAV1\n"
              "NAV1 outer +1 -> NAV1_STBY_SET 0x11445\n");
}

// The first detent of a new connection is not part of the last one's run,
// however soon it comes: the whole program, with a simulator that quits and
// comes back (--keep-running) while the knob keeps turning.
TEST(AccelerationAcrossConnections, TheFirstDetentAfterAReconnectionMovesOneStep) {
    hid_double::reset();
    simconnect_double::reset();
    quitFlag = 0;
    simConnectHandle = nullptr;
    msfsInterface = FlightSimInterfaceMSFS{};
    panelState = PanelState{nullptr, false, &msfsInterface};
    fakeStep = 50ms;
    const auto block = [] {
        return std::vector<std::vector<unsigned char>>{simconnect_double::dataRecord(
            REQ_AUTOPILOT, simconnect_double::autopilotBlock(5000, 0, 0x1200, {0, 0, 0, 0, 0, 0}))};
    };
    auto& batches = simconnect_double::recorder().batches;
    batches.push_back(block());  // the first connection's data
    batches.push_back({});       // its first pass reads the spin
    batches.push_back({simconnect_double::plainRecord(SIMCONNECT_RECV_ID_QUIT, 12)});
    batches.push_back(block());  // the second connection's data
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(hid_double::queueRead(8, hid_double::report(1, 0, 1, 0, AP)));
    }
    // One more detent once the second connection is up; then stop.
    hid_double::panel().afterWait = [] {
        const auto& sc = simconnect_double::recorder();
        const auto opens = std::count(sc.calls.begin(), sc.calls.end(), simconnect_double::Call::Open);
        static bool turned = false;
        if (opens < 2) {
            turned = false;
        } else if (!turned) {
            turned = hid_double::queueRead(8, hid_double::report(1, 0, 1, 0, AP));
        } else if (sc.events.size() == 13) {
            quitFlag = 1;
        }
    };
    RunOptions options;
    options.keep_running = true;
    options.accelerate = true;
    panelAcceleration.clock = &steppingClock;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runPanel(panelState, msfsInterface, options), RunOutcome::Stopped);
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    panelAcceleration = PanelAcceleration{};
    quitFlag = 0;

    const auto& events = simconnect_double::recorder().events;
    ASSERT_EQ(events.size(), 13U);
    EXPECT_GT(events[11].data, 5000U + 12 * 100U);  // the first connection's spin was accelerated
    EXPECT_EQ(events[12].data, 5100U);
}

}  // namespace
