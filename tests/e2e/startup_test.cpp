// Start-up and LEDs of the real program against the emulator.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

// The simulator event names the program must map, by client event ID.
const char* const kEventNames[91] = {
    "COM_STBY_RADIO_SET", "COM2_STBY_RADIO_SET", "NAV1_STBY_SET", "NAV2_STBY_SET", "HEADING_BUG_SET",
    "VOR1_SET", "VOR2_SET", "XPNDR_SET", "AP_ALT_VAR_SET_ENGLISH", "AP_VS_VAR_SET_ENGLISH", "KOHLSMAN_INC",
    "KOHLSMAN_DEC", "COM_RADIO_WHOLE_INC", "COM_RADIO_WHOLE_DEC", "COM_RADIO_FRACT_INC",
    "COM_RADIO_FRACT_DEC", "COM2_RADIO_WHOLE_INC", "COM2_RADIO_WHOLE_DEC", "COM2_RADIO_FRACT_INC",
    "COM2_RADIO_FRACT_DEC", "MobiFlight.AS530_RightLargeKnob_Right", "MobiFlight.AS530_RightLargeKnob_Left",
    "MobiFlight.AS530_RightSmallKnob_Right", "MobiFlight.AS530_RightSmallKnob_Left",
    "MobiFlight.AS430_RightLargeKnob_Right", "MobiFlight.AS430_RightLargeKnob_Left",
    "MobiFlight.AS430_RightSmallKnob_Right", "MobiFlight.AS430_RightSmallKnob_Left",
    "MobiFlight.AS1000_PFD_FMS_Lower_INC", "MobiFlight.AS1000_PFD_FMS_Lower_DEC",
    "MobiFlight.AS1000_PFD_FMS_Upper_INC", "MobiFlight.AS1000_PFD_FMS_Upper_DEC",
    "MobiFlight.AS1000_MFD_FMS_Lower_INC", "MobiFlight.AS1000_MFD_FMS_Lower_DEC",
    "MobiFlight.AS1000_MFD_FMS_Upper_INC", "MobiFlight.AS1000_MFD_FMS_Upper_DEC",
    "MobiFlight.AS530_RightSmallKnob_Push", "MobiFlight.AS530_DirectTo_Push", "MobiFlight.AS530_MENU_Push",
    "MobiFlight.AS530_CLR_Push", "MobiFlight.AS530_ENT_Push", "TOGGLE_GPS_DRIVES_NAV1",
    "MobiFlight.AS530_OBS_Push", "MobiFlight.AS530_MSG_Push", "MobiFlight.AS530_FPL_Push",
    "MobiFlight.AS530_VNAV_Push", "MobiFlight.AS530_PROC_Push", "MobiFlight.AS430_RightSmallKnob_Push",
    "MobiFlight.AS430_DirectTo_Push", "MobiFlight.AS430_MENU_Push", "MobiFlight.AS430_CLR_Push",
    "MobiFlight.AS430_ENT_Push", "TOGGLE_GPS_DRIVES_NAV2", "MobiFlight.AS430_OBS_Push",
    "MobiFlight.AS430_MSG_Push", "MobiFlight.AS430_FPL_Push", "MobiFlight.AS430_VNAV_Push",
    "MobiFlight.AS430_PROC_Push", "MobiFlight.AS1000_PFD_FMS_Upper_PUSH", "MobiFlight.AS1000_PFD_DIRECTTO",
    "MobiFlight.AS1000_PFD_MENU_Push", "MobiFlight.AS1000_PFD_CLR", "MobiFlight.AS1000_PFD_ENT_Push", "", "",
    "", "MobiFlight.AS1000_PFD_FPL_Push", "", "MobiFlight.AS1000_PFD_PROC_Push",
    "MobiFlight.AS1000_MFD_FMS_Upper_PUSH", "MobiFlight.AS1000_MFD_DIRECTTO", "MobiFlight.AS1000_MFD_MENU_Push",
    "MobiFlight.AS1000_MFD_CLR", "MobiFlight.AS1000_MFD_ENT_Push", "", "", "", "MobiFlight.AS1000_MFD_FPL_Push",
    "", "MobiFlight.AS1000_MFD_PROC_Push", "COM_STBY_RADIO_SWAP", "COM2_RADIO_SWAP", "NAV1_RADIO_SWAP",
    "NAV2_RADIO_SWAP", "BAROMETRIC_STD_PRESSURE", "AP_MASTER", "AP_PANEL_HEADING_HOLD", "AP_NAV1_HOLD",
    "AP_APR_HOLD", "AP_PANEL_ALTITUDE_HOLD", "AP_PANEL_VS_HOLD",
};

struct Datum {
    int define;
    const char* name;
    const char* units;
    int type;
};

const Datum kDefinitions[] = {
    {0, "COM STANDBY FREQUENCY:1", "MHz", 4},      {0, "COM STANDBY FREQUENCY:2", "MHz", 4},
    {0, "NAV STANDBY FREQUENCY:1", "MHz", 4},      {0, "NAV STANDBY FREQUENCY:2", "MHz", 4},
    {0, "AUTOPILOT HEADING LOCK DIR", "degrees", 4}, {0, "NAV OBS:1", "degrees", 4},
    {0, "NAV OBS:2", "degrees", 4},                {1, "AUTOPILOT ALTITUDE LOCK VAR", "feet", 4},
    {1, "AUTOPILOT VERTICAL HOLD VAR", "feet/minute", 4}, {1, "TRANSPONDER CODE:1", "BCO16", 1},
    {1, "AUTOPILOT MASTER", "Bool", 1},            {1, "AUTOPILOT HEADING LOCK", "Bool", 1},
    {1, "AUTOPILOT NAV1 LOCK", "Bool", 1},         {1, "AUTOPILOT APPROACH HOLD", "Bool", 1},
    {1, "AUTOPILOT ALTITUDE LOCK", "Bool", 1},     {1, "AUTOPILOT VERTICAL HOLD", "Bool", 1},
};

std::vector<int> mappingOrder() {
    std::vector<int> ids;
    for (int i = 0; i <= 57; ++i) ids.push_back(i);
    for (int i = 80; i <= 83; ++i) ids.push_back(i);
    for (int i = 58; i <= 79; ++i) ids.push_back(i);
    for (int i = 84; i <= 90; ++i) ids.push_back(i);
    return ids;
}

TEST(Startup, OpensMapsDefinesAndRequestsInOrderThenPrintsItsLine) {
    e2e::RunOptions options;
    options.script = "wait 100\n";
    e2e::RunResult r = e2e::run(options);

    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(r.panel_stdout, "Connected to MSFS2020\n");
    ASSERT_GE(r.trace.size(), 1u + 91 + 16 + 2) << "trace too short";

    std::size_t i = 0;
    EXPECT_EQ(r.trace[i].str("call"), "Open");
    EXPECT_EQ(r.trace[i].str("name"), "Request Data");
    EXPECT_EQ(r.trace[i].num("protocol"), 5);
    EXPECT_EQ(r.trace[i].num("send_id"), 1);
    ++i;
    for (int id : mappingOrder()) {
        const auto& line = r.trace[i++];
        ASSERT_EQ(line.str("call"), "MapClientEventToSimEvent") << "at trace line " << i;
        EXPECT_EQ(line.num("event"), id);
        EXPECT_EQ(line.str("name"), kEventNames[id]) << "event " << id;
    }
    for (const Datum& d : kDefinitions) {
        const auto& line = r.trace[i++];
        ASSERT_EQ(line.str("call"), "AddToDataDefinition") << "at trace line " << i;
        EXPECT_EQ(line.num("define"), d.define);
        EXPECT_EQ(line.str("datum"), d.name);
        EXPECT_EQ(line.str("units"), d.units);
        EXPECT_EQ(line.num("type"), d.type);
        EXPECT_EQ(line.real("epsilon"), 0.0);
        EXPECT_EQ(line.num("datum_id"), 4294967295LL);
    }
    for (int request = 0; request < 2; ++request) {
        const auto& line = r.trace[i++];
        ASSERT_EQ(line.str("call"), "RequestDataOnSimObject");
        EXPECT_EQ(line.num("request"), request);
        EXPECT_EQ(line.num("define"), request);
        EXPECT_EQ(line.num("object"), 0);
        EXPECT_EQ(line.num("period"), 3);
        EXPECT_EQ(line.num("flags"), 0);
    }
    // Send IDs count up by one per packet.
    for (std::size_t k = 0; k < i; ++k) EXPECT_EQ(r.trace[k].num("send_id"), static_cast<int>(k) + 1);
    // Nothing was pressed: no event; with every autopilot state off the LEDs
    // are only cleared at the open and at the exit, never lit.
    EXPECT_TRUE(r.transmits().empty());
    EXPECT_EQ(r.leds, (std::vector<std::string>{"0b 00", "0b 00"}));
    // MSFS, like the emulator, knows no TOGGLE_GPS_DRIVES_NAV2: its
    // exception is traced back to the mapping and said.
    EXPECT_NE(r.panel_stderr.find("msfs-panel: the simulator rejected "
                                  "MapClientEventToSimEvent(\"TOGGLE_GPS_DRIVES_NAV2\"): NAME_UNRECOGNIZED\n"),
              std::string::npos)
        << r.panel_stderr;
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
