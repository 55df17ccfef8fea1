// Knob acceleration end to end: timed scripts through virtual-panel, the real
// program and the emulator. The machines are shared, so each property is
// judged by what no plausible delay can change: the first detents of a run,
// reversals and single slow detents exactly; fast spins by generous bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

// `count` reports in `mode` of `outer` and `inner` detents, `wait_ms` apart.
std::string turns(int count, int mode, int outer, int inner, int wait_ms) {
    std::string script;
    for (int i = 0; i < count; ++i) {
        script += "report " + std::to_string(mode) + " 0 " + std::to_string(outer) + " " + std::to_string(inner) +
                  "\nwait " + std::to_string(wait_ms) + "\n";
    }
    return script;
}

// The steps each event of `event` moved the value by (`step` per step), from
// `start` on; a wrapping value (`turn` > 0) the short way round.
std::vector<int> stepsOf(const e2e::RunResult& r, const std::string& event, std::int64_t start, int step,
                         int turn = 0) {
    std::vector<int> steps;
    std::int64_t previous = start;
    for (const minijson::Value& t : r.transmits()) {
        if (t.str("sim_event") != event) {
            continue;
        }
        const auto value = static_cast<std::int64_t>(static_cast<std::int32_t>(t.num("data")));
        std::int64_t moved = value - previous;
        if (turn > 0) {
            moved = ((moved % turn) + turn + turn / 2) % turn - turn / 2;
        }
        steps.push_back(static_cast<int>(moved / step));
        previous = value;
    }
    return steps;
}

std::vector<int> slice(const std::vector<int>& all, std::size_t from, std::size_t count) {
    return {all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

int sum(const std::vector<int>& steps) { return std::accumulate(steps.begin(), steps.end(), 0); }

constexpr int kFast = 30;  // detents of a fast spin, 50 ms apart

TEST(Acceleration, SlowTurnsStayExactFastOnesGoFarAndReversalsNeverOvershoot) {
    e2e::RunOptions options;
    options.program_args = {"--accelerate", "--verbose"};
    options.emulator_args = {"--set", "AUTOPILOT ALTITUDE LOCK VAR=20000"};
    options.script = "wait 100\nreport 6 0 0 0\nwait 500\n" + turns(5, 6, 1, 0, 350) +
                     "wait 100\n" +                           // 1: slow, one step each
                     turns(kFast, 6, 1, 0, 50) +              // 2, 3: fast
                     turns(3, 6, -1, 0, 50) + "wait 350\n" +  // 4: straight back
                     turns(1, 6, 3, 0, 400) +                 // 5: three detents in one report
                     turns(10, 6, 1, 0, 50) +                 // 5: a fast spin, a mode change, back
                     "report 2 0 0 0\nwait 30\nreport 6 0 0 0\nwait 30\n" + turns(1, 6, 1, 0, 300);
    options.timeout_s = 60;
    const e2e::RunResult r = e2e::run(options);
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;

    const std::vector<int> steps = stepsOf(r, "AP_ALT_VAR_SET_ENGLISH", 20000, 100);
    // 6: one event per report, whatever its weight.
    ASSERT_EQ(steps.size(), 5U + kFast + 3 + 1 + 10 + 1) << r.panel_stderr;
    EXPECT_EQ(slice(steps, 0, 5), std::vector<int>(5, 1));

    const std::vector<int> fast = slice(steps, 5, kFast);
    EXPECT_EQ(slice(fast, 0, 3), std::vector<int>(3, 1));
    EXPECT_GE(sum(fast), 4 * kFast) << testing::PrintToString(fast);
    EXPECT_LE(*std::max_element(fast.begin(), fast.end()), 10) << testing::PrintToString(fast);

    EXPECT_EQ(slice(steps, 5 + kFast, 3), std::vector<int>(3, -1));
    EXPECT_EQ(steps[5 + kFast + 3], 3);
    EXPECT_EQ(steps.back(), 1) << "the first detent after a mode change";

    // --verbose says each weight, and it is the one the event moved by.
    const std::string prefix = "AP outer +1 x";
    const std::string middle = " -> AP_ALT_VAR_SET_ENGLISH ";
    int weighed = 0;
    std::istringstream said(r.panel_stderr);
    for (std::string text; std::getline(said, text);) {
        const std::size_t arrow = text.find(middle);
        if (text.rfind(prefix, 0) != 0 || arrow == std::string::npos) {
            continue;
        }
        ++weighed;
        const std::string value = text.substr(arrow + middle.size());
        EXPECT_NE(r.trace_text.find("\"data\":" + value), std::string::npos) << text;
        EXPECT_GE(std::atoi(text.c_str() + prefix.size()), 2) << text;
    }
    EXPECT_GE(weighed, 5) << r.panel_stderr;
}

TEST(Acceleration, HeadingSpinsFarAndStaysWithinATurn) {
    e2e::RunOptions options;
    options.program_args = {"--accelerate"};
    options.emulator_args = {"--set", "AUTOPILOT HEADING LOCK DIR=350"};
    options.script = "wait 100\nreport 0 0x200 0 0\nwait 30\nreport 0 0 0 0\nwait 500\n" + turns(kFast, 0, 1, 0, 50);
    const e2e::RunResult r = e2e::run(options);
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    const std::vector<int> steps = stepsOf(r, "HEADING_BUG_SET", 350, 10, 360);
    ASSERT_EQ(steps.size(), static_cast<std::size_t>(kFast));
    EXPECT_EQ(slice(steps, 0, 3), std::vector<int>(3, 1));
    for (const minijson::Value& t : r.transmits()) {
        EXPECT_LE(t.num("data"), 360U);
    }
    // Further than the detents alone; the simulator ends where the last
    // event said.
    EXPECT_GT(sum(steps), kFast) << testing::PrintToString(steps);
    ASSERT_TRUE(r.state.has_value());
    EXPECT_DOUBLE_EQ(r.state->real("AUTOPILOT HEADING LOCK DIR"),
                     static_cast<double>(r.transmits().back().num("data")));
}

TEST(Acceleration, WithoutTheOptionFastTurnsMoveOneStepPerDetent) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "AUTOPILOT ALTITUDE LOCK VAR=20000"};
    options.script = "wait 100\nreport 6 0 0 0\nwait 500\n" + turns(kFast, 6, 1, 0, 50) + turns(kFast, 6, 0, -1, 20);
    const e2e::RunResult r = e2e::run(options);
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(stepsOf(r, "AP_ALT_VAR_SET_ENGLISH", 20000, 100), std::vector<int>(kFast, 1));
    EXPECT_EQ(stepsOf(r, "AP_VS_VAR_SET_ENGLISH", 0, 100), std::vector<int>(kFast, -1));
}

// A profile for an aircraft that accelerates by itself says so, and wins
// over the option; one knob can be left out alone.
TEST(Acceleration, AProfileThatSaysNoWinsOverTheOptionForTheAircraftOrOneKnob) {
    struct Case {
        const char* profile;
        bool inner_accelerated;  // the vertical speed knob; the altitude knob never is
    };
    const Case cases[] = {
        {"name = \"Accelerates itself\"\naccelerate = false\n", false},
        {"name = \"Not the altitude\"\n[AP]\nouter.accelerate = false\n", true},
    };
    for (const Case& c : cases) {
        e2e::TempDir dir;
        const std::string profile = dir.path() + "/profile.toml";
        e2e::writeFile(profile, c.profile);
        e2e::RunOptions options;
        options.program_args = {"--accelerate", "--profile", profile};
        options.emulator_args = {"--set", "AUTOPILOT ALTITUDE LOCK VAR=20000"};
        options.script =
            "wait 100\nreport 6 0 0 0\nwait 500\n" + turns(kFast, 6, 1, 0, 50) + turns(kFast, 6, 0, -1, 50);
        options.timeout_s = 60;
        const e2e::RunResult r = e2e::run(options);
        ASSERT_EQ(r.panel_status, 0) << c.profile << r.panel_stderr;
        EXPECT_EQ(stepsOf(r, "AP_ALT_VAR_SET_ENGLISH", 20000, 100), std::vector<int>(kFast, 1)) << c.profile;
        const std::vector<int> inner = stepsOf(r, "AP_VS_VAR_SET_ENGLISH", 0, 100);
        ASSERT_EQ(inner.size(), static_cast<std::size_t>(kFast)) << c.profile << r.panel_stderr;
        if (c.inner_accelerated) {
            EXPECT_LE(sum(inner), -4 * kFast) << c.profile << testing::PrintToString(inner);
        } else {
            EXPECT_EQ(inner, std::vector<int>(kFast, -1)) << c.profile;
        }
    }
}

}  // namespace
