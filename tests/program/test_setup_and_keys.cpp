// Connection set-up, the client event table, and the avionics keys and knobs.
#include <string>

#include "msfs_fixture.h"

namespace {

namespace sc = simconnect_double;

// The simulator event names by ID, written out independently of the
// program's table.
const char* const expectedNames[91] = {
    "COM_STBY_RADIO_SET", "COM2_STBY_RADIO_SET", "NAV1_STBY_SET", "NAV2_STBY_SET",
    "HEADING_BUG_SET", "VOR1_SET", "VOR2_SET", "XPNDR_SET", "AP_ALT_VAR_SET_ENGLISH",
    "AP_VS_VAR_SET_ENGLISH", "KOHLSMAN_INC", "KOHLSMAN_DEC",
    "COM_RADIO_WHOLE_INC", "COM_RADIO_WHOLE_DEC", "COM_RADIO_FRACT_INC", "COM_RADIO_FRACT_DEC",
    "COM2_RADIO_WHOLE_INC", "COM2_RADIO_WHOLE_DEC", "COM2_RADIO_FRACT_INC", "COM2_RADIO_FRACT_DEC",
    "MobiFlight.AS530_RightLargeKnob_Right", "MobiFlight.AS530_RightLargeKnob_Left",
    "MobiFlight.AS530_RightSmallKnob_Right", "MobiFlight.AS530_RightSmallKnob_Left",
    "MobiFlight.AS430_RightLargeKnob_Right", "MobiFlight.AS430_RightLargeKnob_Left",
    "MobiFlight.AS430_RightSmallKnob_Right", "MobiFlight.AS430_RightSmallKnob_Left",
    "MobiFlight.AS1000_PFD_FMS_Lower_INC", "MobiFlight.AS1000_PFD_FMS_Lower_DEC",
    "MobiFlight.AS1000_PFD_FMS_Upper_INC", "MobiFlight.AS1000_PFD_FMS_Upper_DEC",
    "MobiFlight.AS1000_MFD_FMS_Lower_INC", "MobiFlight.AS1000_MFD_FMS_Lower_DEC",
    "MobiFlight.AS1000_MFD_FMS_Upper_INC", "MobiFlight.AS1000_MFD_FMS_Upper_DEC",
    "MobiFlight.AS530_RightSmallKnob_Push", "MobiFlight.AS530_DirectTo_Push",
    "MobiFlight.AS530_MENU_Push", "MobiFlight.AS530_CLR_Push", "MobiFlight.AS530_ENT_Push",
    "TOGGLE_GPS_DRIVES_NAV1", "MobiFlight.AS530_OBS_Push", "MobiFlight.AS530_MSG_Push",
    "MobiFlight.AS530_FPL_Push", "MobiFlight.AS530_VNAV_Push", "MobiFlight.AS530_PROC_Push",
    "MobiFlight.AS430_RightSmallKnob_Push", "MobiFlight.AS430_DirectTo_Push",
    "MobiFlight.AS430_MENU_Push", "MobiFlight.AS430_CLR_Push", "MobiFlight.AS430_ENT_Push",
    "TOGGLE_GPS_DRIVES_NAV2", "MobiFlight.AS430_OBS_Push", "MobiFlight.AS430_MSG_Push",
    "MobiFlight.AS430_FPL_Push", "MobiFlight.AS430_VNAV_Push", "MobiFlight.AS430_PROC_Push",
    "MobiFlight.AS1000_PFD_FMS_Upper_PUSH", "MobiFlight.AS1000_PFD_DIRECTTO",
    "MobiFlight.AS1000_PFD_MENU_Push", "MobiFlight.AS1000_PFD_CLR",
    "MobiFlight.AS1000_PFD_ENT_Push", "", "", "", "MobiFlight.AS1000_PFD_FPL_Push", "",
    "MobiFlight.AS1000_PFD_PROC_Push",
    "MobiFlight.AS1000_MFD_FMS_Upper_PUSH", "MobiFlight.AS1000_MFD_DIRECTTO",
    "MobiFlight.AS1000_MFD_MENU_Push", "MobiFlight.AS1000_MFD_CLR",
    "MobiFlight.AS1000_MFD_ENT_Push", "", "", "", "MobiFlight.AS1000_MFD_FPL_Push", "",
    "MobiFlight.AS1000_MFD_PROC_Push",
    "COM_STBY_RADIO_SWAP", "COM2_RADIO_SWAP", "NAV1_RADIO_SWAP", "NAV2_RADIO_SWAP",
    "BAROMETRIC_STD_PRESSURE",
    "AP_MASTER", "AP_PANEL_HEADING_HOLD", "AP_NAV1_HOLD", "AP_APR_HOLD",
    "AP_PANEL_ALTITUDE_HOLD", "AP_PANEL_VS_HOLD",
};

TEST_F(Msfs, SetupMapsAllEventsInOrderBeforeAnyDefinition)
{
    sim.setupConnection();
    std::vector<DWORD> order;
    for (DWORD id = 0; id <= 57; ++id) order.push_back(id);
    for (DWORD id = 80; id <= 83; ++id) order.push_back(id);
    for (DWORD id = 58; id <= 79; ++id) order.push_back(id);
    for (DWORD id = 84; id <= 90; ++id) order.push_back(id);

    const sc::Recorder& r = sc::recorder();
    ASSERT_EQ(r.maps.size(), 91U);
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(r.maps[i].id, order[i]) << "mapping " << i;
        EXPECT_EQ(r.maps[i].name, expectedNames[order[i]]) << "ID " << order[i];
    }
    // Calls: 91 maps, then 16 definitions, then 2 requests; nothing else.
    std::vector<sc::Call> calls(91, sc::Call::Map);
    calls.insert(calls.end(), 16, sc::Call::Define);
    calls.insert(calls.end(), 2, sc::Call::Request);
    EXPECT_EQ(r.calls, calls);
    EXPECT_TRUE(r.events.empty());
}

TEST_F(Msfs, SetupAddsBothDefinitionsAndRequestsThemEveryFrame)
{
    sim.setupConnection();
    struct Expected {
        DWORD definition;
        const char* variable;
        const char* unit;
        SIMCONNECT_DATATYPE type;
    };
    const Expected expected[] = {
        {0, "COM STANDBY FREQUENCY:1", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
        {0, "COM STANDBY FREQUENCY:2", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
        {0, "NAV STANDBY FREQUENCY:1", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
        {0, "NAV STANDBY FREQUENCY:2", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
        {0, "AUTOPILOT HEADING LOCK DIR", "degrees", SIMCONNECT_DATATYPE_FLOAT64},
        {0, "NAV OBS:1", "degrees", SIMCONNECT_DATATYPE_FLOAT64},
        {0, "NAV OBS:2", "degrees", SIMCONNECT_DATATYPE_FLOAT64},
        {1, "AUTOPILOT ALTITUDE LOCK VAR", "feet", SIMCONNECT_DATATYPE_FLOAT64},
        {1, "AUTOPILOT VERTICAL HOLD VAR", "feet/minute", SIMCONNECT_DATATYPE_FLOAT64},
        {1, "TRANSPONDER CODE:1", "BCO16", SIMCONNECT_DATATYPE_INT32},
        {1, "AUTOPILOT MASTER", "Bool", SIMCONNECT_DATATYPE_INT32},
        {1, "AUTOPILOT HEADING LOCK", "Bool", SIMCONNECT_DATATYPE_INT32},
        {1, "AUTOPILOT NAV1 LOCK", "Bool", SIMCONNECT_DATATYPE_INT32},
        {1, "AUTOPILOT APPROACH HOLD", "Bool", SIMCONNECT_DATATYPE_INT32},
        {1, "AUTOPILOT ALTITUDE LOCK", "Bool", SIMCONNECT_DATATYPE_INT32},
        {1, "AUTOPILOT VERTICAL HOLD", "Bool", SIMCONNECT_DATATYPE_INT32},
    };
    const sc::Recorder& r = sc::recorder();
    ASSERT_EQ(r.definitions.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const sc::Definition& d = r.definitions[i];
        EXPECT_EQ(d.definition, expected[i].definition) << i;
        EXPECT_EQ(d.variable, expected[i].variable) << i;
        EXPECT_EQ(d.unit, expected[i].unit) << i;
        EXPECT_EQ(d.type, expected[i].type) << i;
        EXPECT_EQ(d.epsilon, 0.0F) << i;
        EXPECT_EQ(d.datum, 0xFFFFFFFFU) << i;
    }
    ASSERT_EQ(r.requests.size(), 2U);
    for (DWORD i = 0; i < 2; ++i) {
        const sc::Request& q = r.requests[i];
        EXPECT_EQ(q.request, i);
        EXPECT_EQ(q.definition, i);
        EXPECT_EQ(q.object, 0U);
        EXPECT_EQ(q.period, SIMCONNECT_PERIOD_SIM_FRAME);
        EXPECT_EQ(q.flags, 0U);
        EXPECT_EQ(q.origin, 0U);
        EXPECT_EQ(q.interval, 0U);
        EXPECT_EQ(q.limit, 0U);
    }
}

TEST_F(Msfs, EveryKeyCommandSendsItsEventsWithDataZero)
{
    // {first, second or -1} for key commands 0 to 32.
    const int expected[33][2] = {
        {36, 58}, {37, 59}, {38, 60}, {39, 61}, {40, 62}, {41, 63}, {42, 64}, {43, 65},
        {44, 66}, {45, 67}, {46, 68}, {47, 69}, {48, 70}, {49, 71}, {50, 72}, {51, 73},
        {52, 74}, {53, 75}, {54, 76}, {55, 77}, {56, 78}, {57, 79}, {85, -1}, {86, -1},
        {87, -1}, {88, -1}, {89, -1}, {90, -1}, {80, -1}, {81, -1}, {82, -1}, {83, -1},
        {84, -1},
    };
    for (KeyCommand command = 0; command <= 32; ++command) {
        clearSent();
        sim.pressKey(command);
        Sent events{{static_cast<DWORD>(expected[command][0]), 0}};
        if (expected[command][1] >= 0) {
            events.emplace_back(static_cast<DWORD>(expected[command][1]), 0);
        }
        EXPECT_EQ(sent(), events) << "key " << command;
    }
    // The names behind a few, as a reader of the panel would check them.
    EXPECT_STREQ(expectedNames[expected[5][0]], "TOGGLE_GPS_DRIVES_NAV1");
    EXPECT_STREQ(expectedNames[expected[5][1]], "");
    EXPECT_STREQ(expectedNames[expected[22][0]], "AP_MASTER");
    EXPECT_STREQ(expectedNames[expected[32][0]], "BAROMETRIC_STD_PRESSURE");
}

TEST_F(Msfs, KeyCommandsAbove32SendNothing)
{
    for (KeyCommand command : {33U, 34U, 255U, 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
        sim.pressKey(command);
    }
    EXPECT_TRUE(sent().empty());
}

TEST_F(Msfs, FmsKnobsSendOnePairPerKnobOuterFirst)
{
    struct Case {
        int unit, outer, inner;
        Sent events;
    };
    const Case cases[] = {
        {1, 1, 0, {{20, 1}, {28, 1}}},
        {1, -1, 0, {{21, 1}, {29, 1}}},
        {1, 0, 1, {{22, 1}, {30, 1}}},
        {1, 0, -1, {{23, 1}, {31, 1}}},
        {2, 1, 0, {{24, 1}, {32, 1}}},
        {2, -128, 0, {{25, 1}, {33, 1}}},
        {2, 0, 1, {{26, 1}, {34, 1}}},
        {2, 0, -1, {{27, 1}, {35, 1}}},
        {1, 5, -3, {{20, 1}, {28, 1}, {23, 1}, {31, 1}}},
        {2, 127, 127, {{24, 1}, {32, 1}, {26, 1}, {34, 1}}},
        {2, -7, -9, {{25, 1}, {33, 1}, {27, 1}, {35, 1}}},
        {1, 0, 0, {}},
        {0, 1, 1, {}},
        {3, 1, 1, {}},
        {255, -1, -1, {}},
    };
    for (const Case& c : cases) {
        clearSent();
        sim.turnFmsKnobs(static_cast<std::uint8_t>(c.unit), static_cast<std::int8_t>(c.outer),
                         static_cast<std::int8_t>(c.inner));
        EXPECT_EQ(sent(), c.events) << c.unit << " " << c.outer << " " << c.inner;
    }
}

TEST_F(Msfs, KeysAndKnobsLeaveTheCacheAlone)
{
    sim.nav1_standby = 113.45;
    sim.transponder_code = 0x1200;
    for (KeyCommand command = 0; command <= 32; ++command) {
        sim.pressKey(command);
    }
    sim.turnFmsKnobs(1, 3, 3);
    sim.adjustBarometer(1, 1, 0);
    sim.tuneCom(1, 5, 5);
    EXPECT_EQ(sim.nav1_standby, 113.45);
    EXPECT_EQ(sim.transponder_code, 0x1200U);
    EXPECT_EQ(sim.com1_standby, 0.0);
}

}  // namespace
