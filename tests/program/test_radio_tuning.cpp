// COM and NAV tuning, wrapFrequency and toBcd.
#include <cmath>
#include <string>

#include "msfs_fixture.h"

namespace {

// Decimal digits written as hex digits: 11345 -> 0x11345.
DWORD bcdOf(int value) { return static_cast<DWORD>(std::stoul(std::to_string(value), nullptr, 16)); }

TEST(ToBcd, OneNibblePerDecimalDigitOfTheValueModulo65536) {
    const std::pair<std::int32_t, std::uint32_t> cases[] = {
        {0, 0x0},         {7, 0x7},         {10, 0x10},       {1100, 0x1100},
        {10800, 0x10800}, {11345, 0x11345}, {11795, 0x11795}, {65535, 0x65535},
        {65536, 0x0},     {65537, 0x1},     {-1, 0x65535},    {99999, bcdOf(99999 - 65536)},
    };
    for (auto [value, bcd] : cases) {
        EXPECT_EQ(toBcd(value), bcd) << value;
    }
}

TEST_F(Msfs, ComSendsOneRelativeEventPerDetentOuterFirst) {
    struct Case {
        int radio, outer, inner;
        Sent events;
    };
    const Case cases[] = {
        {1, 2, -3, {{12, 1}, {12, 1}, {15, 1}, {15, 1}, {15, 1}}},
        {1, -1, 1, {{13, 1}, {14, 1}}},
        {2, 0, 1, {{18, 1}}},
        {2, 1, -1, {{16, 1}, {19, 1}}},
        {2, -2, 0, {{17, 1}, {17, 1}}},
        {1, 0, 0, {}},
        {0, 1, 1, {}},
        {3, 1, 1, {}},
    };
    for (const Case& c : cases) {
        clearSent();
        sim.tuneCom(static_cast<std::uint8_t>(c.radio), static_cast<std::int8_t>(c.outer),
                    static_cast<std::int8_t>(c.inner));
        EXPECT_EQ(sent(), c.events) << c.radio << " " << c.outer << " " << c.inner;
    }
    EXPECT_TRUE(std::isnan(sim.com1_standby));  // what the simulator does is for it to say
    EXPECT_TRUE(std::isnan(sim.com2_standby));
}

TEST_F(Msfs, ComCountsMinus128As128Detents) {
    sim.tuneCom(1, -128, 127);
    const Sent events = sent();
    ASSERT_EQ(events.size(), 255U);
    EXPECT_EQ(std::count(events.begin(), events.end(), std::pair<DWORD, DWORD>{13, 1}), 128);
    EXPECT_EQ(std::count(events.begin(), events.end(), std::pair<DWORD, DWORD>{14, 1}), 127);
    EXPECT_EQ(events.front().first, 13U);
}

TEST_F(Msfs, NavEdgeCases) {
    struct Case {
        double cached;
        int outer, inner;
        double result;
        DWORD data;
    };
    const Case cases[] = {
        {113.45, 1, 0, 114.45, 0x11445},  {117.45, 1, 0, 108.45, 0x10845},   {108.00, -1, 0, 117.00, 0x11700},
        {113.95, 0, 1, 113.00, 0x11300},  {113.00, 0, -1, 113.95, 0x11395},  {117.95, 0, 1, 117.00, 0x11700},
        {117.95, 1, 1, 108.00, 0x10800},  {108.05, -1, -2, 117.95, 0x11795}, {110.50, 2, -3, 112.35, 0x11235},
        {108.125, 1, 0, 109.15, 0x10915}, {113.47, 0, 1, 113.50, 0x11350},   {0.0, 1, 0, 11.00, 0x1100},
        {0.0, -1, 0, 9.00, 0x900},        {0.0, 0, 1, 10.05, 0x1005},
    };
    for (const Case& c : cases) {
        for (int radio : {1, 2}) {
            clearSent();
            sim.nav1_standby = radio == 1 ? c.cached : 0.5;
            sim.nav2_standby = radio == 2 ? c.cached : 0.5;
            sim.tuneNav(static_cast<std::uint8_t>(radio), static_cast<std::int8_t>(c.outer),
                        static_cast<std::int8_t>(c.inner));
            const DWORD event = radio == 1 ? 2 : 3;
            EXPECT_EQ(sent(), (Sent{{event, c.data}})) << c.cached << " " << c.outer << " " << c.inner;
            EXPECT_DOUBLE_EQ(radio == 1 ? sim.nav1_standby : sim.nav2_standby, c.result);
            EXPECT_EQ(radio == 1 ? sim.nav2_standby : sim.nav1_standby, 0.5);  // the other radio
        }
    }
}

TEST_F(Msfs, NavWithOtherRadiosDoesNothing) {
    sim.nav1_standby = 113.45;
    sim.nav2_standby = 110.5;
    for (int radio : {0, 3, 255}) {
        sim.tuneNav(static_cast<std::uint8_t>(radio), 1, 1);
    }
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(sim.nav1_standby, 113.45);
    EXPECT_EQ(sim.nav2_standby, 110.5);
}

// Over the whole band on the 0.05 MHz grid and every count one report is
// guaranteed to wrap exactly: the megahertz wrap inside 108..117, the fraction
// inside .00...95 of the same megahertz, each on its own.
TEST_F(Msfs, NavWholeGridAgainstTheClosedForm) {
    int failures = 0;
    for (int whole = 108; whole <= 117; ++whole) {
        for (int channel = 0; channel < 20; ++channel) {
            const double frequency = whole + channel * 0.05;
            for (int outer = -9; outer <= 9; ++outer) {
                for (int inner = -19; inner <= 19; ++inner) {
                    const int expectedWhole = 108 + ((whole - 108 + outer) % 10 + 10) % 10;
                    const int expectedChannel = ((channel + inner) % 20 + 20) % 20;
                    const int hundredths = expectedWhole * 100 + expectedChannel * 5;

                    const double wrapped = wrapFrequency(frequency, 108.0, 117.0, outer, inner, 0.05);
                    const bool wrapOk = std::round(wrapped * 20) == expectedWhole * 20 + expectedChannel &&
                                        std::abs(wrapped * 20 - std::round(wrapped * 20)) < 1e-6;

                    clearSent();
                    sim.nav1_standby = frequency;
                    sim.tuneNav(1, static_cast<std::int8_t>(outer), static_cast<std::int8_t>(inner));
                    const auto& events = simconnect_double::recorder().events;
                    const bool navOk = events.size() == 1 && events[0].event == 2 &&
                                       events[0].data == bcdOf(hundredths) &&
                                       sim.nav1_standby == (expectedWhole * 20 + expectedChannel) / 20.0;
                    if (!wrapOk || !navOk) {
                        ADD_FAILURE() << frequency << " outer " << outer << " inner " << inner << ": wrapped "
                                      << wrapped << ", cache " << sim.nav1_standby << ", expected " << hundredths;
                        if (++failures > 10) {
                            return;
                        }
                    }
                }
            }
        }
    }
}

TEST(WrapFrequency, OneCorrectionPerSideOnly) {
    // Beyond the counts one correction covers, the result leaves the band as
    // the single correction leaves it.
    EXPECT_NEAR(wrapFrequency(117.0, 108.0, 117.0, 12, 0, 0.05), 119.0, 1e-9);
    EXPECT_NEAR(wrapFrequency(108.0, 108.0, 117.0, -12, 0, 0.05), 106.0, 1e-9);
    EXPECT_NEAR(wrapFrequency(113.0, 108.0, 117.0, 0, 40, 0.05), 114.0, 1e-9);
    EXPECT_NEAR(wrapFrequency(113.0, 108.0, 117.0, 0, -40, 0.05), 112.0, 1e-9);
    // The fraction is taken to the nearest 25 kHz before stepping.
    EXPECT_NEAR(wrapFrequency(113.026, 108.0, 117.0, 0, 0, 0.05), 113.026, 1e-9);
    EXPECT_NEAR(wrapFrequency(113.026, 108.0, 117.0, 0, 1, 0.05), 113.076, 1e-9);
}

}  // namespace
