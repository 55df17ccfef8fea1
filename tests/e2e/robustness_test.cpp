// The panel and the link under real conditions: fast knobs against a
// simulator that reacts late, a panel unplugged and plugged again, and a
// simulator that is missing, killed or quits.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace {

constexpr int kReports = 200;

struct Spin {
    const char* name;
    std::vector<std::string> emulator_args;
    std::string prologue;  // selects the mode (and shift) before the spin
    std::string report;    // one detent
    const char* sim_event;
    const char* variable;
    // The value each event must carry, given the one before it.
    std::function<std::uint32_t(std::uint32_t)> next;
    std::uint32_t first_previous;  // the value before the spin, as the event would carry it
    std::function<double(std::uint32_t)> as_state;
};

void PrintTo(const Spin& c, std::ostream* os) { *os << c.name; }

std::uint32_t bcdToInt(std::uint32_t bcd) {
    std::uint32_t value = 0, scale = 1;
    for (; bcd != 0; bcd >>= 4, scale *= 10) value += (bcd & 0xF) * scale;
    return value;
}

std::uint32_t intToBcd(std::uint32_t value) {
    std::uint32_t bcd = 0;
    for (int shift = 0; value != 0; value /= 10, shift += 4) bcd |= (value % 10) << shift;
    return bcd;
}

std::uint32_t octalCodeToInt(std::uint32_t code) {
    std::uint32_t value = 0;
    for (int shift = 0; code != 0; code >>= 4, shift += 3) value += (code & 0xF) << shift;
    return value;
}

std::uint32_t intToOctalCode(std::uint32_t value) {
    std::uint32_t code = 0;
    for (int shift = 0; value != 0; value >>= 3, shift += 4) code |= (value & 7) << shift;
    return code;
}

const std::vector<Spin>& spins() {
    // clang-format off
    static const std::vector<Spin> all = {
        {"Nav1Outer", {"--set", "NAV STANDBY FREQUENCY:1=113.45"}, "report 2 0 0 0\n", "report 2 0 1 0\n",
         "NAV1_STBY_SET", "NAV STANDBY FREQUENCY:1",
         [](std::uint32_t prev) {
             std::uint32_t hundredths = bcdToInt(prev);
             std::uint32_t whole = hundredths / 100, frac = hundredths % 100;
             whole = whole == 117 ? 108 : whole + 1;
             return intToBcd(whole * 100 + frac);
         },
         0x11345, [](std::uint32_t v) { return bcdToInt(v) / 100.0; }},
        {"HeadingInner", {"--set", "AUTOPILOT HEADING LOCK DIR=100"}, "report 0 0x200 0 0\nreport 0 0 0 0\n",
         "report 0 0 0 1\n", "HEADING_BUG_SET", "AUTOPILOT HEADING LOCK DIR",
         [](std::uint32_t prev) { return prev + 1 > 360 ? prev + 1 - 360 : prev + 1; }, 100,
         [](std::uint32_t v) { return static_cast<double>(v % 360); }},
        {"AltitudeOuter", {"--set", "AUTOPILOT ALTITUDE LOCK VAR=5000"}, "report 6 0 0 0\n", "report 6 0 1 0\n",
         "AP_ALT_VAR_SET_ENGLISH", "AUTOPILOT ALTITUDE LOCK VAR",
         [](std::uint32_t prev) { return prev + 100; }, 5000,
         [](std::uint32_t v) { return static_cast<double>(v); }},
        {"TransponderInner", {"--set", "TRANSPONDER CODE:1=0x1200"}, "report 7 0 0 0\n", "report 7 0 0 1\n",
         "XPNDR_SET", "TRANSPONDER CODE:1",
         [](std::uint32_t prev) { return intToOctalCode((octalCodeToInt(prev) + 1) % 4096); }, 0x1200,
         [](std::uint32_t v) { return static_cast<double>(v); }},
    };
    // clang-format on
    return all;
}

class FastSpin : public ::testing::TestWithParam<Spin> {};

// 200 single-detent reports at 200 a second, five times what one report per
// pass could take, against a simulator that applies events two frames late:
// every detent arrives, each one step on from the one before.
TEST_P(FastSpin, EveryDetentArrivesOneStepOnFromTheLast) {
    const Spin& s = GetParam();
    e2e::RunOptions options;
    options.emulator_args = s.emulator_args;
    options.emulator_args.insert(options.emulator_args.end(), {"--event-delay-frames", "2"});
    options.script = "wait 200\n" + s.prologue + "wait 200\n";
    for (int i = 0; i < kReports; ++i) options.script += s.report + "wait 5\n";
    options.linger_ms = 600;
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;

    auto tx = r.transmits();
    ASSERT_EQ(tx.size(), static_cast<std::size_t>(kReports));
    std::uint32_t expected = s.first_previous;
    for (int i = 0; i < kReports; ++i) {
        expected = s.next(expected);
        ASSERT_EQ(tx[i].str("sim_event"), s.sim_event);
        ASSERT_EQ(static_cast<std::uint32_t>(tx[i].num("data")), expected) << "detent " << i + 1;
    }
    ASSERT_TRUE(r.state.has_value());
    EXPECT_NEAR(r.state->real(s.variable), s.as_state(expected), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, FastSpin, ::testing::ValuesIn(spins()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Replug, KnobTurnsAfterReplugReachTheSimulatorAndTheLedsAreRewritten) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "AUTOPILOT MASTER=1", "--set", "NAV STANDBY FREQUENCY:1=113.45"};
    options.script =
        "wait 300\n"
        "report 2 0 1 0\n"
        "wait 200\n"
        "unplug\n"
        "wait 300\n"
        "plug\n"
        "wait 1500\n"
        "report 2 0 1 0\n"
        "wait 300\n";
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    auto tx = r.transmits();
    ASSERT_EQ(tx.size(), 2u);
    EXPECT_EQ(tx[0].num("data"), 0x11445);
    EXPECT_EQ(tx[1].num("data"), 0x11545);
    // Written at the first open (before any data: off), when the data lights
    // the master, again at the re-open, and turned off at exit.
    std::vector<std::string> expected = {"0b 00", "0b 01", "0b 01", "0b 00"};
    EXPECT_EQ(r.leds, expected);
    // Each change of the panel said once, however many retries it took.
    const auto said = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = r.panel_stderr.find(what); at != std::string::npos; at = r.panel_stderr.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(said("msfs-panel: panel opened (virtual-panel)\n"), 2U) << r.panel_stderr;
    EXPECT_EQ(said("msfs-panel: panel unplugged"), 1U) << r.panel_stderr;
    EXPECT_EQ(said("no panel found"), 0U) << r.panel_stderr;
}

TEST(Replug, AReopenedPanelHasItsLedsClearedEvenWithEveryStateOff) {
    e2e::RunOptions options;
    options.script =
        "wait 200\n"
        "unplug\n"
        "wait 300\n"
        "plug\n"
        "wait 1500\n"
        "report 0 0x4000 0 0\n"
        "wait 200\n";
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    // Off at the first open and at the re-open, so that LEDs left lit by an
    // earlier run go dark; then the master; then off at exit.
    std::vector<std::string> expected = {"0b 00", "0b 00", "0b 01", "0b 00"};
    EXPECT_EQ(r.leds, expected);
    auto tx = r.transmits();
    ASSERT_EQ(tx.size(), 1u);
    EXPECT_EQ(tx[0].str("sim_event"), "AP_MASTER");
}

// A panel that refuses the LED report (a firmware without it) is still read:
// only a read error means the panel is gone. Once it accepts the report
// again, it gets the LEDs it should show within about a second, changed or not.
TEST(Leds, APanelThatRefusesTheLedReportIsStillReadAndGetsItsLedsOnceItAccepts) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "NAV STANDBY FREQUENCY:1=113.45"};
    options.script =
        "leds fail\n"
        "wait 300\n"
        "report 0 0x4000 0 0\n"  // AP master on: a new LED byte, refused
        "wait 200\n"
        "report 2 0 1 0\n"
        "wait 200\n"
        "report 2 0 1 0\n"
        "wait 2500\n"
        "leds ok\n"
        "wait 1300\n";
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    std::vector<std::string> events;
    for (const auto& tx : r.transmits()) events.push_back(tx.str("sim_event") + " " + std::to_string(tx.num("data")));
    EXPECT_EQ(events, (std::vector<std::string>{"AP_MASTER 0", "NAV1_STBY_SET 70725", "NAV1_STBY_SET 70981"}));
    // What reached the panel: perhaps the byte of the open (before the script
    // began refusing), then the master once it accepts, dark at the exit.
    EXPECT_EQ(std::vector<std::string>(r.leds.end() - std::min<std::ptrdiff_t>(2, std::ssize(r.leds)), r.leds.end()),
              (std::vector<std::string>{"0b 01", "0b 00"}));
    EXPECT_EQ(r.panel_stderr.find("unplugged"), std::string::npos) << r.panel_stderr;
    const auto said = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = r.panel_stderr.find(what); at != std::string::npos; at = r.panel_stderr.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(said("msfs-panel: the panel refuses the LED report (write failed: hid_write(virtual panel): write "
                   "failed (the panel's script says leds fail)); trying again about once a second\n"),
              1U)
        << r.panel_stderr;
    EXPECT_EQ(said("msfs-panel: the panel accepts the LED report again\n"), 1U) << r.panel_stderr;
}

// A simulator that clamps the vertical speed never shows what it is sent: its
// value wins half a second after the oldest value it has not shown, however
// fast the knob keeps turning, so the program cannot run far ahead of it.
TEST(Hold, ASimulatorThatClampsATargetIsFollowedWithinHalfASecond) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "AUTOPILOT VERTICAL HOLD VAR=1900", "--limit",
                             "AUTOPILOT VERTICAL HOLD VAR=-2000:2000"};
    options.script = "wait 300\nreport 6 0 0 0\nwait 100\n";
    for (int i = 0; i < 20; ++i) options.script += (i == 0 ? "" : "wait 100\n") + std::string("report 6 0 0 1\n");
    options.script += "report 6 0 0 -1\nwait 300\n";
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    std::vector<std::int32_t> sent;
    for (const auto& tx : r.transmits()) {
        if (tx.str("sim_event") == "AP_VS_VAR_SET_ENGLISH") sent.push_back(static_cast<std::int32_t>(tx.num("data")));
    }
    ASSERT_EQ(sent.size(), 21U);
    // The limit plus what half a second of turning adds.
    EXPECT_LE(*std::max_element(sent.begin(), sent.end()), 2600);
    EXPECT_LE(sent.back(), 2500);
    ASSERT_TRUE(r.state.has_value());
    EXPECT_LE(r.state->real("AUTOPILOT VERTICAL HOLD VAR"), 2000.0);
}

TEST(Link, NoSimulatorListeningEndsWithStatusOneAndSaysWhere) {
    e2e::RunOptions options;
    options.start_emulator = false;
    options.script = "wait 100\n";
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 1);
    EXPECT_EQ(r.panel_stdout, "");
    EXPECT_NE(r.panel_stderr.find("127.0.0.1"), std::string::npos) << r.panel_stderr;
}

TEST(Link, SimulatorKilledMidRunEndsWithStatusOneAndAMessage) {
    e2e::RunOptions options;
    options.script = "wait 5000\n";
    options.stop_emulator_after_ms = 800;
    options.stop_emulator_signal = SIGKILL;
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 1);
    EXPECT_EQ(r.panel_stdout, "Connected to MSFS2020\n");
    // Said once, when it happened, in one clause: where, and why.
    const std::string lost = "msfs-panel: connection to 127.0.0.1:";
    const auto at = r.panel_stderr.find(lost);
    ASSERT_NE(at, std::string::npos) << r.panel_stderr;
    EXPECT_EQ(r.panel_stderr.find(lost, at + 1), std::string::npos) << r.panel_stderr;
    const std::string line = r.panel_stderr.substr(at, r.panel_stderr.find('\n', at) - at);
    EXPECT_EQ(line.find(" lost"), line.rfind(" lost")) << line;
}

// Without --keep-running too, the simulator's quit is said: the program
// ends, status 0, and a user reading the console sees why. So too when the
// knob is being turned as it quits, and the program's sends meet the closed
// connection before its next read takes the QUIT.
TEST(Link, SimulatorQuittingEndsTheProgramWithStatusZeroAndSaysSo) {
    std::string turning = "wait 100\n";
    for (int i = 0; i < 600; ++i) turning += "report 2 0 1 0\nwait 3\n";
    for (const std::string& script : {std::string("wait 5000\n"), turning}) {
        SCOPED_TRACE(script.size() > 20 ? "turning" : "idle");
        e2e::RunOptions options;
        options.script = script;
        options.stop_emulator_after_ms = 800;
        options.stop_emulator_signal = SIGTERM;
        e2e::RunResult r = e2e::run(options);
        EXPECT_EQ(r.panel_status, 0);
        EXPECT_EQ(r.panel_stdout, "Connected to MSFS2020\n");
        EXPECT_EQ(r.emulator_status, 0);
        EXPECT_NE(r.panel_stderr.find("msfs-panel: the simulator quit\n"), std::string::npos) << r.panel_stderr;
    }
}

}  // namespace
