// The FMS modes through the MobiFlight module's channel, end to end: the real
// program against sim-emulator playing the module (--mobiflight) or not, and
// playing MSFS 2024 (--sim 2024). The start-up stays the golden one in each.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "startup_golden.h"

namespace {

using Strings = std::vector<std::string>;

// Time for the channel to come up (a few passes and frames) before the first
// report: until then the keys still go out as custom events.
constexpr const char* kChannelUp = "wait 1500\n";
// FMS1 is mode 4; Direct-To is button bit 4.
constexpr const char* kDirectToTwice =
    "report 4 0x10 0 0\nwait 100\nreport 4 0 0 0\nwait 100\nreport 4 0x10 0 0\nwait 100\nreport 4 0 0 0\nwait 200\n";

e2e::RunResult runWith(const std::string& script, const Strings& emulator_args = {}) {
    e2e::RunOptions options;
    options.script = script;
    options.emulator_args = emulator_args;
    return e2e::run(options);
}

Strings hEvents(const e2e::RunResult& r) {
    Strings names;
    for (const auto& line : r.trace) {
        if (line.str("call") == "HEvent") names.push_back(line.str("name"));
    }
    return names;
}

Strings transmittedMobiFlightEvents(const e2e::RunResult& r) {
    Strings names;
    for (const auto& line : r.transmits()) {
        if (line.str("sim_event").rfind("MobiFlight.", 0) == 0) names.push_back(line.str("sim_event"));
    }
    return names;
}

void expectGoldenStartUp(const e2e::RunResult& r) {
    EXPECT_EQ(golden::joined(golden::startupOf(r.trace_text)), golden::joined(golden::startup()));
    EXPECT_EQ(r.panel_stdout, "Connected to MSFS2020\n");
}

TEST(MobiFlight, DirectToTwiceRunsBothUnitsHEventsTwiceThroughTheChannel) {
    const e2e::RunResult r = runWith(std::string(kChannelUp) + kDirectToTwice, {"--mobiflight"});
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    expectGoldenStartUp(r);
    EXPECT_EQ(hEvents(r),
              (Strings{"AS530_DirectTo_Push", "AS1000_PFD_DIRECTTO", "AS530_DirectTo_Push", "AS1000_PFD_DIRECTTO"}));
    EXPECT_TRUE(transmittedMobiFlightEvents(r).empty());
    EXPECT_NE(r.panel_stderr.find("msfs-panel: MobiFlight WASM module 1.0.1 found: the FMS keys go through it\n"),
              std::string::npos)
        << r.panel_stderr;
    EXPECT_EQ(r.panel_stderr.find("no MobiFlight WASM module answered"), std::string::npos);
    EXPECT_EQ(r.panel_stderr.find("ClientData"), std::string::npos) << r.panel_stderr;
}

TEST(MobiFlight, WithoutTheModuleTheCustomEventsGoOutAsBeforeAndThatIsSaid) {
    // Past the answer time, so that the message is due.
    const e2e::RunResult r = runWith(std::string(kDirectToTwice) + "wait 3500\n");
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    expectGoldenStartUp(r);
    EXPECT_EQ(transmittedMobiFlightEvents(r),
              (Strings{"MobiFlight.AS530_DirectTo_Push", "MobiFlight.AS1000_PFD_DIRECTTO",
                       "MobiFlight.AS530_DirectTo_Push", "MobiFlight.AS1000_PFD_DIRECTTO"}));
    EXPECT_TRUE(hEvents(r).empty());
    const std::string said =
        "msfs-panel: no MobiFlight WASM module answered: the FMS1 and FMS2 knobs and keys will do nothing (see "
        "README: FMS modes)\n";
    const std::size_t at = r.panel_stderr.find(said);
    ASSERT_NE(at, std::string::npos) << r.panel_stderr;
    EXPECT_EQ(r.panel_stderr.find(said, at + 1), std::string::npos);
    // The channel's calls the simulator refused are not the user's concern.
    EXPECT_EQ(r.panel_stderr.find("ClientData"), std::string::npos) << r.panel_stderr;
}

TEST(MobiFlight, FiftyOneDetentReportsRunFiftyOfEachHEventNoneLostToTheChangeFilter) {
    std::string script = kChannelUp;
    for (int i = 0; i < 50; ++i) script += "report 4 0 1 0\n";
    script += "wait 300\n";
    const e2e::RunResult r = runWith(script, {"--mobiflight"});
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    expectGoldenStartUp(r);
    Strings expected;
    for (int i = 0; i < 50; ++i) {
        expected.push_back("AS530_RightLargeKnob_Right");
        expected.push_back("AS1000_PFD_FMS_Lower_INC");
    }
    EXPECT_EQ(hEvents(r), expected);
    EXPECT_TRUE(transmittedMobiFlightEvents(r).empty());
}

TEST(MobiFlight, MsfsTwentyTwentyFourIsNamedAndServed) {
    // NAV1 outer knob, once the first data has come: one megahertz up from
    // the emulator's standby.
    const e2e::RunResult r =
        runWith("wait 300\nreport 2 0 1 0\nwait 300\n", {"--sim", "2024", "--set", "NAV STANDBY FREQUENCY:1=113.45"});
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    expectGoldenStartUp(r);
    EXPECT_NE(
        r.panel_stderr.find("msfs-panel: simulator: Microsoft Flight Simulator 2024 (SunRise 12.1, SimConnect 12.1)\n"),
        std::string::npos)
        << r.panel_stderr;
    ASSERT_EQ(r.transmits().size(), 1U);
    EXPECT_EQ(r.transmits()[0].str("sim_event"), "NAV1_STBY_SET");
    EXPECT_EQ(r.transmits()[0].num("data"), 0x11445);
}

// A profile's H: event and RPN code through the channel, and its R: value
// lighting an LED: the RPN adds one to an L:var that the R: source reads.
TEST(MobiFlight, AProfileRunsHEventsAndRpnAndReadsRValuesThroughTheChannel) {
    const e2e::TempDir dir;
    const std::string profile = dir.path() + "/radio.toml";
    e2e::writeFile(
        profile,
        "match = [\"Emulated\"]\n[leds]\nAP = \"R:(L:PANEL_TEST)\"\n[COM1]\n"
        "swap = \"H:A32NX_RMP_L_TRANSFER_BUTTON_PRESSED\"\nouter.cw = \"RPN:(L:PANEL_TEST) 1 + (>L:PANEL_TEST)\"\n");
    e2e::RunOptions options;
    options.program_args = {"--profile", profile};
    options.emulator_args = {"--mobiflight"};
    options.script =
        std::string(kChannelUp) + "report 0 0x100 0 0\nwait 150\nreport 0 0 0 0\nwait 150\nreport 0 0 1 0\nwait 400\n";
    const e2e::RunResult r = e2e::run(options);
    ASSERT_EQ(r.panel_status, 0) << r.panel_stderr;
    expectGoldenStartUp(r);
    EXPECT_EQ(hEvents(r), (Strings{"A32NX_RMP_L_TRANSFER_BUTTON_PRESSED"}));
    EXPECT_TRUE(r.transmits().empty());
    ASSERT_FALSE(r.leds.empty());
    EXPECT_EQ(r.leds.front(), "0b 00");
    EXPECT_NE(std::find(r.leds.begin(), r.leds.end(), "0b 01"), r.leds.end()) << r.panel_stderr;
}

}  // namespace
