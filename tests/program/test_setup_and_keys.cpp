// The avionics keys and knobs, by the client events they send (whose names
// the golden start-up maps).
#include <cmath>
#include <string>

#include "msfs_fixture.h"
#include "startup_golden.h"

namespace {

TEST_F(Msfs, EveryKeyCommandSendsItsEventsWithDataZero) {
    // {first, second or -1} for key commands 0 to 32.
    const int expected[33][2] = {
        {36, 58}, {37, 59}, {38, 60}, {39, 61}, {40, 62}, {41, 63}, {42, 64}, {43, 65}, {44, 66}, {45, 67}, {46, 68},
        {47, 69}, {48, 70}, {49, 71}, {50, 72}, {51, 73}, {52, 74}, {53, 75}, {54, 76}, {55, 77}, {56, 78}, {57, 79},
        {85, -1}, {86, -1}, {87, -1}, {88, -1}, {89, -1}, {90, -1}, {80, -1}, {81, -1}, {82, -1}, {83, -1}, {84, -1},
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
    EXPECT_EQ(golden::eventName(expected[5][0]), "TOGGLE_GPS_DRIVES_NAV1");
    EXPECT_EQ(golden::eventName(expected[5][1]), "");
    EXPECT_EQ(golden::eventName(expected[22][0]), "AP_MASTER");
    EXPECT_EQ(golden::eventName(expected[32][0]), "BAROMETRIC_STD_PRESSURE");
}

TEST_F(Msfs, KeyCommandsAbove32SendNothing) {
    for (KeyCommand command : {33U, 34U, 255U, 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
        sim.pressKey(command);
    }
    EXPECT_TRUE(sent().empty());
}

TEST_F(Msfs, FmsKnobsSendOnePairPerKnobOuterFirst) {
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

// But for the NAV swaps: the standby they exchange is one the program has
// not seen until the next block.
TEST_F(Msfs, KeysAndKnobsLeaveTheCacheAlone) {
    sim.nav1_standby = 113.45;
    sim.nav2_standby = 110.50;
    sim.transponder_code = 0x1200;
    for (KeyCommand command = 0; command <= 32; ++command) {
        if (command != key::Nav1Swap && command != key::Nav2Swap) {
            sim.pressKey(command);
        }
    }
    sim.turnFmsKnobs(1, 3, 3);
    sim.adjustBarometer(1, 1, 0);
    sim.tuneCom(1, 5, 5);
    EXPECT_EQ(sim.nav1_standby, 113.45);
    EXPECT_EQ(sim.nav2_standby, 110.50);
    EXPECT_EQ(sim.transponder_code, 0x1200U);
    EXPECT_TRUE(std::isnan(sim.com1_standby));
    sim.pressKey(key::Nav2Swap);
    EXPECT_EQ(sim.nav1_standby, 113.45);
    EXPECT_TRUE(std::isnan(sim.nav2_standby));
    sim.pressKey(key::Nav1Swap);
    EXPECT_TRUE(std::isnan(sim.nav1_standby));
}

}  // namespace
