// Heading bug, courses, altitude and vertical speed, transponder, barometer.
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "msfs_fixture.h"

namespace {

TEST_F(Msfs, HeadingBugStepsAndWrapsOnce) {
    struct Case {
        double cached;
        int outer, inner;
        std::int32_t result;
    };
    // clang-format off
    const Case cases[] = {
        {355, 1, 0, 5},     {5, -1, 0, 355},     {350, 1, 0, 360},  {360, 0, 1, 1},
        {0, 0, -1, 359},    {100, 1, -2, 108},   {100, 1, -10, 100}, {359, 100, 0, 999},
        {123.7, 0, 1, 124}, {0, -1, 0, 350},     {360, 0, 0, 360},  {0, 0, 0, 0},
        {-123.7, 0, 0, 237}, {0, -36, 0, 0},     {0, -36, 1, 1},
        // Sums below -360 or above 720 get the one correction and no more.
        {0, -37, 1, -9},    {0, -128, -128, -1048}, {360, 37, 0, 370},
    };
    // clang-format on
    for (int selector : {0, 1, 2, 7}) {
        for (const Case& c : cases) {
            clearSent();
            sim.heading_bug = c.cached;
            sim.adjustHeadingBug(static_cast<std::uint8_t>(selector), static_cast<std::int8_t>(c.outer),
                                 static_cast<std::int8_t>(c.inner));
            EXPECT_EQ(sent(), (Sent{{4, static_cast<DWORD>(c.result)}}))
                << c.cached << " " << c.outer << " " << c.inner;
            EXPECT_EQ(sim.heading_bug, c.result);
        }
    }
}

TEST_F(Msfs, CourseBySelector) {
    sim.obs1 = 10;
    sim.obs2 = 20;
    sim.adjustCourse(1, -2, 0);
    EXPECT_EQ(sent(), (Sent{{5, 350}}));
    EXPECT_EQ(sim.obs1, 350);
    EXPECT_EQ(sim.obs2, 20);

    clearSent();
    sim.adjustCourse(2, 0, -21);
    EXPECT_EQ(sent(), (Sent{{6, 359}}));
    EXPECT_EQ(sim.obs2, 359);
    EXPECT_EQ(sim.obs1, 350);

    clearSent();
    for (int selector : {0, 3, 255}) {
        sim.adjustCourse(static_cast<std::uint8_t>(selector), 1, 1);
    }
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(sim.obs1, 350);
    EXPECT_EQ(sim.obs2, 359);
    EXPECT_TRUE(std::isnan(sim.heading_bug));
}

TEST_F(Msfs, AltitudeAndVerticalSpeed) {
    struct Case {
        double altitude, speed;
        int outer, inner;
        Sent events;
        double altitudeAfter, speedAfter;
    };
    const Case cases[] = {
        {5000, 0, 3, 0, {{8, 5300}}, 5300, 0},
        {100, 0, -2, 0, {{8, 0}}, 0, 0},
        {0, 0, -1, 0, {{8, 0}}, 0, 0},
        {5000, 0, 0, 2, {{9, 200}}, 5000, 200},
        {1234.5, 0, 1, 0, {{8, 1334}}, 1334.5, 0},
        {0, 0, 0, -5, {{9, 0xFFFFFE0C}}, 0, -500},
        {0, 700, 0, 1, {{9, 800}}, 0, 800},
        {0, 0, 0, -1, {{9, static_cast<DWORD>(-100)}}, 0, -100},
        {200, -150, 1, -1, {{8, 300}, {9, static_cast<DWORD>(-250)}}, 300, -250},
        {0, 0, 127, -128, {{8, 12700}, {9, static_cast<DWORD>(-12800)}}, 12700, -12800},
        {0, 0, 0, 0, {}, 0, 0},
    };
    for (const Case& c : cases) {
        clearSent();
        sim.ap_altitude = c.altitude;
        sim.ap_vertical_speed = c.speed;
        sim.adjustAltitudeAndVerticalSpeed(9, static_cast<std::int8_t>(c.outer), static_cast<std::int8_t>(c.inner));
        EXPECT_EQ(sent(), c.events) << c.altitude << " " << c.outer << " " << c.inner;
        EXPECT_EQ(sim.ap_altitude, c.altitudeAfter);
        EXPECT_EQ(sim.ap_vertical_speed, c.speedAfter);
    }
}

TEST_F(Msfs, TransponderCountsInOctal) {
    struct Case {
        std::uint32_t code;
        int outer, inner;
        std::uint32_t result;
    };
    // clang-format off
    const Case cases[] = {
        {0x1200, 1, 0, 0x1300}, {0x1200, 0, -1, 0x1177}, {0x1200, 1, 2, 0x1302},
        {0x7700, 1, 0, 0x0000}, {0x7777, 0, 1, 0x0000},  {0x7777, 1, 1, 0x0100},
        {0x0030, -1, 0, 0x7730}, {0x0000, -1, 0, 0x7700}, {0x0000, 0, -1, 0x7777},
        {0x1207, 0, 1, 0x1210}, {0x1777, 1, 0, 0x2077},
        // Beyond what one correction covers: brought into range all the same.
        {0x0000, 63, 0, 0x7700}, {0x7777, 127, 0, 0x7677}, {0x0000, -128, 0, 0x0000},
        {0x0000, -128, -1, 0x7777}, {0x0008, 0, 1, 0x0011}, {0xFFFF, 0, 0, 0x1107},
        {0xFFFFFFFF, 0, 0, 0x1107},
    };
    // clang-format on
    for (const Case& c : cases) {
        clearSent();
        sim.transponder_code = c.code;
        sim.adjustTransponder(1, static_cast<std::int8_t>(c.outer), static_cast<std::int8_t>(c.inner));
        EXPECT_EQ(sent(), (Sent{{7, c.result}})) << std::hex << c.code << std::dec << " " << c.outer << " " << c.inner;
        EXPECT_EQ(sim.transponder_code, c.result);
    }
}

TEST_F(Msfs, TransponderIgnoresOtherSelectors) {
    sim.transponder_code = 0x1200;
    for (int selector : {0, 2, 3, 255}) {
        sim.adjustTransponder(static_cast<std::uint8_t>(selector), 1, 1);
    }
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(sim.transponder_code, 0x1200U);
}

// The octal value of a code read as hex digits, and back.
int octalValue(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", code);
    return static_cast<int>(std::stoul(text, nullptr, 8));
}

std::uint32_t codeOf(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%o", value);
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

TEST(Bco16, ConversionsOverEveryCode) {
    for (int value = 0; value < 4096; ++value) {
        const std::uint32_t code = codeOf(value);
        EXPECT_EQ(valueToBco16(value), code) << value;
        EXPECT_EQ(bco16ToValue(code), value) << std::hex << code;
    }
    EXPECT_EQ(bco16ToValue(0x1200), 640);
    EXPECT_EQ(valueToBco16(704), 0x1300U);
    // Nibbles above 7 count with their own value.
    EXPECT_EQ(bco16ToValue(0x0009), 9);
    EXPECT_EQ(bco16ToValue(0x00F0), 120);
    EXPECT_EQ(bco16ToValue(0xFFFFFFFF), 15 * 2396745);
}

TEST_F(Msfs, TransponderAlwaysSendsAValidCode) {
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> delta(-128, 127);
    std::uniform_int_distribution<std::uint32_t> anyCode;
    std::uniform_int_distribution<int> anyValue(0, 4095);
    int failures = 0;
    for (int i = 0; i < 100000; ++i) {
        // Half the time a valid cached code, for which the exact result is known.
        const bool valid = (i % 2) == 0;
        const std::uint32_t cached = valid ? codeOf(anyValue(rng)) : anyCode(rng);
        const int outer = delta(rng);
        const int inner = delta(rng);
        clearSent();
        sim.transponder_code = cached;
        sim.adjustTransponder(1, static_cast<std::int8_t>(outer), static_cast<std::int8_t>(inner));
        const auto& events = simconnect_double::recorder().events;
        const std::uint32_t code = events.empty() ? 0xDEADBEEF : events[0].data;
        bool ok = events.size() == 1 && code <= 0x7777 && sim.transponder_code == code;
        for (int nibble = 0; nibble < 4; ++nibble) {
            ok = ok && ((code >> (4 * nibble)) & 0xF) <= 7;
        }
        if (ok && valid) {
            const int expected = ((octalValue(cached) + 64 * outer + inner) % 4096 + 4096) % 4096;
            ok = code == codeOf(expected);
        }
        if (!ok) {
            ADD_FAILURE() << std::hex << "cached 0x" << cached << " sent 0x" << code << std::dec << " outer " << outer
                          << " inner " << inner;
            if (++failures > 10) {
                return;
            }
        }
    }
}

TEST_F(Msfs, BarometerOneEventPerCallIncrementWins) {
    struct Case {
        int outer, inner;
        Sent events;
    };
    const Case cases[] = {
        {-3, 0, {{11, 1}}}, {0, 5, {{10, 1}}},       {-1, 1, {{10, 1}}},  {1, -1, {{10, 1}}},
        {0, 0, {}},         {-128, -128, {{11, 1}}}, {127, 0, {{10, 1}}}, {0, -1, {{11, 1}}},
    };
    for (int selector : {0, 1, 2}) {
        for (const Case& c : cases) {
            clearSent();
            sim.adjustBarometer(static_cast<std::uint8_t>(selector), static_cast<std::int8_t>(c.outer),
                                static_cast<std::int8_t>(c.inner));
            EXPECT_EQ(sent(), c.events) << c.outer << " " << c.inner;
        }
    }
}

}  // namespace
