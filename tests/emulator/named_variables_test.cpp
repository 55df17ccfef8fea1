// The named-variable store (L:vars and unmodelled A:vars) and how the
// simulator reads any variable by name: the store alone, the --set texts and
// the state output.
#include "datablock.h"
#include "input_events.h"
#include "json.h"
#include "named_variables.h"
#include "options.h"
#include "simulator.h"
#include "value_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace simemu {
namespace {

TEST(NamedVariables, OneVariablePerKindAndNameWhateverTheCase) {
    NamedVariables store;
    const auto alt = store.define(NamedKind::Local, "E_FCU_Altitude");
    ASSERT_TRUE(alt.has_value());
    EXPECT_EQ(store.value(*alt), 0.0);  // new variables read 0
    store.set(*alt, 5);
    EXPECT_EQ(store.define(NamedKind::Local, "E_FCU_ALTITUDE"), alt);
    EXPECT_EQ(store.find(NamedKind::Local, "e_fcu_altitude"), alt);
    EXPECT_EQ(store.displayName(*alt), "L:E_FCU_Altitude");  // as first given
    EXPECT_EQ(store.value(*alt), 5.0);
    // The same name as an A:var is another variable.
    EXPECT_FALSE(store.find(NamedKind::Sim, "E_FCU_ALTITUDE").has_value());
    const auto sim = store.define(NamedKind::Sim, "E_FCU_ALTITUDE");
    ASSERT_TRUE(sim.has_value());
    EXPECT_NE(sim, alt);
    EXPECT_EQ(store.displayName(*sim), "A:E_FCU_ALTITUDE");
    store.define(NamedKind::Local, "A_FIRST");
    std::vector<std::string> names;
    for (const auto id : store.sorted()) {
        names.push_back(store.displayName(id));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"L:A_FIRST", "L:E_FCU_Altitude", "A:E_FCU_ALTITUDE"}));
}

TEST(NamedVariables, HoldsAtMostItsCapAndKeepsServingThoseItHas) {
    NamedVariables store;
    for (std::size_t i = 0; i < kMaxNamedVariables; ++i) {
        ASSERT_TRUE(store.define(NamedKind::Local, "V" + std::to_string(i)).has_value()) << i;
    }
    EXPECT_FALSE(store.define(NamedKind::Local, "ONE_MORE").has_value());
    EXPECT_FALSE(store.define(NamedKind::Sim, "V0").has_value());
    EXPECT_EQ(store.size(), kMaxNamedVariables);
    EXPECT_EQ(store.define(NamedKind::Local, "v17"), store.find(NamedKind::Local, "V17"));
}

TEST(NamedVariables, PrefixesSayTheKind) {
    struct {
        const char* text;
        NamedKind kind;
        const char* name;
    } cases[] = {
        {"L:E_FCU_HEADING", NamedKind::Local, "E_FCU_HEADING"},     {" l:lower ", NamedKind::Local, "lower"},
        {"A:PLANE ALTITUDE", NamedKind::Sim, "PLANE ALTITUDE"},     {"TITLE", NamedKind::Sim, "TITLE"},
        {"GENERAL ENG RPM:1", NamedKind::Sim, "GENERAL ENG RPM:1"},
    };
    for (const auto& c : cases) {
        const auto ref = parseNamedRef(c.text);
        ASSERT_TRUE(ref.has_value()) << c.text;
        EXPECT_EQ(ref->kind, c.kind) << c.text;
        EXPECT_EQ(ref->name, c.name) << c.text;
    }
    EXPECT_FALSE(parseNamedRef("L:").has_value());
    EXPECT_FALSE(parseNamedRef("  ").has_value());
}

TEST(NamedVariables, TheSimulatorReadsAnyVariableByNameAndUnit) {
    Simulator sim;
    // Modelled variables, with or without the prefix, in the unit asked.
    EXPECT_EQ(sim.readVariable("AUTOPILOT ALTITUDE LOCK VAR", "feet"), 5000.0);
    EXPECT_NEAR(*sim.readVariable("A:autopilot altitude lock var", "meters"), 1524.0, 1e-9);
    EXPECT_EQ(sim.readVariable("A:AUTOPILOT ALTITUDE LOCK VAR", ""), 5000.0);
    EXPECT_FALSE(sim.readVariable("AUTOPILOT ALTITUDE LOCK VAR", "MHz").has_value());
    EXPECT_FALSE(sim.readVariable("AUTOPILOT ALTITUDE LOCK VAR", "parsecs").has_value());
    // Any other reads 0 until written, in whatever unit; reading creates nothing.
    EXPECT_EQ(sim.readVariable("L:A32NX_AUTOPILOT_1_ACTIVE", "number"), 0.0);
    EXPECT_EQ(sim.readVariable("A:SOME VAR:1", "knots"), 0.0);
    EXPECT_EQ(sim.named().size(), 0u);
    ASSERT_TRUE(sim.writeLocal("A32NX_AUTOPILOT_1_ACTIVE", 1));
    EXPECT_EQ(sim.readVariable("L:a32nx_autopilot_1_active", "bool"), 1.0);
    EXPECT_FALSE(sim.writeLocal(" ", 1));
    EXPECT_FALSE(sim.readVariable("", "number").has_value());
}

TEST(NamedVariables, SetOnTheCommandLineAndWrittenInTheState) {
    struct {
        const char* text;
        Var var;
        NamedKind kind;
        const char* name;
        double value;
    } good[] = {
        {"L:E_FCU_ALTITUDE=5", Var::Count, NamedKind::Local, "E_FCU_ALTITUDE", 5},
        {"A:SOME VAR:1=3", Var::Count, NamedKind::Sim, "SOME VAR:1", 3},
        {"L:NEG = -2.5", Var::Count, NamedKind::Local, "NEG", -2.5},
        {"a:autopilot master=on", Var::ApMaster, NamedKind::Sim, "", 1},  // modelled: its own syntax
    };
    for (const auto& g : good) {
        std::string error;
        const auto s = parseSetting(g.text, error);
        ASSERT_TRUE(s.has_value()) << g.text << ": " << error;
        EXPECT_EQ(s->var, g.var) << g.text;
        EXPECT_EQ(s->kind, g.kind) << g.text;
        EXPECT_EQ(s->name, g.name) << g.text;
        EXPECT_EQ(s->value, g.value) << g.text;
    }
    for (const char* bad : {"L:=1", "L:X=abc", "L:X=", "A:X=inf", "L:X", "SOME VAR:1=3", "A:AUTOPILOT MASTER=2"}) {
        std::string error;
        EXPECT_FALSE(parseSetting(bad, error).has_value()) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }

    // No more named --set values than the store holds.
    std::vector<std::string> texts;
    for (std::size_t i = 0; i <= kMaxNamedVariables; ++i) {
        texts.push_back("--set=L:V" + std::to_string(i) + "=1");
    }
    const std::vector<std::string_view> args(texts.begin(), texts.end());
    Options o;
    const auto error = parseOptions(std::span(args).first(kMaxNamedVariables), o);
    EXPECT_FALSE(error.has_value()) << *error;
    Options over;
    EXPECT_NE(parseOptions(args, over).value_or("").find("named variables"), std::string::npos);

    Simulator sim;
    sim.writeLocal("E_FCU_ALTITUDE", 5);
    sim.named().set(*sim.named().define(NamedKind::Sim, "SOME VAR:1"), 3);
    const std::string state = stateJson(sim);
    EXPECT_NE(state.find("  \"L:E_FCU_ALTITUDE\": 5,\n  \"A:SOME VAR:1\": 3,\n  \"aircraft\""), std::string::npos)
        << state;
}

// SetDataOnSimObject's block, read by its definition and written all or
// nothing.
TEST(NamedVariables, DataBlocksAreReadWholeAndWrittenAllOrNothing) {
    Simulator sim;
    std::vector<Datum> datums;
    for (const auto& [name, units, type] : {std::tuple{"L:COUNTER", "number", DatumType::Int32},
                                            {"AUTOPILOT HEADING LOCK DIR", "radians", DatumType::Float64},
                                            {"TRANSPONDER CODE:1", "BCO16", DatumType::Int32}}) {
        const auto d = resolveDatum(sim.named(), name, units, static_cast<std::uint32_t>(type));
        ASSERT_TRUE(std::holds_alternative<Datum>(d)) << name;
        datums.push_back(std::get<Datum>(d));
    }
    std::vector<std::uint8_t> bytes(16);
    const std::int32_t counter = -7;
    const double half_turn = 3.14159265358979323846;
    std::int32_t squawk = 0x7700;
    std::memcpy(bytes.data(), &counter, 4);
    std::memcpy(bytes.data() + 4, &half_turn, 8);
    std::memcpy(bytes.data() + 12, &squawk, 4);
    EXPECT_FALSE(readDataBlock(datums, std::span(bytes).first(15)).has_value());
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(readDataBlock(datums, longer).has_value());

    auto values = readDataBlock(datums, bytes);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ((*values)[0].number, -7);
    // A value the variable cannot hold: nothing at all is written.
    (*values)[2].number = 0x1280;
    EXPECT_EQ(writeData(sim, datums, *values), std::size_t{2});
    EXPECT_EQ(sim.readVariable("L:COUNTER", "number"), 0.0);
    EXPECT_EQ(sim.model().value(Var::HeadingBug), 270.0);
    (*values)[2].number = 0x7700;
    EXPECT_FALSE(writeData(sim, datums, *values).has_value());
    EXPECT_EQ(sim.readVariable("L:COUNTER", "number"), -7.0);
    EXPECT_NEAR(sim.model().value(Var::HeadingBug), 180.0, 1e-9);  // given in radians
    EXPECT_EQ(sim.model().value(Var::Transponder), 0x7700);
}

TEST(NamedVariables, InputEventHashesAreFnv1a64) {
    // The published FNV-1a test vectors.
    EXPECT_EQ(inputEventHash(""), 0xcbf29ce484222325u);
    EXPECT_EQ(inputEventHash("a"), 0xaf63dc4c8601ec8cu);
    EXPECT_EQ(inputEventHash("foobar"), 0x85944171f73967e8u);
    InputEvents events({"AUTOPILOT_AP1", "INSTRUMENT_BARO"});
    ASSERT_NE(events.find(inputEventHash("INSTRUMENT_BARO")), nullptr);
    EXPECT_EQ(events.find(inputEventHash("INSTRUMENT_BARO"))->name, "INSTRUMENT_BARO");
    EXPECT_EQ(events.find(inputEventHash("instrument_baro")), nullptr);
}

}  // namespace
}  // namespace simemu
