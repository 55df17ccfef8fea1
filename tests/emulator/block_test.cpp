#include "datablock.h"
#include "display.h"
#include "json.h"
#include "options.h"
#include "simulator.h"
#include "text.h"
#include "startup_golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <variant>

namespace simemu {
namespace {

std::vector<std::uint8_t> fromHex(std::string_view hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

// The named variables the definitions below create (none of the program's).
NamedVariables& store() {
    static NamedVariables named;
    return named;
}

void addResolved(std::vector<Datum>& out, std::string_view name, std::string_view units, std::uint32_t type) {
    const auto r = resolveDatum(store(), name, units, type);
    EXPECT_TRUE(std::holds_alternative<Datum>(r)) << name << " / " << units;
    if (std::holds_alternative<Datum>(r)) {
        out.push_back(std::get<Datum>(r));
    }
}

std::vector<Datum> define(std::initializer_list<std::tuple<const char*, const char*, std::uint32_t>> items) {
    std::vector<Datum> out;
    for (const auto& [name, units, type] : items) {
        addResolved(out, name, units, type);
    }
    return out;
}

// The panel program's data definition `id`, as the golden start-up adds it.
std::vector<Datum> programDefinition(std::int64_t id) {
    std::vector<Datum> out;
    for (const auto& add : golden::packets("AddToDataDefinition")) {
        if (add.num("define") == id) {
            addResolved(out, add.str("datum"), add.str("units"), static_cast<std::uint32_t>(add.num("type")));
        }
    }
    return out;
}

// The two blocks the panel program reads, against the bytes that
// node-simconnect decodes to these values.
TEST(DataBlock, ProgramDefinitionsGiveTheReferenceBytes) {
    Simulator sim;
    Model& m = sim.model();
    ASSERT_FALSE(m.set(Var::ComStandby1, 118.0));
    ASSERT_FALSE(m.set(Var::ComStandby2, 121.5));
    ASSERT_FALSE(m.set(Var::NavStandby1, 113.45));
    ASSERT_FALSE(m.set(Var::NavStandby2, 110.5));
    ASSERT_FALSE(m.set(Var::HeadingBug, 270));
    ASSERT_FALSE(m.set(Var::Obs1, 90));
    ASSERT_FALSE(m.set(Var::Obs2, 180));
    ASSERT_FALSE(m.set(Var::ApAltitude, 5000));
    ASSERT_FALSE(m.set(Var::ApVerticalSpeed, -500));
    ASSERT_FALSE(m.set(Var::Transponder, 0x1200));
    ASSERT_FALSE(m.set(Var::ApMaster, 1));
    ASSERT_FALSE(m.set(Var::ApNav1Lock, 1));
    ASSERT_FALSE(m.set(Var::ApAltitudeLock, 1));

    const auto radios = programDefinition(0);
    const auto autopilot = programDefinition(1);
    std::vector<std::uint8_t> out(128);
    ASSERT_EQ(buildDataBlock(sim, radios, out), 56u);
    EXPECT_EQ(std::vector(out.begin(), out.begin() + 56),
              fromHex("0000000000805d40 0000000000605e40 cdcccccccc5c5c40 0000000000a05b40 "
                      "0000000000e07040 0000000000805640 0000000000806640"));
    ASSERT_EQ(buildDataBlock(sim, autopilot, out), 44u);
    EXPECT_EQ(std::vector(out.begin(), out.begin() + 44),
              fromHex("000000000088b340 0000000000407fc0 00120000 01000000 00000000 01000000 00000000 "
                      "01000000 00000000"));
}

TEST(DataBlock, WidthsUnitsAndTruncation) {
    Simulator sim;
    Model& m = sim.model();
    ASSERT_FALSE(m.set(Var::HeadingBug, 270.7));
    ASSERT_FALSE(m.set(Var::ApVerticalSpeed, -650.5));
    const auto datums = define({{"AUTOPILOT HEADING LOCK DIR", "degrees", 1},
                                {"AUTOPILOT VERTICAL HOLD VAR", "feet/minute", 2},
                                {"NAV STANDBY FREQUENCY:1", "kHz", 3},
                                {"NAV STANDBY FREQUENCY:1", "", 4}});
    std::vector<std::uint8_t> out(64);
    ASSERT_EQ(buildDataBlock(sim, datums, out), 4u + 8u + 4u + 8u);
    std::int32_t heading;
    std::int64_t vs;
    float khz;
    double mhz;
    std::memcpy(&heading, out.data(), 4);
    std::memcpy(&vs, out.data() + 4, 8);
    std::memcpy(&khz, out.data() + 12, 4);
    std::memcpy(&mhz, out.data() + 16, 8);
    EXPECT_EQ(heading, 270);  // truncated, not rounded
    EXPECT_EQ(vs, -650);      // toward zero
    EXPECT_FLOAT_EQ(khz, 110500.0f);
    EXPECT_DOUBLE_EQ(mhz, 110.5);  // empty unit: the variable's own
    EXPECT_EQ(buildDataBlock(sim, datums, std::span(out).first(23)), 0u);
}

TEST(DataBlock, RejectsWithTheOffendingParameter) {
    struct {
        const char* name;
        const char* units;
        std::uint32_t type;
        ExceptionCode code;
        std::uint32_t index;
    } cases[] = {
        {"", "MHz", 4, ExceptionCode::NameUnrecognized, 2},
        {"L:", "number", 4, ExceptionCode::NameUnrecognized, 2},
        {"COM STANDBY FREQUENCY:1", "parsecs", 4, ExceptionCode::NameUnrecognized, 3},
        {"TRANSPONDER CODE:1", "feet", 1, ExceptionCode::NameUnrecognized, 3},
        {"AUTOPILOT MASTER", "Bool", 8, ExceptionCode::InvalidDataType, 4},
        {"AUTOPILOT MASTER", "Bool", 0, ExceptionCode::InvalidDataType, 4},
        {"AUTOPILOT MASTER", "Bool", 9, ExceptionCode::InvalidDataType, 4},  // numbers are not strings
        {"L:E_FCU_ALTITUDE", "number", 11, ExceptionCode::InvalidDataType, 4},
        {"A:SOME VAR", "number", 12, ExceptionCode::InvalidDataType, 4},
        {"TITLE", "", 4, ExceptionCode::InvalidDataType, 4},  // a string is not a number
        {"TITLE", "", 12, ExceptionCode::InvalidDataType, 4},
    };
    for (const auto& c : cases) {
        const auto r = resolveDatum(store(), c.name, c.units, c.type);
        ASSERT_TRUE(std::holds_alternative<Rejection>(r)) << c.name;
        EXPECT_EQ(std::get<Rejection>(r).code, c.code) << c.name;
        EXPECT_EQ(std::get<Rejection>(r).index, c.index) << c.name;
    }
}

TEST(Json, EscapesWhatJsonRequires) {
    std::string out;
    appendJsonString(out, std::string_view("a\"b\\c\nd\x01\xe9", 9));
    EXPECT_EQ(out, R"("a\"b\\c\nd\u0001\u00e9")");
    JsonLine line;
    line.uint("send_id", 4294967295u).string("call", "Open").number("epsilon", 0.0).null("sim_event");
    EXPECT_EQ(line.finish(), "{\"send_id\":4294967295,\"call\":\"Open\",\"epsilon\":0,\"sim_event\":null}\n");
}

TEST(Json, StateHoldsEveryVariableAndTheCounts) {
    Simulator sim;
    sim.receive(1, "MobiFlight.AS530_ENT_Push", 0);
    sim.receive(1, "", 0);
    sim.receive(1, "TOGGLE_GPS_DRIVES_NAV2", 0);
    sim.receive(1, "NAV1_STBY_SET", 0x11345);
    sim.advanceFrame();
    const std::string s = stateJson(sim);
    for (std::size_t i = 0; i < kVarCount; ++i) {
        EXPECT_NE(s.find("\"" + std::string(info(static_cast<Var>(i)).name) + "\": "), std::string::npos);
    }
    EXPECT_NE(s.find("\"NAV STANDBY FREQUENCY:1\": 113.45,"), std::string::npos);
    EXPECT_NE(s.find("\"TRANSPONDER CODE:1\": 4608,"), std::string::npos);
    EXPECT_NE(s.find("\"COM ACTIVE FREQUENCY:1\": 124.85,"), std::string::npos);
    EXPECT_NE(s.find("\"custom_events\": {\"\": 1, \"MobiFlight.AS530_ENT_Push\": 1}"), std::string::npos);
    EXPECT_NE(s.find("\"unknown_events\": {\"TOGGLE_GPS_DRIVES_NAV2\": 1}"), std::string::npos);
}

TEST(Display, DescribesEachAppliedEvent) {
    Simulator sim;
    sim.model().limit({Var::ApVerticalSpeed, -400, 2000});
    sim.receive(1, "COM_RADIO_WHOLE_INC", 1);  // twice in one frame: each line its own value
    sim.receive(1, "COM_RADIO_WHOLE_INC", 1);
    sim.receive(1, "NAV1_STBY_SET", 0x11345);
    sim.receive(1, "COM_STBY_RADIO_SWAP", 0);
    sim.receive(1, "XPNDR_SET", 0x1280);
    sim.receive(1, "AP_VS_VAR_SET_ENGLISH", 0xFFFFFE0C);
    sim.receive(1, "", 0);
    sim.receive(1, "TOGGLE_GPS_DRIVES_NAV2", 0);
    const auto& applied = sim.advanceFrame();
    ASSERT_EQ(applied.size(), 8u);
    std::vector<std::string> lines;
    for (const auto& a : applied) {
        lines.push_back(describeApplied(a));
    }
    EXPECT_EQ(lines[0], "COM_RADIO_WHOLE_INC -> COM STANDBY FREQUENCY:1 = 119.000");
    EXPECT_EQ(lines[1], "COM_RADIO_WHOLE_INC -> COM STANDBY FREQUENCY:1 = 120.000");
    lines.erase(lines.begin(), lines.begin() + 2);
    EXPECT_EQ(lines[0], "NAV1_STBY_SET 0x11345 -> NAV STANDBY FREQUENCY:1 = 113.45");
    EXPECT_EQ(lines[1], "COM_STBY_RADIO_SWAP -> COM ACTIVE FREQUENCY:1 = 120.000, COM STANDBY FREQUENCY:1 = 124.850");
    EXPECT_EQ(lines[2], "XPNDR_SET 0x1280 -> ignored: not a BCO16 squawk code");
    EXPECT_EQ(lines[3], "AP_VS_VAR_SET_ENGLISH -500 -> AUTOPILOT VERTICAL HOLD VAR = -400 (held by --limit)");
    EXPECT_EQ(lines[4], "(empty name) 0 -> private client event, no effect here (1 time)");
    EXPECT_EQ(lines[5], "TOGGLE_GPS_DRIVES_NAV2 0 -> unknown to the simulator, no effect (1 time)");
}

TEST(Display, ShowsClientTextEscaped) {
    EXPECT_EQ(printable("Request Data"), "Request Data");
    EXPECT_EQ(printable(std::string_view("a\x1b[2J\n\\\xe9\0", 9)), R"(a\x1b[2J\x0a\x5c\xe9\x00)");
    EXPECT_EQ(printable(std::string(300, 'x')), std::string(80, 'x') + "...");

    // The live view: its own escapes (home, clear) and nothing a client sent.
    char* text = nullptr;
    std::size_t size = 0;
    {
        Output out(open_memstream(&text, &size), "memory", true);
        Display display(out, true, false);
        Simulator sim;
        sim.receive(1, "\x1b]0;title\x07", 0);
        display.applied(sim.advanceFrame().at(0), false);
        display.redraw(sim, ViewInfo{"127.0.0.1:500", 16, 0, {{1, "Evil\x1b[2J"}, {2, std::nullopt}}});
        ASSERT_TRUE(out.close());
    }
    const std::string view(text, size);
    std::free(text);
    EXPECT_EQ(view.rfind("\x1b[H\x1b[J", 0), 0u);
    EXPECT_EQ(std::count(view.begin(), view.end(), '\x1b'), 2) << view;
    EXPECT_EQ(view.find('\x07'), std::string::npos);
    EXPECT_NE(view.find(R"([1 Evil\x1b[2J]  [2 (not open)])"), std::string::npos) << view;
    EXPECT_NE(view.find(R"(unknown \x1b]0;title\x07 x1)"), std::string::npos) << view;
    EXPECT_NE(view.find(R"(  \x1b]0;title\x07 0 -> unknown)"), std::string::npos) << view;
}

TEST(Options, DefaultsAndValues) {
    Options o;
    ASSERT_FALSE(parseOptions({}, o).has_value());
    EXPECT_EQ(o.port, 500);
    EXPECT_EQ(o.bind, "127.0.0.1");
    EXPECT_EQ(o.frame_ms, 16u);
    EXPECT_EQ(o.event_delay_frames, 0u);
    EXPECT_FALSE(o.once || o.quiet || o.help);

    // clang-format off
    const std::vector<std::string_view> args{
        "--port", "0", "--bind", "0.0.0.0", "--frame-ms=5", "--event-delay-frames", "3",
        "--set", "AUTOPILOT MASTER=1", "--set", "TRANSPONDER CODE:1=0x7000", "--trace", "t.jsonl",
        "--state-out", "s.json", "--port-file", "p", "--once", "--quiet"};
    // clang-format on
    Options p;
    ASSERT_FALSE(parseOptions(args, p).has_value());
    EXPECT_EQ(p.port, 0);
    EXPECT_EQ(p.bind, "0.0.0.0");
    EXPECT_EQ(p.frame_ms, 5u);
    EXPECT_EQ(p.event_delay_frames, 3u);
    ASSERT_EQ(p.settings.size(), 2u);
    EXPECT_EQ(p.settings[1].var, Var::Transponder);
    EXPECT_EQ(p.settings[1].value, 0x7000);
    EXPECT_EQ(p.trace_path, "t.jsonl");
    EXPECT_EQ(p.state_out_path, "s.json");
    EXPECT_EQ(p.port_file, "p");
    EXPECT_TRUE(p.once && p.quiet);
}

// clang-format off
TEST(Options, UsageErrorsNameTheOption) {
    const std::vector<std::vector<std::string_view>> bad{
        {"--port", "65536"},        {"--port", "-1"},         {"--port"},
        {"--bind", "localhost"},    {"--frame-ms", "0"},      {"--frame-ms", "1.5"},
        {"--event-delay-frames", "x"}, {"--set", "NOPE=1"},   {"--trace", ""},
        {"--limit", "NOPE=1:2"},    {"--limit", "AUTOPILOT MASTER=1:0"},
                                                          // clang-format on
                                                          {"--verbose"},
                                                          {"--once=1"},
                                                          {"stray"}};
    for (const auto& args : bad) {
        Options o;
        const auto error = parseOptions(args, o);
        ASSERT_TRUE(error.has_value()) << args[0];
        const std::string_view option = args[0].substr(0, args[0].find('='));
        EXPECT_NE(error->find(option), std::string::npos) << *error;
        EXPECT_NE(error->find("): "), std::string::npos) << *error;
    }
}

}  // namespace
}  // namespace simemu
