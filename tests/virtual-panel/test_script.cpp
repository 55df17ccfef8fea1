#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "script.h"

namespace {

using vpanel::parseScript;
using vpanel::ScriptAction;
using Bytes = std::vector<std::uint8_t>;

struct GoodLine {
    const char* text;
    ScriptAction::Kind kind;
    Bytes bytes;
    std::uint32_t ms;
};

void PrintTo(const GoodLine& c, std::ostream* os) { *os << testing::PrintToString(std::string(c.text)); }

class ScriptGoodLine : public testing::TestWithParam<GoodLine> {};

TEST_P(ScriptGoodLine, ParsesToOneAction) {
    const GoodLine& c = GetParam();
    const auto parsed = parseScript(c.text);
    ASSERT_FALSE(parsed.error) << parsed.error->reason;
    ASSERT_EQ(parsed.actions.size(), 1u);
    EXPECT_EQ(parsed.actions[0].kind, c.kind);
    EXPECT_EQ(parsed.actions[0].bytes, c.bytes);
    EXPECT_EQ(parsed.actions[0].ms, c.ms);
}

constexpr auto R = ScriptAction::Kind::Report;

// Test names: the case's index, which keeps them unique, then the words of
// its script, letters and digits only ("9_report_0_0_0_129").
const auto scriptTextName = [](const auto& info) {
    std::string name = std::to_string(info.index);
    bool between = true;
    for (const char* c = info.param.text; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) == 0) {
            between = true;
            continue;
        }
        if (between) {
            name += '_';
        }
        name += *c;
        between = false;
    }
    return name;
};

INSTANTIATE_TEST_SUITE_P(Lines, ScriptGoodLine,
                         testing::Values(
                             // Buttons little-endian in bytes 1..4, deltas as two's complement.
                             GoodLine{"report 2 0 1 0", R, {1, 0, 0, 0, 0, 1, 0, 2}, 0},
                             GoodLine{"report 7 0x12345678 -1 -128", R, {1, 0x78, 0x56, 0x34, 0x12, 0xff, 0x80, 7}, 0},
                             GoodLine{"report 255 4294967295 127 +5", R, {1, 0xff, 0xff, 0xff, 0xff, 0x7f, 5, 0xff}, 0},
                             GoodLine{"  report\t0 0x8000 0 0   # HDG/OBS held", R, {1, 0, 0x80, 0, 0, 0, 0, 0}, 0},
                             GoodLine{"report 0 0 0 0\r", R, {1, 0, 0, 0, 0, 0, 0, 0}, 0},
                             GoodLine{"raw 01 00 00 00 00 01 00 02", R, {1, 0, 0, 0, 0, 1, 0, 2}, 0},
                             GoodLine{"raw 0B", R, {0x0b}, 0}, GoodLine{"raw f a", R, {0x0f, 0x0a}, 0},
                             GoodLine{"wait 0", ScriptAction::Kind::Wait, {}, 0},
                             GoodLine{"wait 1500", ScriptAction::Kind::Wait, {}, 1500},
                             GoodLine{"unplug", ScriptAction::Kind::Unplug, {}, 0},
                             GoodLine{"plug # back", ScriptAction::Kind::Plug, {}, 0},
                             GoodLine{"leds fail", ScriptAction::Kind::LedsFail, {}, 0},
                             GoodLine{"leds ok", ScriptAction::Kind::LedsOk, {}, 0}),
                         scriptTextName);

struct BadScript {
    const char* text;
    int line;
    const char* reasonHas;
};

void PrintTo(const BadScript& c, std::ostream* os) { *os << testing::PrintToString(std::string(c.text)); }

class ScriptBadLine : public testing::TestWithParam<BadScript> {};

TEST_P(ScriptBadLine, ReportsLineAndReason) {
    const BadScript& c = GetParam();
    const auto parsed = parseScript(c.text);
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->line, c.line);
    EXPECT_NE(parsed.error->reason.find(c.reasonHas), std::string::npos) << parsed.error->reason;
    EXPECT_TRUE(parsed.actions.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScriptBadLine,
    testing::Values(
        BadScript{"jump 3", 1, "command(jump): unknown"},
        BadScript{"# start\n\nreport 1 0 0\n", 3, "expected MODE BUTTONS OUTER INNER, got 3"},
        BadScript{"report 1 0 0 0 0", 1, "got 5"}, BadScript{"report 256 0 0 0", 1, "MODE(256)"},
        BadScript{"report -1 0 0 0", 1, "MODE(-1)"}, BadScript{"report 0 0x100000000 0 0", 1, "BUTTONS(0x100000000)"},
        BadScript{"report 0 4294967296 0 0", 1, "BUTTONS"}, BadScript{"report 0 12ab 0 0", 1, "BUTTONS(12ab)"},
        BadScript{"report 0 0 128 0", 1, "OUTER(128)"}, BadScript{"report 0 0 0 -129", 1, "INNER(-129)"},
        BadScript{"report 0 0 0x 0", 1, "OUTER(0x)"}, BadScript{"report 0 0 -+1 0", 1, "OUTER(-+1)"},
        BadScript{"raw", 1, "expected 1 to 64 hex bytes"}, BadScript{"raw 100", 1, "raw(100)"},
        BadScript{"raw 0g", 1, "raw(0g)"}, BadScript{"wait", 1, "expected MS"}, BadScript{"wait -5", 1, "MS(-5)"},
        BadScript{"wait 1.5", 1, "MS(1.5)"}, BadScript{"unplug now", 1, "expected no arguments"},
        BadScript{"leds", 1, "leds: expected fail or ok"}, BadScript{"leds off", 1, "leds(off): expected fail or ok"},
        BadScript{"leds fail now", 1, "leds: expected fail or ok"},
        BadScript{"report 0 0 0 0\nplug\nREPORT 0 0 0 0\n", 3, "command(REPORT): unknown"}),
    scriptTextName);

TEST(Script, RawTakesUpToSixtyFourBytes) {
    std::string line = "raw";
    for (int i = 0; i < 64; ++i) line += " 7f";
    auto parsed = parseScript(line);
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.actions[0].bytes, Bytes(64, 0x7f));

    parsed = parseScript(line + " 7f");
    ASSERT_TRUE(parsed.error);
    EXPECT_NE(parsed.error->reason.find("got 65"), std::string::npos);
}

TEST(Script, KeepsOrderAndLineNumbers) {
    const auto parsed = parseScript("# tour\nreport 2 0 1 0\n\n  wait 20\nunplug\nplug\n");
    ASSERT_FALSE(parsed.error);
    ASSERT_EQ(parsed.actions.size(), 4u);
    const int lines[] = {2, 4, 5, 6};
    const ScriptAction::Kind kinds[] = {R, ScriptAction::Kind::Wait, ScriptAction::Kind::Unplug,
                                        ScriptAction::Kind::Plug};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(parsed.actions[i].line, lines[i]);
        EXPECT_EQ(parsed.actions[i].kind, kinds[i]);
    }
}

TEST(Script, EmptyAndCommentOnlyScriptsHaveNoActions) {
    for (const char* text : {"", "\n\n", "# nothing\n   # at all\n"}) {
        const auto parsed = parseScript(text);
        EXPECT_FALSE(parsed.error);
        EXPECT_TRUE(parsed.actions.empty());
    }
}

}  // namespace
