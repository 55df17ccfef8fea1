#include "model.h"
#include "value_text.h"
#include "simulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace simemu {
namespace {

constexpr double kSame = std::numeric_limits<double>::quiet_NaN();

struct EventCase {
    const char* event;
    std::uint32_t data;
    Var var;
    double start;     // in the variable's unit; NaN keeps the starting value
    double expected;  // NaN: the event is rejected and nothing changes
};

std::ostream& operator<<(std::ostream& os, const EventCase& c) {
    return os << c.event << " data=0x" << std::hex << c.data << std::dec << " from " << c.start;
}

class EventEffect : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventEffect, ChangesOnlyItsVariable) {
    const EventCase& c = GetParam();
    Model m;
    if (!std::isnan(c.start)) {
        ASSERT_FALSE(m.set(c.var, c.start).has_value());
    }
    const Model before = m;
    const EventInfo* e = findEvent(c.event);
    ASSERT_NE(e, nullptr);
    const Effect effect = m.apply(*e, c.data);
    const double want = std::isnan(c.expected) ? before.value(c.var) : c.expected;
    EXPECT_NEAR(m.value(c.var), want, 1e-9);
    EXPECT_EQ(effect.ignored.empty(), !std::isnan(c.expected));
    for (std::size_t i = 0; i < kVarCount; ++i) {
        const auto v = static_cast<Var>(i);
        const bool barometer = info(c.var).family == Family::Pressure && info(v).family == Family::Pressure;
        if (v != c.var && !barometer) {
            EXPECT_EQ(m.value(v), before.value(v)) << info(v).name << " changed";
        }
    }
}

const double kBaroMax = 1084.0 / 33.8639;
const double kBaroMin = 948.0 / 33.8639;

INSTANTIATE_TEST_SUITE_P(
    Table, EventEffect,
    ::testing::Values(
        // Whole MHz: wraps 136 <-> 118 and keeps the fraction.
        EventCase{"COM_RADIO_WHOLE_INC", 1, Var::ComStandby1, 124.850, 125.850},
        EventCase{"COM_RADIO_WHOLE_INC", 1, Var::ComStandby1, 136.975, 118.975},
        EventCase{"COM_RADIO_WHOLE_DEC", 1, Var::ComStandby1, 118.000, 136.000},
        EventCase{"COM2_RADIO_WHOLE_INC", 1, Var::ComStandby2, 136.500, 118.500},
        EventCase{"COM2_RADIO_WHOLE_DEC", 1, Var::ComStandby2, 121.800, 120.800},
        // Fraction: 25 kHz, wrapping within the MHz, no carry.
        EventCase{"COM_RADIO_FRACT_INC", 1, Var::ComStandby1, 124.850, 124.875},
        EventCase{"COM_RADIO_FRACT_INC", 1, Var::ComStandby1, 124.975, 124.000},
        EventCase{"COM_RADIO_FRACT_INC", 1, Var::ComStandby1, 124.855, 124.875},
        EventCase{"COM_RADIO_FRACT_DEC", 1, Var::ComStandby1, 124.000, 124.975},
        EventCase{"COM_RADIO_FRACT_DEC", 1, Var::ComStandby1, 124.855, 124.850},
        EventCase{"COM2_RADIO_FRACT_INC", 1, Var::ComStandby2, 136.975, 136.000},
        EventCase{"COM2_RADIO_FRACT_DEC", 1, Var::ComStandby2, 118.000, 118.975},
        // BCD16 sets; the last digit 2 or 7 stands for .x25/.x75.
        EventCase{"COM_STBY_RADIO_SET", 0x2797, Var::ComStandby1, kSame, 127.975},
        EventCase{"COM_STBY_RADIO_SET", 0x12485, Var::ComStandby1, kSame, 124.850},
        EventCase{"COM2_STBY_RADIO_SET", 0x1800, Var::ComStandby2, kSame, 118.000},
        EventCase{"COM_STBY_RADIO_SET", 0x1345, Var::ComStandby1, kSame, kSame},  // 113.45 is no COM frequency
        EventCase{"NAV1_STBY_SET", 0x11345, Var::NavStandby1, kSame, 113.45},
        EventCase{"NAV1_STBY_SET", 0x1345, Var::NavStandby1, kSame, 113.45},
        EventCase{"NAV2_STBY_SET", 0x10800, Var::NavStandby2, kSame, 108.00},
        EventCase{"NAV2_STBY_SET", 0x1795, Var::NavStandby2, kSame, 117.95},
        EventCase{"NAV1_STBY_SET", 0x1800, Var::NavStandby1, kSame, kSame},   // 118.00: outside NAV
        EventCase{"NAV1_STBY_SET", 0x13A45, Var::NavStandby1, kSame, kSame},  // not BCD
        EventCase{"NAV1_STBY_SET", 0x21345, Var::NavStandby1, kSame, kSame},  // not the leading 1
        // Degrees, kept in 0..359.
        EventCase{"HEADING_BUG_SET", 360, Var::HeadingBug, kSame, 0},
        EventCase{"HEADING_BUG_SET", 359, Var::HeadingBug, kSame, 359},
        EventCase{"HEADING_BUG_SET", 765, Var::HeadingBug, kSame, 45},
        EventCase{"HEADING_BUG_SET", 0xFFFFFFF6, Var::HeadingBug, kSame, 350},
        EventCase{"VOR1_SET", 360, Var::Obs1, kSame, 0}, EventCase{"VOR2_SET", 1, Var::Obs2, kSame, 1},
        // BCO16: octal digits per nibble.
        EventCase{"XPNDR_SET", 0x7700, Var::Transponder, kSame, 0x7700},
        EventCase{"XPNDR_SET", 0x0000, Var::Transponder, kSame, 0},
        EventCase{"XPNDR_SET", 0x1280, Var::Transponder, kSame, kSame},
        EventCase{"XPNDR_SET", 0x17777, Var::Transponder, kSame, kSame},
        // Feet and signed feet/minute.
        EventCase{"AP_ALT_VAR_SET_ENGLISH", 12000, Var::ApAltitude, kSame, 12000},
        EventCase{"AP_VS_VAR_SET_ENGLISH", 0xFFFFFE0C, Var::ApVerticalSpeed, kSame, -500},
        EventCase{"AP_VS_VAR_SET_ENGLISH", 1500, Var::ApVerticalSpeed, -700, 1500},
        // Steps of the selected altitude: 100 ft, 1000 ft for data above 999.
        EventCase{"AP_ALT_VAR_INC", 0, Var::ApAltitude, 5000, 5100},
        EventCase{"AP_ALT_VAR_INC", 1000, Var::ApAltitude, 5000, 6000},
        EventCase{"AP_ALT_VAR_DEC", 0, Var::ApAltitude, 5000, 4900},
        EventCase{"AP_ALT_VAR_DEC", 0, Var::ApAltitude, 50, 0},
        // Barometer: 0.01 inHg steps, held within 948..1084 hPa.
        EventCase{"KOHLSMAN_INC", 0, Var::KohlsmanHg, 29.92, 29.93},
        EventCase{"KOHLSMAN_DEC", 0, Var::KohlsmanHg, 29.92, 29.91},
        EventCase{"KOHLSMAN_INC", 0, Var::KohlsmanHg, kBaroMax, kBaroMax},
        EventCase{"KOHLSMAN_DEC", 0, Var::KohlsmanHg, kBaroMin, kBaroMin},
        EventCase{"KOHLSMAN_INC", 0, Var::KohlsmanMb, 1083.9, 1084.0},
        EventCase{"BAROMETRIC_STD_PRESSURE", 0, Var::KohlsmanHg, 30.12, 29.92},
        // Toggles.
        EventCase{"AP_MASTER", 0, Var::ApMaster, 0, 1}, EventCase{"AP_MASTER", 0, Var::ApMaster, 1, 0},
        EventCase{"AP_PANEL_HEADING_HOLD", 0, Var::ApHeadingLock, 0, 1},
        EventCase{"AP_NAV1_HOLD", 0, Var::ApNav1Lock, 0, 1}, EventCase{"AP_APR_HOLD", 0, Var::ApApproachHold, 1, 0},
        EventCase{"AP_PANEL_ALTITUDE_HOLD", 0, Var::ApAltitudeLock, 0, 1},
        EventCase{"AP_PANEL_VS_HOLD", 0, Var::ApVerticalHold, 0, 1},
        EventCase{"TOGGLE_GPS_DRIVES_NAV1", 0, Var::GpsDrivesNav1, 0, 1}),
    // The event, then the case's index: several cases share an event.
    [](const auto& info) { return std::string(info.param.event) + "_" + std::to_string(info.index); });

TEST(Model, SwapsExchangeActiveAndStandby) {
    struct {
        const char* event;
        Var active, standby;
    } swaps[] = {{"COM_STBY_RADIO_SWAP", Var::ComActive1, Var::ComStandby1},
                 {"COM2_RADIO_SWAP", Var::ComActive2, Var::ComStandby2},
                 {"NAV1_RADIO_SWAP", Var::NavActive1, Var::NavStandby1},
                 {"NAV2_RADIO_SWAP", Var::NavActive2, Var::NavStandby2}};
    for (const auto& s : swaps) {
        Model m;
        const double active = m.value(s.active);
        const double standby = m.value(s.standby);
        ASSERT_NE(active, standby);
        m.apply(*findEvent(s.event), 0);
        EXPECT_EQ(m.value(s.active), standby) << s.event;
        EXPECT_EQ(m.value(s.standby), active) << s.event;
    }
}

TEST(Model, NamesMatchCaseInsensitively) {
    EXPECT_EQ(findVar("com standby frequency:1"), Var::ComStandby1);
    EXPECT_EQ(findVar("Kohlsman Setting MB"), Var::KohlsmanMb);
    EXPECT_FALSE(findVar("COM STANDBY FREQUENCY:3").has_value());
    ASSERT_NE(findEvent("nav1_stby_set"), nullptr);
    EXPECT_EQ(findEvent("nav1_stby_set")->target, Var::NavStandby1);
}

TEST(Model, ClassifiesEventNames) {
    EXPECT_EQ(classifyEventName("AP_MASTER"), NameClass::Sim);
    EXPECT_EQ(classifyEventName(""), NameClass::Custom);
    EXPECT_EQ(classifyEventName("MobiFlight.AS530_ENT_Push"), NameClass::Custom);
    EXPECT_EQ(classifyEventName("#0x11000"), NameClass::Custom);
    EXPECT_EQ(classifyEventName("TOGGLE_GPS_DRIVES_NAV2"), NameClass::Unknown);
    EXPECT_EQ(classifyEventName("COM_RADIO_WHOLE_INCC"), NameClass::Unknown);
}

TEST(Model, ReadsInOtherUnitsOfTheFamily) {
    Model m;
    ASSERT_FALSE(m.set(Var::NavStandby1, 113.45));
    ASSERT_FALSE(m.set(Var::ComStandby1, 127.975));
    ASSERT_FALSE(m.set(Var::HeadingBug, 180));
    ASSERT_FALSE(m.set(Var::ApAltitude, 1000));
    ASSERT_FALSE(m.set(Var::ApVerticalSpeed, -600));
    struct {
        Var var;
        const char* unit;
        double expected;
    } cases[] = {
        {Var::NavStandby1, "kHz", 113450},
        {Var::NavStandby1, "Frequency BCD16", 0x1345},
        {Var::ComStandby1, "frequency bcd16", 0x2797},
        {Var::ComStandby1, "Hz", 127975000},
        {Var::HeadingBug, "radians", 3.14159265358979},
        {Var::ApAltitude, "meters", 304.8},
        {Var::ApVerticalSpeed, "feet/second", -10},
        {Var::KohlsmanHg, "millibars", 1013.207888},
        {Var::KohlsmanMb, "inHg", 29.92},
        {Var::Transponder, "BCO16", 0x1200},
    };
    for (const auto& c : cases) {
        const auto unit = findUnit(c.unit);
        ASSERT_TRUE(unit.has_value()) << c.unit;
        const auto v = m.read(c.var, *unit);
        ASSERT_TRUE(v.has_value()) << info(c.var).name << " in " << c.unit;
        EXPECT_NEAR(*v, c.expected, 1e-6) << info(c.var).name << " in " << c.unit;
    }
    EXPECT_FALSE(m.read(Var::Transponder, *findUnit("feet")).has_value());
    EXPECT_FALSE(m.read(Var::ApMaster, *findUnit("MHz")).has_value());
}

TEST(Model, ParsesSettings) {
    struct {
        const char* text;
        Var var;
        double value;
    } good[] = {
        {"NAV STANDBY FREQUENCY:1=113.45", Var::NavStandby1, 113.45},
        {"TRANSPONDER CODE:1=0x1200", Var::Transponder, 0x1200},
        {"TRANSPONDER CODE:1=7700", Var::Transponder, 0x7700},
        {"AUTOPILOT MASTER=1", Var::ApMaster, 1},
        {"autopilot master = on", Var::ApMaster, 1},
        {"AUTOPILOT VERTICAL HOLD VAR=-500", Var::ApVerticalSpeed, -500},
        {"KOHLSMAN SETTING MB=1013.25", Var::KohlsmanMb, 1013.25},
    };
    for (const auto& g : good) {
        std::string error;
        const auto s = parseSetting(g.text, error);
        ASSERT_TRUE(s.has_value()) << g.text << ": " << error;
        EXPECT_EQ(s->var, g.var);
        EXPECT_DOUBLE_EQ(s->value, g.value);
    }
    const char* bad[] = {"NAV STANDBY FREQUENCY:1",        "NO SUCH VAR=1",
                         "NAV STANDBY FREQUENCY:1=abc",    "NAV STANDBY FREQUENCY:1=120",
                         "COM ACTIVE FREQUENCY:1=108",     "TRANSPONDER CODE:1=0x1280",
                         "TRANSPONDER CODE:1=12345",       "AUTOPILOT MASTER=2",
                         "KOHLSMAN SETTING MB=900",        "AUTOPILOT ALTITUDE LOCK VAR=",
                         "AUTOPILOT ALTITUDE LOCK VAR=nan"};
    for (const char* b : bad) {
        std::string error;
        EXPECT_FALSE(parseSetting(b, error).has_value()) << b;
        EXPECT_FALSE(error.empty()) << b;
    }
}

TEST(Model, LimitsHoldAVariableAfterEachEventAndAtTheStart) {
    Model m;
    ASSERT_FALSE(m.set(Var::ApVerticalSpeed, 1900).has_value());
    m.limit({Var::ApVerticalSpeed, -2000, 1000});
    EXPECT_EQ(m.value(Var::ApVerticalSpeed), 1000);
    const EventInfo& vs = *findEvent("AP_VS_VAR_SET_ENGLISH");
    EXPECT_EQ(m.valueSetBy(vs, static_cast<std::uint32_t>(-2500)), -2000);
    EXPECT_TRUE(m.apply(vs, static_cast<std::uint32_t>(-2500)).limited);
    EXPECT_EQ(m.value(Var::ApVerticalSpeed), -2000);
    EXPECT_FALSE(m.apply(vs, 500).limited);
    EXPECT_EQ(m.value(Var::ApVerticalSpeed), 500);
    EXPECT_FALSE(m.valueSetBy(*findEvent("NAV1_STBY_SET"), 0x13A45).has_value());  // ignored: not BCD

    // In the variable's own unit, whichever of a shared pair the event names.
    m.limit({Var::KohlsmanMb, 1000, 1013.5});
    const EventInfo& inc = *findEvent("KOHLSMAN_INC");
    for (int i = 0; i < 5; ++i) {
        m.apply(inc, 0);
    }
    EXPECT_DOUBLE_EQ(m.value(Var::KohlsmanMb), 1013.5);
    EXPECT_DOUBLE_EQ(m.value(Var::KohlsmanHg), 1013.5 / 33.8639);
}

TEST(Model, ParsesLimits) {
    std::string error;
    const auto l = parseLimit("TRANSPONDER CODE:1 = 0x1200:7777", error);
    ASSERT_TRUE(l.has_value()) << error;
    EXPECT_EQ(l->var, Var::Transponder);
    EXPECT_EQ(l->min, 0x1200);
    EXPECT_EQ(l->max, 0x7777);
    const auto negative = parseLimit("AUTOPILOT VERTICAL HOLD VAR=-2000:-1000", error);
    ASSERT_TRUE(negative.has_value()) << error;
    EXPECT_EQ(negative->min, -2000);
    const std::pair<const char*, const char*> bad[] = {
        {"AUTOPILOT VERTICAL HOLD VAR", "expected NAME=MIN:MAX"},
        {"NO SUCH VAR=1:2", "unknown variable \"NO SUCH VAR\""},
        {"AUTOPILOT VERTICAL HOLD VAR=2000", "expected MIN:MAX"},
        {"AUTOPILOT VERTICAL HOLD VAR=2000:-2000", "MIN 2000 above MAX -2000"},
        {"AUTOPILOT VERTICAL HOLD VAR=low:2000", "\"low\" is not a number"},
        {"AUTOPILOT VERTICAL HOLD VAR=-2000:", "no value"},
        {"NAV STANDBY FREQUENCY:1=100:110", "outside the NAV band"},
    };
    for (const auto& [text, why] : bad) {
        EXPECT_FALSE(parseLimit(text, error).has_value()) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
    }
}

TEST(Simulator, AppliesEventsAtTheNextFrameBoundary) {
    Simulator sim;
    sim.receive(1, "NAV1_STBY_SET", 0x11345);
    sim.receive(1, "NAV1_RADIO_SWAP", 0);
    EXPECT_DOUBLE_EQ(sim.model().value(Var::NavStandby1), 110.50);
    const auto& applied = sim.advanceFrame();
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0].name, "NAV1_STBY_SET");
    // In arrival order: set, then swap.
    EXPECT_DOUBLE_EQ(sim.model().value(Var::NavActive1), 113.45);
    EXPECT_DOUBLE_EQ(sim.model().value(Var::NavStandby1), 113.90);
}

TEST(Simulator, DelaysEventsByWholeFrames) {
    for (unsigned delay : {1u, 3u}) {
        Simulator sim(delay);
        sim.advanceFrame();
        sim.receive(1, "AP_MASTER", 0);
        for (unsigned i = 0; i < delay; ++i) {
            EXPECT_TRUE(sim.advanceFrame().empty()) << "delay " << delay << " frame " << i;
            EXPECT_EQ(sim.model().value(Var::ApMaster), 0.0);
        }
        EXPECT_EQ(sim.advanceFrame().size(), 1u);
        EXPECT_EQ(sim.model().value(Var::ApMaster), 1.0);
    }
}

TEST(Simulator, CountsCustomAndUnknownNamesAndFlushesAtExit) {
    Simulator sim(10);
    sim.receive(1, "", 0);
    sim.receive(2, "MobiFlight.AS530_ENT_Push", 0);
    sim.receive(1, "MobiFlight.AS530_ENT_Push", 0);
    sim.receive(1, "TOGGLE_GPS_DRIVES_NAV2", 0);
    sim.receive(1, "XPNDR_SET", 0x7000);
    EXPECT_TRUE(sim.advanceFrame().empty());
    EXPECT_EQ(sim.flush().size(), 5u);
    EXPECT_EQ(sim.customCounts().at(""), 1u);
    EXPECT_EQ(sim.customCounts().at("MobiFlight.AS530_ENT_Push"), 2u);
    EXPECT_EQ(sim.unknownCounts().at("TOGGLE_GPS_DRIVES_NAV2"), 1u);
    EXPECT_EQ(sim.model().value(Var::Transponder), 0x7000);
    EXPECT_EQ(sim.pending(), 0u);
}

TEST(Simulator, BoundsWhatClientsLeaveBehind) {
    Simulator sim(1000);
    for (std::size_t i = 0; i < kMaxWaitingEvents; ++i) {
        ASSERT_TRUE(sim.receive(1, "Test." + std::to_string(i), 0));
    }
    EXPECT_FALSE(sim.receive(1, "Test.More", 0));
    EXPECT_TRUE(sim.receive(2, "Test.Other", 0)) << "the cap is per client";
    EXPECT_TRUE(sim.receive(2, "Test.More", 0));
    sim.forget(2);
    EXPECT_EQ(sim.waiting(2), 0u);
    EXPECT_EQ(sim.pending(), kMaxWaitingEvents);
    sim.flush();
    EXPECT_TRUE(sim.receive(1, "Test.Again", 0)) << "room once applied";
    sim.receive(1, "Test.Again", 0);
    sim.flush();
    // 4096 names counted one by one; the next ones together.
    EXPECT_EQ(sim.customCounts().size(), kMaxCountedNames + 1);
    EXPECT_EQ(sim.customCounts().at(std::string(kOtherNames)), 2u);
    EXPECT_FALSE(sim.customCounts().contains("Test.Other"));
}

}  // namespace
}  // namespace simemu
