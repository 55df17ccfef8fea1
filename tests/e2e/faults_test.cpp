// The program in a hostile world: a simulator that is slow to send its first
// data, that swaps a frequency the program still holds, that freezes, that
// hangs up at once; a panel that refuses its LEDs; standard streams closed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::string> events(const e2e::RunResult& r) {
    std::vector<std::string> out;
    for (const auto& tx : r.transmits()) out.push_back(tx.str("sim_event") + " " + std::to_string(tx.num("data")));
    return out;
}

// Turns made before the simulator's first data block are computed from what
// it shows when the block comes, not from an empty cache (100 ft, 0001).
TEST(FirstData, TurnsBeforeTheFirstBlockAreAppliedOnTopOfIt) {
    e2e::RunOptions options;
    // The script starts as the program opens the panel, before it connects;
    // the simulator streams nothing in the first 600 ms after the Open.
    options.emulator_args = {"--data-after-ms", "600"};
    options.script =
        "report 6 0 1 0\n"      // AP: altitude +100
        "report 7 0 0 1\n"      // XPDR: last digit +1
        "report 0 0x200 0 0\n"  // COM1: shift on
        "report 0 0 1 0\n"      // COM1 shift: heading bug +10 (relative events go out at once)
        "report 1 0 1 0\n"      // COM2: whole MHz +1, a relative event
        "wait 1500\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    // The COM event first: it needs no data and went out at once.
    EXPECT_EQ(events(r), (std::vector<std::string>{"COM2_RADIO_WHOLE_INC 1", "AP_ALT_VAR_SET_ENGLISH 5100",
                                                   "XPNDR_SET 4609", "HEADING_BUG_SET 280"}))
        << r.panel_stderr;
    ASSERT_TRUE(r.state.has_value());
    EXPECT_EQ(r.state->real("AUTOPILOT ALTITUDE LOCK VAR"), 5100.0);
    EXPECT_EQ(r.state->real("TRANSPONDER CODE:1"), 0x1201);
    EXPECT_EQ(r.state->real("AUTOPILOT HEADING LOCK DIR"), 280.0);
    EXPECT_FALSE(contains(r.panel_stderr, "dropped")) << r.panel_stderr;
}

// A simulator that answers but sends no data: the turns that need it are
// dropped after 2 s, said once; nothing computed from nothing is sent.
TEST(FirstData, WithoutAnyDataTheTurnsAreDroppedAndSaidOnce) {
    e2e::RunOptions options;
    options.emulator_args = {"--data-after-ms", "60000"};
    options.script =
        "report 6 0 1 0\n"
        "report 6 0 1 0\n"
        "report 2 0 0 1\n"
        "wait 2600\n"
        "report 6 0 1 0\n"  // after the first were dropped
        "report 0 0 0 1\n"  // COM1 fraction +1: out at once
        "wait 2300\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(events(r), (std::vector<std::string>{"COM_RADIO_FRACT_INC 1"}));
    EXPECT_EQ(count(r.panel_stderr, "msfs-panel: knob turns dropped: "), 1U) << r.panel_stderr;
    ASSERT_TRUE(r.state.has_value());
    EXPECT_EQ(r.state->real("AUTOPILOT ALTITUDE LOCK VAR"), 5000.0);
}

// A NAV detent, then the swap before a block has shown the new standby, then
// another detent: the swap made the held standby the active frequency, and
// the next detent builds on the standby the simulator now has.
TEST(Swap, ADetentAfterASwapBuildsOnTheSwappedInStandby) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "NAV STANDBY FREQUENCY:1=113.45", "--set", "NAV ACTIVE FREQUENCY:1=110.10"};
    options.script =
        "wait 800\n"
        "report 2 0 1 0\n"
        "report 2 0x100 0 0\n"
        "report 2 0 0 0\n"
        "wait 150\n"
        "report 2 0 0 1\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(events(r), (std::vector<std::string>{"NAV1_STBY_SET 70725", "NAV1_RADIO_SWAP 0", "NAV1_STBY_SET 69653"}));
    ASSERT_TRUE(r.state.has_value());
    EXPECT_NEAR(r.state->real("NAV STANDBY FREQUENCY:1"), 110.15, 1e-6);
    EXPECT_NEAR(r.state->real("NAV ACTIVE FREQUENCY:1"), 114.45, 1e-6);
}

}  // namespace
