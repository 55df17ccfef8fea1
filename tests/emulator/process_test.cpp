// End to end: the real sim-emulator binary, real sockets on 127.0.0.1, a
// client built on the shared codec.
#include "harness.h"
#include "startup_golden.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <thread>

namespace emutest {
namespace {

using scproto::RecvId;

constexpr std::uint32_t kSimFrame = 3;
constexpr std::uint32_t kOnce = 1;
constexpr std::uint32_t kNever = 0;
constexpr std::uint32_t kUnmappedEvent = 9999;

template <typename T>
T decodeAs(const Record& r) {
    T out{};
    EXPECT_FALSE(scproto::decode(r.bytes, out)) << "record id " << r.header.id;
    return out;
}

// Records until the exception that answers `sentinel`; the exceptions met
// on the way are returned, everything else is dropped.
std::vector<scproto::RecvException> exceptionsUntil(TestClient& c, std::uint32_t sentinel) {
    std::vector<scproto::RecvException> seen;
    while (auto r = c.next()) {
        if (r->id() != RecvId::Exception) {
            continue;
        }
        const auto e = decodeAs<scproto::RecvException>(*r);
        if (e.send_id == sentinel) {
            return seen;
        }
        seen.push_back(e);
    }
    ADD_FAILURE() << "no answer to the sentinel packet " << sentinel;
    return seen;
}

// The next data record of `request`.
std::optional<scproto::RecvSimObjectData> nextData(TestClient& c, std::uint32_t request, Record& holder) {
    while (auto r = c.next()) {
        if (r->id() == RecvId::SimObjectData) {
            holder = std::move(*r);
            auto d = decodeAs<scproto::RecvSimObjectData>(holder);
            if (d.request_id == request) {
                return d;
            }
        }
    }
    return std::nullopt;
}

// The panel program's client event for a simulator event, as its start-up
// maps it.
std::uint32_t programEvent(const std::string& name) {
    return static_cast<std::uint32_t>(golden::mapping(name).num("event"));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(EmulatorProcess, AnswersOpenAsKittyHawk) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    const auto r = c.next();
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->id(), RecvId::Open);
    EXPECT_EQ(r->header.version, 5u);
    const auto o = decodeAs<scproto::RecvOpen>(*r);
    EXPECT_EQ(o.application_name, "KittyHawk");
    EXPECT_EQ(o.application_version_major, 11u);
    EXPECT_EQ(o.simconnect_version_major, 11u);
    EXPECT_EQ(o.simconnect_build_major, 62651u);
    EXPECT_EQ(o.simconnect_build_minor, 3u);
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

TEST(EmulatorProcess, StreamsBothProgramBlocksEveryFrame) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--frame-ms", "2", "--set", "NAV STANDBY FREQUENCY:1=113.45", "--set",
                           "TRANSPONDER CODE:1=0x7000", "--set", "AUTOPILOT MASTER=1"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    replayProgramStartup(c);  // all sent before RECV_OPEN is read
    auto first = c.next();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->id(), RecvId::Open);
    // As MSFS does, it refuses one of the program's mappings, and only that.
    std::vector<scproto::RecvException> refused;
    int radios = 0;
    int autopilots = 0;
    while (radios < 10 || autopilots < 10) {
        auto r = c.next();
        ASSERT_TRUE(r.has_value());
        if (r->id() == RecvId::Exception) {
            refused.push_back(decodeAs<scproto::RecvException>(*r));
            continue;
        }
        ASSERT_EQ(r->id(), RecvId::SimObjectData) << "unexpected record " << r->header.id;
        const auto d = decodeAs<scproto::RecvSimObjectData>(*r);
        EXPECT_EQ(d.object_id, 1u);
        EXPECT_EQ(d.entry_number, 1u);
        EXPECT_EQ(d.out_of, 1u);
        EXPECT_EQ(d.define_id, d.request_id);
        if (d.request_id == 0) {
            ++radios;
            EXPECT_EQ(d.define_count, 7u);
            ASSERT_EQ(d.data.size(), 56u);
            const auto b = radioBlock(d);
            EXPECT_EQ(b.com1_standby, 118.0);
            EXPECT_EQ(b.nav1_standby, 113.45);
            EXPECT_EQ(b.heading_bug, 270.0);
        } else {
            ASSERT_EQ(d.request_id, 1u);
            ++autopilots;
            EXPECT_EQ(d.define_count, 9u);
            ASSERT_EQ(d.data.size(), 44u);
            const auto b = autopilotBlock(d);
            EXPECT_EQ(b.altitude, 5000.0);
            EXPECT_EQ(b.transponder, 0x7000u);
            EXPECT_EQ(b.master, 1);
            EXPECT_EQ(b.heading, 0);
        }
    }
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].exception, 7u);  // NAME_UNRECOGNIZED
    EXPECT_EQ(refused[0].index, 2u);
    EXPECT_EQ(refused[0].send_id, golden::mapping("TOGGLE_GPS_DRIVES_NAV2").num("send_id"));
    EXPECT_EQ(emu.stop(SIGINT), 0);
}

// The effect of events received between two frames is in the very next
// frame's data; with --event-delay-frames N, N frames later. The sentinel
// (an unmapped event, answered at once with an exception) marks in the
// record stream the moment the events arrived.
TEST(EmulatorProcess, EventsShowInTheFrameAfterTheirDelay) {
    for (const int delay : {0, 3}) {
        SimEmulator emu;
        ASSERT_TRUE(emu.start({"--quiet", "--frame-ms", "2", "--event-delay-frames", std::to_string(delay)}));
        TestClient c;
        ASSERT_TRUE(c.connect(emu.port()));
        const std::uint32_t setUp = replayProgramStartup(c);
        Record holder;
        ASSERT_TRUE(nextData(c, 1, holder).has_value());
        Bytes burst;
        for (const auto& [event, data] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                 {programEvent("NAV1_STBY_SET"), 0x11445},
                 {programEvent("AP_VS_VAR_SET_ENGLISH"), static_cast<std::uint32_t>(-500)},
                 {programEvent("AP_MASTER"), 0},
                 {programEvent("XPNDR_SET"), 0x4321},
                 {kUnmappedEvent, 0}}) {
            const Bytes p = c.transmitPacket(event, data);
            burst.insert(burst.end(), p.begin(), p.end());
        }
        const std::uint32_t sentinel = setUp + 5;
        c.sendRaw(burst);
        EXPECT_TRUE(exceptionsUntil(c, sentinel).empty());
        for (int frame = 0; frame < delay; ++frame) {
            const auto d = nextData(c, 1, holder);
            ASSERT_TRUE(d.has_value());
            EXPECT_EQ(autopilotBlock(*d).master, 0) << "delay " << delay << ", frame " << frame;
        }
        const auto ap = nextData(c, 1, holder);
        ASSERT_TRUE(ap.has_value());
        const auto b = autopilotBlock(*ap);
        EXPECT_EQ(b.master, 1) << "delay " << delay;
        EXPECT_EQ(b.vertical_speed, -500.0);
        EXPECT_EQ(b.transponder, 0x4321u);
        const auto radio = nextData(c, 0, holder);
        ASSERT_TRUE(radio.has_value());
        EXPECT_EQ(radioBlock(*radio).nav1_standby, 114.45);
        EXPECT_EQ(emu.stop(SIGTERM), 0);
    }
}

TEST(EmulatorProcess, ReportsBadNamesWithTheOffendingSendId) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    const auto typo = c.map(10, "COM_RADIO_WHOLE_INCC");
    const auto nav2 = c.map(52, "TOGGLE_GPS_DRIVES_NAV2");
    c.map(63, "");
    c.map(20, "MobiFlight.AS530_RightLargeKnob_Right");
    c.map(2, "nav1_stby_set");
    const auto badVar = c.add(0, "L:", "number", 4);  // any other name is a variable the model does not hold
    const auto badUnit = c.add(0, "NAV OBS:1", "parsecs", 4);
    c.add(0, "NAV OBS:1", "degrees", 4);
    c.transmit(63, 0);
    c.transmit(20, 1);
    c.transmit(2, 0x11345);
    const auto unmapped = c.transmit(777, 0);
    const auto duplicate = c.map(2, "AP_MASTER");
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    const auto seen = exceptionsUntil(c, sentinel);
    const std::vector<std::array<std::uint32_t, 3>> expected{{7, typo, 2},    {7, nav2, 2},     {7, badVar, 2},
                                                             {7, badUnit, 3}, {1, unmapped, 2}, {9, duplicate, 1}};
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ((std::array{seen[i].exception, seen[i].send_id, seen[i].index}), expected[i]) << "exception " << i;
    }
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

// As an aircraft holds an autopilot target to what it allows; the trace
// shows the value the event left, beside the data sent.
TEST(EmulatorProcess, LimitHoldsAVariableWithinItsRange) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--once", "--frame-ms", "2", "--trace", emu.path("trace.jsonl"), "--state-out",
                           emu.path("state.json"), "--set", "AUTOPILOT VERTICAL HOLD VAR=1900", "--limit",
                           "AUTOPILOT VERTICAL HOLD VAR=-2000:2000"}));
    {
        TestClient c;
        ASSERT_TRUE(c.connect(emu.port()));
        replayProgramStartup(c);
        Record holder;
        auto d = nextData(c, 1, holder);
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(autopilotBlock(*d).vertical_speed, 1900.0);
        c.transmit(programEvent("AP_VS_VAR_SET_ENGLISH"), 2500);
        do {
            d = nextData(c, 1, holder);
            ASSERT_TRUE(d.has_value());
        } while (autopilotBlock(*d).vertical_speed == 1900.0);
        EXPECT_EQ(autopilotBlock(*d).vertical_speed, 2000.0);
    }
    EXPECT_EQ(emu.wait(), 0);
    const std::string state = readFile(emu.path("state.json"));
    EXPECT_NE(state.find("\"AUTOPILOT VERTICAL HOLD VAR\": 2000,"), std::string::npos) << state;
    const std::string trace = readFile(emu.path("trace.jsonl"));
    EXPECT_NE(trace.find(R"("sim_event":"AP_VS_VAR_SET_ENGLISH","data":2500,"applied":2000,)"), std::string::npos)
        << trace;
}

TEST(EmulatorProcess, OnceSendsOneRecordAndNeverStopsARequest) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--frame-ms", "2"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    replayProgramStartup(c);
    c.request(2, 0, kOnce);
    Record holder;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(nextData(c, 1, holder).has_value());
    }
    c.request(0, 0, kNever);
    const auto sentinel = c.transmit(kUnmappedEvent, 0);
    EXPECT_TRUE(exceptionsUntil(c, sentinel).empty());
    int autopilot = 0;
    while (autopilot < 10) {
        auto r = c.next();
        ASSERT_TRUE(r.has_value());
        const auto d = decodeAs<scproto::RecvSimObjectData>(*r);
        ASSERT_EQ(d.request_id, 1u) << "request 0 stopped, request 2 was sent once already";
        ++autopilot;
    }
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

TEST(EmulatorProcess, ServesSeveralClientsAndQuitsEachOnSigterm) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start(
        {"--quiet", "--frame-ms", "2", "--trace", emu.path("trace.jsonl"), "--state-out", emu.path("state.json")}));
    TestClient a, b;
    ASSERT_TRUE(a.connect(emu.port()));
    ASSERT_TRUE(b.connect(emu.port()));
    replayProgramStartup(a);
    ASSERT_EQ(a.next()->id(), RecvId::Open);
    b.open("Second");
    ASSERT_EQ(b.next()->id(), RecvId::Open);
    b.map(40, "AP_MASTER");  // its own ID for the same sim event
    b.add(5, "AUTOPILOT MASTER", "Bool", 1);
    b.request(9, 5, kSimFrame);
    b.transmit(40, 0);
    Record holder;
    std::optional<scproto::RecvSimObjectData> d;
    do {
        d = nextData(b, 9, holder);
        ASSERT_TRUE(d.has_value());
        ASSERT_EQ(d->data.size(), 4u);
    } while (d->data[0] != 1);
    do {
        d = nextData(a, 1, holder);
        ASSERT_TRUE(d.has_value());
    } while (autopilotBlock(*d).master != 1);

    EXPECT_EQ(emu.stop(SIGTERM), 0);
    for (TestClient* c : {&a, &b}) {
        std::optional<Record> last;
        while (auto r = c->next()) {
            last = std::move(r);
        }
        ASSERT_TRUE(last.has_value());
        EXPECT_EQ(last->id(), RecvId::Quit);
        EXPECT_TRUE(c->peerClosed());
    }
    EXPECT_NE(readFile(emu.path("state.json")).find("\"AUTOPILOT MASTER\": 1,"), std::string::npos);
    const auto trace = lines(readFile(emu.path("trace.jsonl")));
    const auto count = [&](const std::string& needle) {
        return std::count_if(trace.begin(), trace.end(),
                             [&](const std::string& l) { return l.find(needle) != std::string::npos; });
    };
    EXPECT_EQ(count(R"({"client":2,"send_id":1,"call":"Open","name":"Second","protocol":5,)"), 1);
    EXPECT_EQ(count(R"({"client":2,"send_id":5,"call":"TransmitClientEvent","object":0,"event":40,)"
                    R"("sim_event":"AP_MASTER","data":0,"group":1,"flags":16,)"),
              1);
    EXPECT_EQ(count(R"({"client":1,"call":"Disconnect",)"), 1);
    EXPECT_EQ(count(R"({"client":2,"call":"Disconnect",)"), 1);
}

TEST(EmulatorProcess, OnceWritesTraceStateAndEventLinesWhenTheClientLeaves) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--once", "--trace", emu.path("trace.jsonl"), "--state-out", emu.path("state.json")}));
    {
        TestClient c;
        ASSERT_TRUE(c.connect(emu.port()));
        c.open();
        c.map(2, "NAV1_STBY_SET");
        c.map(9, "AP_VS_VAR_SET_ENGLISH");
        c.map(63, "");
        c.map(40, "MobiFlight.AS530_ENT_Push");
        c.add(0, "COM STANDBY FREQUENCY:1", "MHz", 4);
        c.request(0, 0, kSimFrame);
        c.transmit(2, 0x11345);
        c.transmit(9, static_cast<std::uint32_t>(-500));
        c.transmit(63, 0);
        c.transmit(40, 0);
        c.transmit(40, 0);
    }  // closed at once: the events must still count
    EXPECT_EQ(emu.wait(), 0);

    const std::string state = readFile(emu.path("state.json"));
    EXPECT_NE(state.find("\"NAV STANDBY FREQUENCY:1\": 113.45,"), std::string::npos) << state;
    EXPECT_NE(state.find("\"AUTOPILOT VERTICAL HOLD VAR\": -500,"), std::string::npos) << state;
    EXPECT_NE(state.find("\"TRANSPONDER CODE:1\": 4608,"), std::string::npos) << state;
    EXPECT_NE(state.find("\"custom_events\": {\"\": 1, \"MobiFlight.AS530_ENT_Push\": 2}"), std::string::npos) << state;

    const std::vector<std::string> expected{
        R"({"send_id":1,"call":"Open","name":"Request Data","protocol":5,"t_ns":)",
        R"({"send_id":2,"call":"MapClientEventToSimEvent","event":2,"name":"NAV1_STBY_SET","t_ns":)",
        R"({"send_id":3,"call":"MapClientEventToSimEvent","event":9,"name":"AP_VS_VAR_SET_ENGLISH","t_ns":)",
        R"({"send_id":4,"call":"MapClientEventToSimEvent","event":63,"name":"","t_ns":)",
        R"({"send_id":5,"call":"MapClientEventToSimEvent","event":40,"name":"MobiFlight.AS530_ENT_Push","t_ns":)",
        R"({"send_id":6,"call":"AddToDataDefinition","define":0,"datum":"COM STANDBY FREQUENCY:1","units":"MHz",)"
        R"("type":4,"epsilon":0,"datum_id":4294967295,"t_ns":)",
        R"({"send_id":7,"call":"RequestDataOnSimObject","request":0,"define":0,"object":0,"period":3,"flags":0,)"
        R"("origin":0,"interval":0,"limit":0,"t_ns":)",
        R"({"send_id":8,"call":"TransmitClientEvent","object":0,"event":2,"sim_event":"NAV1_STBY_SET","data":70469,)"
        R"("applied":113.45,"group":1,"flags":16,"t_ns":)",
        R"({"send_id":9,"call":"TransmitClientEvent","object":0,"event":9,"sim_event":"AP_VS_VAR_SET_ENGLISH",)"
        R"("data":4294966796,"applied":-500,"group":1,"flags":16,"t_ns":)",
        R"({"send_id":10,"call":"TransmitClientEvent","object":0,"event":63,"sim_event":"","data":0,)",
        R"({"send_id":11,"call":"TransmitClientEvent","object":0,"event":40,"sim_event":"MobiFlight.AS530_ENT_Push",)",
        R"({"send_id":12,"call":"TransmitClientEvent","object":0,"event":40,)",
        R"({"call":"Disconnect","t_ns":)",
    };
    const auto trace = lines(readFile(emu.path("trace.jsonl")));
    ASSERT_EQ(trace.size(), expected.size());
    unsigned long long previous = 0;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].rfind(expected[i], 0), 0u) << trace[i];
        // t_ns is the last field: digits, then the closing brace.
        const std::string key = ",\"t_ns\":";
        const auto at = trace[i].rfind(key);
        ASSERT_NE(at, std::string::npos) << trace[i];
        const std::string digits = trace[i].substr(at + key.size(), trace[i].size() - at - key.size() - 1);
        ASSERT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) << trace[i];
        ASSERT_EQ(trace[i].back(), '}') << trace[i];
        const unsigned long long t = std::stoull(digits);
        EXPECT_GE(t, previous);
        previous = t;
    }

    // Not a terminal: one line per applied event on stdout.
    const std::string out = emu.out();
    EXPECT_NE(out.find("NAV1_STBY_SET 0x11345 -> NAV STANDBY FREQUENCY:1 = 113.45\n"), std::string::npos) << out;
    EXPECT_NE(out.find("AP_VS_VAR_SET_ENGLISH -500 -> AUTOPILOT VERTICAL HOLD VAR = -500\n"), std::string::npos);
    EXPECT_NE(emu.err().find("sim-emulator: listening on 127.0.0.1:" + std::to_string(emu.port()) + "\n"),
              std::string::npos);
}

TEST(EmulatorProcess, MalformedPacketDropsOnlyThatClient) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--trace", emu.path("trace.jsonl")}));
    const std::vector<Bytes> garbage{
        {0x08, 0, 0, 0, 5, 0, 0, 0},                                            // length below the header
        {0x14, 0, 0, 0, 5, 0, 0, 0, 0x05, 0, 0, 0xF0, 7, 0, 0, 0, 0, 0, 0, 0},  // Transmit of 20 bytes
        {0x01, 0x00, 0x01, 0x00},                                               // 65537 bytes announced
    };
    for (const Bytes& g : garbage) {
        TestClient bad;
        ASSERT_TRUE(bad.connect(emu.port()));
        bad.open();
        ASSERT_EQ(bad.next()->id(), RecvId::Open);
        bad.sendRaw(g);
        EXPECT_FALSE(bad.next().has_value());
        EXPECT_TRUE(bad.peerClosed());
    }
    TestClient good;
    ASSERT_TRUE(good.connect(emu.port()));
    good.open();
    const auto r = good.next();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->id(), RecvId::Open);
    EXPECT_EQ(emu.stop(SIGTERM), 0);
    const auto trace = lines(readFile(emu.path("trace.jsonl")));
    const auto malformed = std::count_if(trace.begin(), trace.end(), [](const std::string& l) {
        return l.find(R"("call":"Malformed","reason":")") != std::string::npos;
    });
    EXPECT_EQ(malformed, 3);
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const std::string& l) {
                                return l.find(R"("send_id":7,"call":"Malformed")") != std::string::npos;
                            }),
              1);
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

// A client may keep 4096 events waiting for their frame and map 1000 names
// (MSFS's own limit); beyond that it is told so. A client that leaves takes
// its waiting events with it, except the one whose leaving ends an --once
// run, whose events the final state still counts.
TEST(EmulatorProcess, WaitingEventsAndMappedNamesAreCapped) {
    SimEmulator emu;
    ASSERT_TRUE(
        emu.start({"--quiet", "--once", "--event-delay-frames", "100000", "--state-out", emu.path("state.json")}));
    TestClient first;
    ASSERT_TRUE(first.connect(emu.port()));
    first.open();
    ASSERT_EQ(first.next()->id(), RecvId::Open);
    {
        TestClient second;
        ASSERT_TRUE(second.connect(emu.port()));
        second.open("Second");
        for (std::uint32_t id = 1; id <= 1000; ++id) {
            second.map(id, "Test.Gone" + std::to_string(id));
        }
        const auto oneTooMany = second.map(1001, "Test.Gone1001");
        second.transmit(1, 0);
        const auto seen = exceptionsUntil(second, second.transmit(kUnmappedEvent, 0));
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ((std::array{seen[0].exception, seen[0].send_id, seen[0].index}),
                  (std::array<std::uint32_t, 3>{8, oneTooMany, 1}));
    }
    first.map(1, "Test.Kept");
    Bytes burst;
    for (int i = 0; i < 5000; ++i) {
        const Bytes p = first.transmitPacket(1, 0);
        burst.insert(burst.end(), p.begin(), p.end());
    }
    first.sendRaw(burst);
    const auto seen = exceptionsUntil(first, first.transmit(kUnmappedEvent, 0));
    ASSERT_EQ(seen.size(), 5000u - 4096u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ((std::array{seen[i].exception, seen[i].send_id, seen[i].index}),
                  (std::array<std::uint32_t, 3>{1, static_cast<std::uint32_t>(2 + 1 + 4096 + i), 0}));
    }
    first.close();
    EXPECT_EQ(emu.wait(), 0);
    const std::string state = readFile(emu.path("state.json"));
    EXPECT_NE(state.find("\"custom_events\": {\"Test.Kept\": 4096}"), std::string::npos) << state;
    const std::string err = emu.err();
    EXPECT_EQ(occurrences(err, "sim-emulator: client 1 has 4096 events waiting"), 1u) << err;
    EXPECT_EQ(occurrences(err, "sim-emulator: client 2 has mapped 1000 event names"), 1u) << err;
}

// 64 clients, MSFS's MaxClients default; more are closed at once, and an
// idle one costs a few KiB, not a maximum-size packet buffer.
TEST(EmulatorProcess, ConnectionsAreCappedAndCheapWhenIdle) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--frame-ms", "5"}));
    const long before = residentKiB(emu.pid());
    std::vector<std::unique_ptr<TestClient>> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(held.back()->connect(emu.port()));
        held.back()->open();
        ASSERT_EQ(held.back()->next()->id(), RecvId::Open) << "client " << i + 1;
    }
    const long grown = residentKiB(emu.pid()) - before;
    EXPECT_LT(grown, 2048) << "KiB for 64 idle clients";
    for (int i = 0; i < 3; ++i) {
        TestClient extra;
        ASSERT_TRUE(extra.connect(emu.port()));
        extra.open();
        EXPECT_FALSE(extra.next().has_value());
        EXPECT_TRUE(extra.peerClosed());
    }
    const auto sentinel = held[0]->transmit(kUnmappedEvent, 0);
    EXPECT_TRUE(exceptionsUntil(*held[0], sentinel).empty());
    held.pop_back();
    // Room again once the emulator has seen that one go.
    bool served = false;
    for (int attempt = 0; attempt < 20 && !served; ++attempt) {
        TestClient later;
        ASSERT_TRUE(later.connect(emu.port()));
        later.open();
        const auto r = later.next();
        served = r.has_value() && r->id() == RecvId::Open;
    }
    EXPECT_TRUE(served);
    EXPECT_EQ(emu.stop(SIGTERM), 0);
    EXPECT_EQ(occurrences(emu.err(), "64 clients connected"), 1u) << emu.err();
}

// Out of descriptors, accept fails while the listening socket stays
// readable: the emulator must wait for a client to leave, not spin on it.
// The episode ends when the queue is empty, even when the last waiting
// connection took the last descriptor (accept then says EMFILE, not EAGAIN).
TEST(EmulatorProcess, OutOfDescriptorsItWaitsInsteadOfSpinning) {
    SimEmulator emu;
    emu.limitOpenFiles(30);
    ASSERT_TRUE(emu.start({"--quiet"}));
    std::vector<std::unique_ptr<TestClient>> held;
    for (int i = 0; i < 40; ++i) {
        held.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(held.back()->connect(emu.port()));
        held.back()->open();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double before = cpuSeconds(emu.pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_LT(cpuSeconds(emu.pid()) - before, 0.3) << "CPU seconds in 1.5 s";
    // Connections are accepted in the order they came: the first `accepted`
    // were answered, the rest wait in the queue.
    std::size_t accepted = 0;
    while (accepted < held.size() && held[accepted]->next(50).has_value()) {
        ++accepted;
    }
    ASSERT_GT(accepted, 0u);
    ASSERT_LT(accepted, held.size());
    // One leaves, one waiting is taken with the descriptor it freed.
    for (std::size_t i = 0; accepted + i < held.size(); ++i) {
        EXPECT_EQ(occurrences(emu.err(), "sim-emulator: accepting connections again"), 0u);
        held[i]->close();
        const auto r = held[accepted + i]->next();
        ASSERT_TRUE(r.has_value()) << "connection " << accepted + i + 1;
        EXPECT_EQ(r->id(), RecvId::Open);
    }
    EXPECT_EQ(emu.stop(SIGTERM), 0);
    const std::string err = emu.err();
    EXPECT_EQ(occurrences(err, "sim-emulator: cannot accept connections (accept: Too many open files)"), 1u) << err;
    EXPECT_EQ(occurrences(err, "sim-emulator: accepting connections again"), 1u) << err;
}

// A packet far larger than any the emulator knows, arriving in pieces: the
// client's buffer grows to hold it, and the stream goes on behind it.
TEST(EmulatorProcess, ALargePacketInPiecesIsTakenWhole) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--trace", emu.path("trace.jsonl")}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    Bytes big(60000, 0);
    const std::uint8_t header[16] = {0x60, 0xEA, 0, 0, 5, 0, 0, 0, 0x7F, 0, 0, 0xF0, 1, 0, 0, 0};
    std::copy(std::begin(header), std::end(header), big.begin());
    for (std::size_t at = 0; at < big.size(); at += 20000) {
        c.sendRaw(Bytes(big.begin() + static_cast<std::ptrdiff_t>(at),
                        big.begin() + static_cast<std::ptrdiff_t>(at + 20000)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    c.open();
    const auto r = c.next();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->id(), RecvId::Open);
    EXPECT_EQ(emu.stop(SIGTERM), 0);
    EXPECT_NE(
        readFile(emu.path("trace.jsonl")).find(R"("send_id":1,"call":"Unsupported","function":127,"size":60000,)"),
        std::string::npos);
}

TEST(EmulatorProcess, UsageErrorsExitWithStatus2) {
    const std::vector<std::vector<std::string>> cases{{"--port", "70000"},
                                                      {"--frame-ms", "0"},
                                                      {"--set", "NO SUCH VARIABLE=1"},
                                                      {"--set", "TRANSPONDER CODE:1=0x1289"},
                                                      {"--bogus"},
                                                      {"--port"},
                                                      {"--limit", "AUTOPILOT VERTICAL HOLD VAR=2000:-2000"}};
    for (const auto& args : cases) {
        SimEmulator emu;
        EXPECT_EQ(emu.runToEnd(args), 2) << args[0];
        EXPECT_EQ(emu.err().rfind("sim-emulator: ", 0), 0u) << emu.err();
        EXPECT_NE(emu.err().find(args[0] + (args[0] == "--bogus" ? ")" : "(")), std::string::npos) << emu.err();
        const std::string err = emu.err();
        EXPECT_EQ(err.find("--help"), err.rfind("--help")) << "the hint once: " << err;
    }
}

TEST(EmulatorProcess, PortInUseExitsWithStatus1) {
    SimEmulator first;
    ASSERT_TRUE(first.start({"--quiet"}));
    SimEmulator second;
    EXPECT_EQ(second.runToEnd({"--port", std::to_string(first.port()), "--quiet"}), 1);
    EXPECT_NE(second.err().find("Address already in use"), std::string::npos) << second.err();
    EXPECT_EQ(first.stop(SIGTERM), 0);
}

// Tests of the program kill the emulator and start it again on the same
// port while the program's connection is still half open.
TEST(EmulatorProcess, StartsAgainAtOnceOnThePortItWasKilledOn) {
    SimEmulator first;
    ASSERT_TRUE(first.start({"--quiet"}));
    TestClient held;
    ASSERT_TRUE(held.connect(first.port()));
    held.open();
    ASSERT_EQ(held.next()->id(), RecvId::Open);
    EXPECT_EQ(first.stop(SIGKILL), 128 + SIGKILL);

    SimEmulator second;
    ASSERT_TRUE(second.start({"--quiet", "--port", std::to_string(first.port())})) << second.err();
    EXPECT_EQ(second.port(), first.port());
    TestClient c;
    ASSERT_TRUE(c.connect(second.port()));
    c.open();
    const auto r = c.next();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->id(), RecvId::Open);
    EXPECT_EQ(second.stop(SIGTERM), 0);
}

// A full disk, as a device node of our own where we may make one: the old
// state writer renamed its temporary file over the target, which as root
// would have replaced /dev/full itself.
std::string fullDevice(const std::string& path) {
    if (::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
        return path;
    }
    return ::geteuid() == 0 ? std::string() : "/dev/full";
}

TEST(EmulatorProcess, AFailedWriteIsSaidOnceAndEndsWithStatus1) {
    for (const std::string what : {"--trace", "--state-out", "standard output"}) {
        SimEmulator emu;
        const bool toStdout = what == "standard output";
        const std::string full = fullDevice(toStdout ? emu.outPath() : emu.path("full"));
        if (full.empty()) {
            GTEST_SKIP() << "cannot make a full device here";
        }
        std::vector<std::string> args{"--once"};
        if (!toStdout) {
            args.insert(args.end(), {what, full});
        }
        ASSERT_TRUE(emu.start(args));
        {
            TestClient c;
            ASSERT_TRUE(c.connect(emu.port()));
            c.open();
            c.map(1, "AP_MASTER");
            c.transmit(1, 0);
            c.transmit(1, 0);
            ASSERT_EQ(c.next()->id(), RecvId::Open);
        }
        EXPECT_EQ(emu.wait(), 1) << what;
        const std::string said =
            "sim-emulator: " + (toStdout ? what : what + "(" + full + ")") + ": No space left on device\n";
        const std::string err = emu.err();
        EXPECT_NE(err.find(said), std::string::npos) << err;
        EXPECT_EQ(err.find(said), err.rfind(said)) << "said once: " << err;
    }
}

// Names a client sends may carry terminal controls or a line feed that
// forges a line of the emulator's own; the trace escapes them as JSON.
TEST(EmulatorProcess, ClientTextReachesTheTerminalEscaped) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--once"}));
    const std::string forged = "\nsim-emulator: client 9 disconnected";
    {
        TestClient c;
        ASSERT_TRUE(c.connect(emu.port()));
        c.open("Evil\x1b]0;pwned\x07" + forged);
        c.map(1, "\x1b[2J" + forged);
        c.transmit(1, 0);
        ASSERT_EQ(c.next()->id(), RecvId::Open);
    }
    EXPECT_EQ(emu.wait(), 0);
    const std::string out = emu.out();
    const std::string err = emu.err();
    for (const std::string& text : {out, err}) {
        EXPECT_EQ(
            std::find_if(text.begin(), text.end(), [](char ch) { return ch != '\n' && (ch < 0x20 || ch > 0x7e); }),
            text.end())
            << text;
        EXPECT_EQ(text.find("\nsim-emulator: client 9"), std::string::npos) << text;
    }
    EXPECT_NE(err.find(R"(opened as "Evil\x1b]0;pwned\x07\x0asim-emulator: client 9 disconnected")"), std::string::npos)
        << err;
    EXPECT_NE(out.find(R"(\x1b[2J\x0asim-emulator: client 9 disconnected 0 -> unknown)"), std::string::npos) << out;
}

}  // namespace
}  // namespace emutest
