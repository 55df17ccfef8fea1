// Start-up and LEDs of the real program against the emulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "startup_golden.h"

namespace {

TEST(Startup, OpensMapsDefinesAndRequestsInOrderThenPrintsItsLine) {
    e2e::RunOptions options;
    options.script = "wait 100\n";
    e2e::RunResult r = e2e::run(options);

    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(r.panel_stdout, "Connected to MSFS2020\n");
    EXPECT_EQ(golden::joined(golden::startupOf(r.trace_text)), golden::joined(golden::startup()));
    // Nothing was pressed: no event; with every autopilot state off the LEDs
    // are only cleared at the open and at the exit, never lit.
    EXPECT_TRUE(r.transmits().empty());
    EXPECT_EQ(r.leds, (std::vector<std::string>{"0b 00", "0b 00"}));
    // MSFS, like the emulator, knows no TOGGLE_GPS_DRIVES_NAV2: its
    // exception is traced back to the mapping and said as what it means.
    EXPECT_NE(r.panel_stderr.find("msfs-panel: the AP/CDI button does nothing in FMS2: MSFS has no "
                                  "TOGGLE_GPS_DRIVES_NAV2 event (a gap in MSFS, not in your set-up)\n"),
              std::string::npos)
        << r.panel_stderr;
    EXPECT_EQ(r.panel_stderr.find("rejected"), std::string::npos) << r.panel_stderr;
}

TEST(Leds, FollowTheAutopilotStateTheSimulatorReports) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "AUTOPILOT MASTER=1", "--set", "AUTOPILOT ALTITUDE LOCK=1"};
    // NAV1 mode, then the HDG button pressed and released, then ALT.
    options.script =
        "wait 150\n"
        "report 2 0x8000 0 0\n"
        "wait 150\n"
        "report 2 0 0 0\n"
        "wait 100\n"
        "report 2 0x40000 0 0\n"
        "wait 150\n"
        "report 2 0 0 0\n"
        "wait 150\n";
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    // Dark at the open, before any data; master and altitude lock from the
    // first data (bits 0 and 4); heading hold joins (bit 1); altitude hold is
    // toggled off again; dark at the exit.
    std::vector<std::string> expected = {"0b 00", "0b 11", "0b 13", "0b 03", "0b 00"};
    EXPECT_EQ(r.leds, expected);
    auto tx = r.transmits();
    ASSERT_EQ(tx.size(), 2u);
    EXPECT_EQ(tx[0].str("sim_event"), "AP_PANEL_HEADING_HOLD");
    EXPECT_EQ(tx[1].str("sim_event"), "AP_PANEL_ALTITUDE_HOLD");
    ASSERT_TRUE(r.state.has_value());
    EXPECT_EQ(r.state->num("AUTOPILOT HEADING LOCK"), 1);
    EXPECT_EQ(r.state->num("AUTOPILOT ALTITUDE LOCK"), 0);
}

}  // namespace
