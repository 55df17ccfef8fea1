// What aircraft profiles need of the emulator, end to end with the real
// binary: aircraft loaded by --aircraft and cycled by SIGUSR1 with
// AircraftLoaded sent to subscribers, the system state and TITLE following;
// L:vars and unmodelled A:vars read through data definitions and written by
// SetDataOnSimObject; input events enumerated and set; the caps.
#include "harness.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <sstream>

namespace emutest {
namespace {

using scproto::DataType;
using scproto::RecvId;

constexpr std::uint32_t kSimFrame = 3;
constexpr std::uint32_t kFlagChanged = 1;
constexpr std::uint32_t kUnmappedEvent = 9999;
constexpr auto kFloat64 = static_cast<std::uint32_t>(DataType::Float64);
constexpr auto kInt32 = static_cast<std::uint32_t>(DataType::Int32);

const std::string kA320 = "FlyByWire A320neo|SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg";
const std::string kA320Path = "SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg";
const std::string kFenix = "Fenix A320 CFM|SimObjects/Airplanes/FNX320/aircraft.cfg";
const std::string kFenixPath = "SimObjects/Airplanes/FNX320/aircraft.cfg";

template <typename T>
T decodeAs(const Record& r) {
    T out{};
    EXPECT_FALSE(scproto::decode(r.bytes, out)) << "record id " << r.header.id;
    return out;
}

// The next record of `id` (others dropped), waiting a few seconds at most.
std::optional<Record> nextOf(TestClient& c, RecvId id) {
    while (auto r = c.next()) {
        if (r->id() == id) {
            return r;
        }
    }
    return std::nullopt;
}

// The records up to the exception answering `sentinel` (an unmapped
// transmission), which is not included.
std::vector<Record> recordsUntil(TestClient& c, std::uint32_t sentinel) {
    std::vector<Record> seen;
    while (auto r = c.next()) {
        if (r->id() == RecvId::Exception && decodeAs<scproto::RecvException>(*r).send_id == sentinel) {
            return seen;
        }
        seen.push_back(std::move(*r));
    }
    ADD_FAILURE() << "no answer to the sentinel packet " << sentinel;
    return seen;
}

// The exceptions among the records before the sentinel's answer, as
// {code, send ID, index}.
std::vector<std::array<std::uint32_t, 3>> exceptionsUntil(TestClient& c, std::uint32_t sentinel) {
    std::vector<std::array<std::uint32_t, 3>> out;
    for (const auto& r : recordsUntil(c, sentinel)) {
        if (r.id() == RecvId::Exception) {
            const auto e = decodeAs<scproto::RecvException>(r);
            out.push_back({e.exception, e.send_id, e.index});
        }
    }
    return out;
}

std::vector<minijson::Value> traceOf(const std::string& text, const std::string& call) {
    std::vector<minijson::Value> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        auto v = minijson::Parser(line).parse();
        if (v.str("call") == call) {
            out.push_back(std::move(v));
        }
    }
    return out;
}

template <typename... T>
Bytes block(T... values) {
    Bytes out;
    (
        [&] {
            const auto* p = reinterpret_cast<const std::uint8_t*>(&values);
            out.insert(out.end(), p, p + sizeof values);
        }(),
        ...);
    return out;
}

double f64At(const scproto::RecvSimObjectData& d, std::size_t at) {
    double v = 0;
    std::memcpy(&v, d.data.data() + at, sizeof v);
    return v;
}

TEST(ProfileEmulator, AircraftCycleOnSigusr1WithAircraftLoadedTitleAndState) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--frame-ms", "5", "--aircraft", kA320, "--aircraft", kFenix, "--trace",
                           emu.path("trace.jsonl"), "--state-out", emu.path("state.json")}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    c.subscribe(1, "AircraftLoaded");
    c.requestState(2, "AircraftLoaded");
    // TITLE in three string types, around a number, as one block.
    c.add(0, "TITLE", "", static_cast<std::uint32_t>(DataType::String256));
    c.add(0, "AUTOPILOT ALTITUDE LOCK VAR", "feet", kFloat64);
    c.add(0, "title", "", static_cast<std::uint32_t>(DataType::String8));
    c.add(0, "TITLE", "", static_cast<std::uint32_t>(DataType::StringV));
    c.request(0, 0, kSimFrame, kFlagChanged);

    const auto state = nextOf(c, RecvId::SystemState);
    ASSERT_TRUE(state.has_value());
    const auto s = decodeAs<scproto::RecvSystemState>(*state);
    EXPECT_EQ(s.request_id, 2u);
    EXPECT_EQ(s.string, kA320Path);

    const auto titleOf = [&](const std::string& expected) {
        SCOPED_TRACE(expected);
        const auto r = nextOf(c, RecvId::SimObjectData);
        ASSERT_TRUE(r.has_value());
        const auto d = decodeAs<scproto::RecvSimObjectData>(*r);
        std::span<const std::uint8_t> data = d.data;
        std::size_t size = 0;
        EXPECT_EQ(scproto::getStringDatum(data, DataType::String256, size), expected);
        data = data.subspan(size);
        EXPECT_EQ(f64At(d, 256), 5000.0);
        data = data.subspan(8);
        EXPECT_EQ(scproto::getStringDatum(data, DataType::String8, size), expected.substr(0, 7));
        data = data.subspan(size);
        EXPECT_EQ(scproto::getStringDatum(data, DataType::StringV, size), expected);
        EXPECT_EQ(size, data.size()) << "a StringV ends the block with its padding";
        EXPECT_EQ(size % 4, 0u);
    };
    titleOf("FlyByWire A320neo");

    // Each SIGUSR1 loads the next aircraft, the last followed by the first.
    for (const auto& [title, path] : {std::pair{"Fenix A320 CFM", kFenixPath}, {"FlyByWire A320neo", kA320Path}}) {
        ASSERT_EQ(::kill(emu.pid(), SIGUSR1), 0);
        const auto loaded = nextOf(c, RecvId::EventFilename);
        ASSERT_TRUE(loaded.has_value());
        const auto e = decodeAs<scproto::RecvEventFilename>(*loaded);
        EXPECT_EQ(e.event_id, 1u);
        EXPECT_EQ(e.group_id, 0xFFFFFFFFu);
        EXPECT_EQ(e.file_name, path);
        titleOf(title);  // changed, so sent again under the CHANGED flag
        c.requestState(3, "AircraftLoaded");
        const auto again = nextOf(c, RecvId::SystemState);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(decodeAs<scproto::RecvSystemState>(*again).string, path);
    }

    // Unsubscribed, a load brings nothing but the new title.
    c.unsubscribe(1);
    c.request(0, 0, 0);  // NEVER: the title stream stops too
    const auto before = c.transmit(kUnmappedEvent, 0);
    recordsUntil(c, before);
    ASSERT_EQ(::kill(emu.pid(), SIGUSR1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    for (const auto& r : recordsUntil(c, sentinel)) {
        ADD_FAILURE() << "record " << r.header.id << " after unsubscribing";
    }
    EXPECT_EQ(emu.stop(SIGTERM), 0);

    const std::string trace = testproc::readFile(emu.path("trace.jsonl"));
    const auto subscribe = traceOf(trace, "SubscribeToSystemEvent");
    ASSERT_EQ(subscribe.size(), 1u);
    EXPECT_EQ(subscribe[0].num("event"), 1);
    EXPECT_EQ(subscribe[0].str("name"), "AircraftLoaded");
    const auto requests = traceOf(trace, "RequestSystemState");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].num("request"), 2);
    EXPECT_EQ(requests[0].str("name"), "AircraftLoaded");
    const auto loads = traceOf(trace, "LoadAircraft");
    ASSERT_EQ(loads.size(), 3u);
    EXPECT_EQ(loads[2].str("title"), "Fenix A320 CFM");
    EXPECT_EQ(loads[2].str("path"), kFenixPath);
    EXPECT_NE(testproc::readFile(emu.path("state.json"))
                  .find(R"("aircraft": {"title": "Fenix A320 CFM", "path": ")" + kFenixPath + "\"}"),
              std::string::npos);
    EXPECT_NE(emu.err().find("aircraft \"Fenix A320 CFM\" loaded (" + kFenixPath + ")"), std::string::npos)
        << emu.err();
}

TEST(ProfileEmulator, WithoutAircraftItIsTheEmulatedOneAndOtherStatesAnswer) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    c.map(5, "AP_MASTER");
    c.requestState(1, "aircraftloaded");
    c.requestState(2, "Sim");
    const auto unknownState = c.requestState(3, "NoSuchState");
    const auto unknownEvent = c.subscribe(6, "NoSuchEvent");
    const auto sharedId = c.subscribe(5, "Pause");  // 5 is a mapped event's ID
    c.subscribe(7, "Pause");
    const auto twice = c.subscribe(7, "SimStart");
    const auto notSubscribed = c.unsubscribe(8);
    c.add(0, "TITLE", "", static_cast<std::uint32_t>(DataType::String64));
    const auto titleAsNumber = c.add(0, "TITLE", "", kFloat64);
    c.request(0, 0, 1);  // ONCE
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    std::vector<std::array<std::uint32_t, 3>> exceptions;
    std::vector<scproto::RecvSystemState> states;
    std::string title;
    for (const auto& r : recordsUntil(c, sentinel)) {
        if (r.id() == RecvId::Exception) {
            const auto e = decodeAs<scproto::RecvException>(r);
            exceptions.push_back({e.exception, e.send_id, e.index});
        } else if (r.id() == RecvId::SystemState) {
            states.push_back(decodeAs<scproto::RecvSystemState>(r));
        }
    }
    const auto data = nextOf(c, RecvId::SimObjectData);
    ASSERT_TRUE(data.has_value());
    std::size_t size = 0;
    EXPECT_EQ(scproto::getStringDatum(decodeAs<scproto::RecvSimObjectData>(*data).data, DataType::String64, size),
              "Emulated Aircraft");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].string, "SimObjects/Airplanes/Emulated/aircraft.cfg");
    EXPECT_EQ(states[1].request_id, 2u);
    EXPECT_EQ(states[1].integer, 1u);
    const std::vector<std::array<std::uint32_t, 3>> expected{{7, unknownState, 2},  {7, unknownEvent, 2},
                                                             {9, sharedId, 1},      {9, twice, 1},
                                                             {3, notSubscribed, 1}, {18, titleAsNumber, 4}};
    EXPECT_EQ(exceptions, expected);
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

TEST(ProfileEmulator, NamedVariablesAreReadThroughDefinitionsAndWrittenBySetData) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--frame-ms", "5", "--quiet", "--set", "L:E_FCU_ALTITUDE=5", "--set", "A:SOME VAR:1=3",
                           "--trace", emu.path("trace.jsonl"), "--state-out", emu.path("state.json")}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    c.add(0, "L:E_FCU_ALTITUDE", "number", kFloat64);
    c.add(0, "A:SOME VAR:1", "feet", kInt32);
    c.add(0, "NEVER SET VAR", "knots", kFloat64);  // unmodelled: reads 0
    c.add(0, "AUTOPILOT ALTITUDE LOCK VAR", "feet", kFloat64);
    c.request(0, 0, kSimFrame, kFlagChanged);
    const auto expectBlock = [&](double lvar, std::int32_t avar, double altitude) {
        const auto r = nextOf(c, RecvId::SimObjectData);
        ASSERT_TRUE(r.has_value());
        const auto d = decodeAs<scproto::RecvSimObjectData>(*r);
        ASSERT_EQ(d.data.size(), 8u + 4u + 8u + 8u);
        EXPECT_EQ(f64At(d, 0), lvar);
        std::int32_t a = 0;
        std::memcpy(&a, d.data.data() + 8, 4);
        EXPECT_EQ(a, avar);
        EXPECT_EQ(f64At(d, 12), 0.0);
        EXPECT_EQ(f64At(d, 20), altitude);
    };
    expectBlock(5, 3, 5000);

    // One write of an L:var and a modelled variable in another unit.
    c.add(1, "l:e_fcu_altitude", "number", kFloat64);
    c.add(1, "AUTOPILOT ALTITUDE LOCK VAR", "meters", kFloat64);
    c.setData(1, block(12.0, 3048.0));
    expectBlock(12, 3, 10000);

    // Refused writes change nothing: a transponder code that is not BCO16
    // leaves the L:var before it as it was too.
    c.add(2, "L:E_FCU_ALTITUDE", "number", kFloat64);
    c.add(2, "TRANSPONDER CODE:1", "BCO16", kInt32);
    c.add(3, "TITLE", "", static_cast<std::uint32_t>(DataType::String8));
    const Bytes good = block(99.0, std::int32_t{0x7000});
    const auto unknownDefine = c.setData(9, good);
    const auto shortBlock = c.setData(2, Bytes(good.begin(), good.end() - 1));
    const auto wrongUnitSize = c.setData(2, good, 1, 8);
    const auto twoUnits = c.setData(2, good, 2);
    const auto tagged = c.setData(2, good, 1, std::nullopt, 1);
    const auto badSquawk = c.setData(2, block(99.0, std::int32_t{0x1280}));
    const auto title = c.setData(3, Bytes{'X', 0, 0, 0, 0, 0, 0, 0});
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    const std::vector<std::array<std::uint32_t, 3>> expected{
        {3, unknownDefine, 1}, {2, shortBlock, 5}, {2, wrongUnitSize, 5}, {21, twoUnits, 4},
        {20, tagged, 3},       {20, badSquawk, 6}, {20, title, 6}};
    EXPECT_EQ(exceptionsUntil(c, sentinel), expected);

    // Cleared, a definition and its requests are gone.
    c.clear(0);
    const auto cleared = c.clear(0);
    const auto gone = c.transmit(kUnmappedEvent, 0);
    EXPECT_EQ(exceptionsUntil(c, gone), (std::vector<std::array<std::uint32_t, 3>>{{3, cleared, 1}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto last = c.transmit(kUnmappedEvent, 0);
    for (const auto& r : recordsUntil(c, last)) {
        ADD_FAILURE() << "record " << r.header.id << " after the definition was cleared";
    }
    EXPECT_EQ(emu.stop(SIGTERM), 0);

    const auto sets = traceOf(testproc::readFile(emu.path("trace.jsonl")), "SetDataOnSimObject");
    ASSERT_EQ(sets.size(), 8u);
    EXPECT_EQ(sets[0]["values"].real("L:E_FCU_ALTITUDE"), 12);
    EXPECT_EQ(sets[0]["values"].real("AUTOPILOT ALTITUDE LOCK VAR"), 3048);
    EXPECT_EQ(sets[0].num("define"), 1);
    EXPECT_EQ(sets[0].num("count"), 1);
    EXPECT_EQ(sets[0].num("size"), 16);
    EXPECT_EQ(sets[2]["values"].kind, minijson::Value::Kind::Null);  // the short block
    EXPECT_EQ(sets[7]["values"].str("TITLE"), "X");
    const std::string state = testproc::readFile(emu.path("state.json"));
    EXPECT_NE(state.find("\"AUTOPILOT ALTITUDE LOCK VAR\": 10000,"), std::string::npos) << state;
    EXPECT_NE(state.find("\"L:E_FCU_ALTITUDE\": 12,\n  \"A:NEVER SET VAR\": 0,\n  \"A:SOME VAR:1\": 3,"),
              std::string::npos)
        << state;
}

TEST(ProfileEmulator, InputEventsAreEnumeratedByTheirHashAndSet) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--input-event", "AUTOPILOT_AP1", "--input-event", "INSTRUMENT_BARO", "--trace",
                           emu.path("trace.jsonl"), "--state-out", emu.path("state.json")}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    c.enumerateInputEvents(4);
    const auto list = nextOf(c, RecvId::EnumerateInputEvents);
    ASSERT_TRUE(list.has_value());
    const auto l = decodeAs<scproto::RecvEnumerateInputEvents>(*list);
    EXPECT_EQ(l.request_id, 4u);
    EXPECT_EQ(l.entry_number, 0u);
    EXPECT_EQ(l.out_of, 1u);
    ASSERT_EQ(l.array_size, 2u);
    const auto ap1 = scproto::inputEventAt(l, 0);
    EXPECT_EQ(ap1.name, "AUTOPILOT_AP1");
    EXPECT_EQ(ap1.hash, 0x0c2dcfbc413785a3u);  // 64-bit FNV-1a of the name
    EXPECT_EQ(ap1.type, static_cast<std::uint32_t>(DataType::Float64));
    EXPECT_EQ(scproto::inputEventAt(l, 1).name, "INSTRUMENT_BARO");

    c.setInputEvent(ap1.hash, block(1.0));
    const auto unknown = c.setInputEvent(ap1.hash ^ 1, block(1.0));
    const auto text = c.setInputEvent(ap1.hash, Bytes{'O', 'N', 0});
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    EXPECT_EQ(exceptionsUntil(c, sentinel),
              (std::vector<std::array<std::uint32_t, 3>>{{7, unknown, 1}, {19, text, 2}}));
    EXPECT_EQ(emu.stop(SIGTERM), 0);

    const auto sets = traceOf(testproc::readFile(emu.path("trace.jsonl")), "SetInputEvent");
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].str("name"), "AUTOPILOT_AP1");
    EXPECT_EQ(sets[0].real("value"), 1);
    EXPECT_EQ(sets[1]["name"].kind, minijson::Value::Kind::Null);
    EXPECT_EQ(sets[2]["value"].kind, minijson::Value::Kind::Null);
    // The hash is written exactly, all 64 bits.
    EXPECT_NE(testproc::readFile(emu.path("trace.jsonl")).find("\"hash\":877585909862073763,"), std::string::npos);
    EXPECT_NE(testproc::readFile(emu.path("state.json"))
                  .find(R"("input_events": {"AUTOPILOT_AP1": 1, "INSTRUMENT_BARO": 0})"),
              std::string::npos);
}

TEST(ProfileEmulator, LongInputEventListsComeInSeveralRecordsAndNoneInAnEmptyOne) {
    std::vector<std::string> args{"--quiet"};
    for (int i = 0; i < 130; ++i) {
        args.insert(args.end(), {"--input-event", "EVENT_" + std::to_string(i)});
    }
    for (const bool none : {false, true}) {
        SimEmulator emu;
        ASSERT_TRUE(emu.start(none ? std::vector<std::string>{"--quiet"} : args));
        TestClient c;
        ASSERT_TRUE(c.connect(emu.port()));
        c.open();
        c.enumerateInputEvents(1);
        std::vector<std::string> names;
        std::uint32_t records = 0;
        for (std::uint32_t k = 0; k < (none ? 1u : 3u); ++k) {
            const auto r = nextOf(c, RecvId::EnumerateInputEvents);
            ASSERT_TRUE(r.has_value());
            const auto l = decodeAs<scproto::RecvEnumerateInputEvents>(*r);
            EXPECT_EQ(l.entry_number, k);
            records = l.out_of;
            for (std::size_t i = 0; i < l.array_size; ++i) {
                names.emplace_back(scproto::inputEventAt(l, i).name);
            }
        }
        EXPECT_EQ(records, none ? 1u : 3u);
        ASSERT_EQ(names.size(), none ? 0u : 130u);
        if (!none) {
            EXPECT_EQ(names[129], "EVENT_129");
        }
        EXPECT_EQ(emu.stop(SIGTERM), 0);
    }
}

// A client cannot grow the emulator without bound: named variables,
// definitions too large for a record, subscriptions.
TEST(ProfileEmulator, NamedVariablesBlockSizesAndSubscriptionsAreCapped) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--set", "L:FROM_THE_COMMAND_LINE=1"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    std::uint32_t last = 0;
    for (int i = 0; i < 4096; ++i) {  // with the one from --set, one too many
        last = c.add(static_cast<std::uint32_t>(10 + i / 1000), "L:V" + std::to_string(i), "number", kFloat64);
    }
    c.add(20, "L:V0", "number", kFloat64);  // one the store has: no exception below
    // 255 STRING256 datums fit a record, the 256th does not.
    std::uint32_t tooBig = 0;
    for (int i = 0; i < 256; ++i) {
        tooBig = c.add(30, "TITLE", "", static_cast<std::uint32_t>(DataType::String256));
    }
    std::uint32_t oneTooMany = 0;
    for (std::uint32_t i = 0; i <= 1000; ++i) {
        oneTooMany = c.subscribe(100 + i, "Frame");
    }
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    EXPECT_EQ(exceptionsUntil(c, sentinel),
              (std::vector<std::array<std::uint32_t, 3>>{{28, last, 2}, {28, tooBig, 4}, {8, oneTooMany, 1}}));
    EXPECT_EQ(emu.stop(SIGTERM), 0);
    // Said once, on standard error.
    const std::string err = emu.err();
    const auto said = err.find("the named variables are 4096");
    EXPECT_NE(said, std::string::npos) << err;
    EXPECT_EQ(err.find("the named variables are 4096", said + 1), std::string::npos) << err;
}

TEST(ProfileEmulator, BadAircraftAndInputEventOptionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad{
        {"--aircraft", "no bar"},
        {"--aircraft", "|path"},
        {"--aircraft", "title|"},
        {"--aircraft", std::string(256, 'T') + "|path"},
        {"--input-event", ""},
        {"--input-event", std::string(64, 'E')},
        {"--input-event", "SAME", "--input-event", "SAME"},
        {"--set", "L:=1"},
    };
    for (const auto& args : bad) {
        SimEmulator emu;
        EXPECT_EQ(emu.runToEnd(args), 2) << args[1];
        EXPECT_NE(emu.err().find(args[0] + "("), std::string::npos) << emu.err();
    }
}

}  // namespace
}  // namespace emutest
