// Each panel operation of the real program, end to end: the events the
// emulator receives and the state it ends in.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

struct Sent {
    std::string sim_event;
    std::uint32_t data;
};

struct StateValue {
    std::string variable;
    double value;
};

struct Case {
    const char* name;
    std::vector<std::string> emulator_args;
    std::string script;
    std::vector<Sent> sent;
    std::vector<StateValue> state;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// Reports are spaced so that the simulator's data has caught up before the
// next one; several reports in a burst are a robustness matter, tested apart.
const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"Com1WholeThenFraction",
         {"--set", "COM STANDBY FREQUENCY:1=118.000"},
         "report 0 0 2 -3\nwait 150\n",
         {{"COM_RADIO_WHOLE_INC", 1},
          {"COM_RADIO_WHOLE_INC", 1},
          {"COM_RADIO_FRACT_DEC", 1},
          {"COM_RADIO_FRACT_DEC", 1},
          {"COM_RADIO_FRACT_DEC", 1}},
         {{"COM STANDBY FREQUENCY:1", 120.925}}},
        {"Com2SwapOnlyWithShiftClear",
         {"--set", "COM ACTIVE FREQUENCY:2=121.500", "--set", "COM STANDBY FREQUENCY:2=118.300"},
         "report 1 0 0 1\nwait 100\nreport 1 0x100 0 0\nwait 100\nreport 1 0 0 0\nwait 100\n",
         {{"COM2_RADIO_FRACT_INC", 1}, {"COM2_RADIO_SWAP", 0}},
         {{"COM ACTIVE FREQUENCY:2", 118.325}, {"COM STANDBY FREQUENCY:2", 121.5}}},
        {"Nav1StandbyWrapsAndSwaps",
         {"--set", "NAV STANDBY FREQUENCY:1=117.45", "--set", "NAV ACTIVE FREQUENCY:1=110.50"},
         "report 2 0 1 0\nwait 150\nreport 2 0 0 -10\nwait 150\nreport 2 0x100 0 0\nwait 150\n"
         "report 2 0 0 0\nwait 100\n",
         {{"NAV1_STBY_SET", 0x10845}, {"NAV1_STBY_SET", 0x10895}, {"NAV1_RADIO_SWAP", 0}},
         {{"NAV ACTIVE FREQUENCY:1", 108.95}, {"NAV STANDBY FREQUENCY:1", 110.5}}},
        {"Nav2InnerWrapsWithoutCarry",
         {"--set", "NAV STANDBY FREQUENCY:2=113.95"},
         "report 3 0 0 1\nwait 150\n",
         {{"NAV2_STBY_SET", 0x11300}},
         {{"NAV STANDBY FREQUENCY:2", 113.0}}},
        {"HeadingBugWithShiftInCom1",
         {"--set", "AUTOPILOT HEADING LOCK DIR=355"},
         "report 0 0x200 0 0\nwait 100\nreport 0 0 0 0\nwait 100\nreport 0 0 1 0\nwait 150\n"
         "report 0 0 0 -6\nwait 150\n",
         {{"HEADING_BUG_SET", 5}, {"HEADING_BUG_SET", 359}},
         {{"AUTOPILOT HEADING LOCK DIR", 359}}},
        {"CourseTwoWithShiftInNav2",
         {"--set", "NAV OBS:2=90"},
         "report 3 0x200 0 0\nwait 100\nreport 3 0 -1 2\nwait 150\n",
         {{"VOR2_SET", 82}},
         {{"NAV OBS:2", 82}}},
        {"AltitudeThenVerticalSpeed",
         {"--set", "AUTOPILOT ALTITUDE LOCK VAR=5000", "--set", "AUTOPILOT VERTICAL HOLD VAR=0"},
         "report 6 0 3 -5\nwait 150\n",
         {{"AP_ALT_VAR_SET_ENGLISH", 5300}, {"AP_VS_VAR_SET_ENGLISH", 0xFFFFFE0C}},
         {{"AUTOPILOT ALTITUDE LOCK VAR", 5300}, {"AUTOPILOT VERTICAL HOLD VAR", -500}}},
        {"TransponderCountsInOctal",
         {"--set", "TRANSPONDER CODE:1=0x1277"},
         "report 7 0 0 1\nwait 150\nreport 7 0 1 0\nwait 150\n",
         {{"XPNDR_SET", 0x1300}, {"XPNDR_SET", 0x1400}},
         {{"TRANSPONDER CODE:1", 0x1400}}},
        {"TransponderIdleWithShift",
         {"--set", "TRANSPONDER CODE:1=0x1200"},
         "report 7 0x200 0 0\nwait 100\nreport 7 0 5 5\nwait 150\n",
         {},
         {{"TRANSPONDER CODE:1", 0x1200}}},
        {"BarometerAndStandardPressureInCom2",
         {"--set", "KOHLSMAN SETTING HG=29.50"},
         "report 1 0x200 0 0\nwait 100\nreport 1 0 -3 0\nwait 150\nreport 1 0x100 0 0\nwait 150\n",
         {{"KOHLSMAN_DEC", 1}, {"BAROMETRIC_STD_PRESSURE", 0}},
         {{"KOHLSMAN SETTING HG", 29.92}}},
        {"AutopilotButtonsInAnyRadioMode",
         {},
         "report 0 0xFC000 0 0\nwait 150\nreport 0 0 0 0\nwait 100\n",
         {{"AP_MASTER", 0},
          {"AP_PANEL_HEADING_HOLD", 0},
          {"AP_NAV1_HOLD", 0},
          {"AP_APR_HOLD", 0},
          {"AP_PANEL_ALTITUDE_HOLD", 0},
          {"AP_PANEL_VS_HOLD", 0}},
         {{"AUTOPILOT MASTER", 1}, {"AUTOPILOT VERTICAL HOLD", 1}}},
        {"Fms1KnobsAndKeys",
         {},
         "report 4 0 5 -3\nwait 100\nreport 4 0x4080 0 0\nwait 100\nreport 4 0 0 0\nwait 100\n",
         {{"MobiFlight.AS530_RightLargeKnob_Right", 1},
          {"MobiFlight.AS1000_PFD_FMS_Lower_INC", 1},
          {"MobiFlight.AS530_RightSmallKnob_Left", 1},
          {"MobiFlight.AS1000_PFD_FMS_Upper_DEC", 1},
          {"TOGGLE_GPS_DRIVES_NAV1", 0},
          {"", 0},
          {"MobiFlight.AS530_ENT_Push", 0},
          {"MobiFlight.AS1000_PFD_ENT_Push", 0}},
         {{"GPS DRIVES NAV1", 1}}},
        {"Fms2KnobPushIsAKey",
         {},
         "report 5 0x200 0 1\nwait 100\nreport 5 0 0 0\nwait 100\n",
         {{"MobiFlight.AS430_RightSmallKnob_Right", 1},
          {"MobiFlight.AS1000_MFD_FMS_Upper_INC", 1},
          {"MobiFlight.AS430_RightSmallKnob_Push", 0},
          {"MobiFlight.AS1000_MFD_FMS_Upper_PUSH", 0}},
         {}},
    };
    return all;
}

class Operation : public ::testing::TestWithParam<Case> {};

TEST_P(Operation, SendsItsEventsAndTheSimulatorFollows) {
    const Case& c = GetParam();
    e2e::RunOptions options;
    options.emulator_args = c.emulator_args;
    options.script = "wait 100\n" + c.script;
    e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;

    auto tx = r.transmits();
    ASSERT_EQ(tx.size(), c.sent.size());
    for (std::size_t i = 0; i < tx.size(); ++i) {
        EXPECT_EQ(tx[i].str("sim_event"), c.sent[i].sim_event) << "event " << i;
        EXPECT_EQ(tx[i].num("data"), c.sent[i].data) << "event " << i;
        EXPECT_EQ(tx[i].num("object"), 0);
        EXPECT_EQ(tx[i].num("group"), 1);
        EXPECT_EQ(tx[i].num("flags"), 16);
    }
    ASSERT_TRUE(r.state.has_value()) << "no state written by the emulator";
    for (const auto& s : c.state) {
        EXPECT_NEAR(r.state->real(s.variable), s.value, 1e-6) << s.variable;
    }
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Operation, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
