// Client data, the MobiFlight module's model and MSFS 2024 through the real
// sim-emulator binary: a client on the shared codec talks to the module the
// way the program does (map the areas, listen on the response area, write
// commands), without the module nothing answers, bad client-data calls draw
// the simulator's exceptions, and --sim 2024 answers and writes headers as
// MSFS 2024 does.
#include "harness.h"
#include "options.h"
#include "startup_golden.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

namespace emutest {
namespace {

using scproto::RecvId;

constexpr std::uint32_t kOnSet = 3;
constexpr std::uint32_t kChanged = 1;
constexpr std::uint32_t kFloat32 = 0xFFFFFFFB;  // SIMCONNECT_CLIENTDATATYPE_FLOAT32
constexpr std::uint32_t kUnmappedEvent = 9999;  // a transmission that always draws ERROR

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        // Without the time stamp, as the golden start-up is compared.
        if (const auto at = line.find(",\"t_ns\":"); at != std::string::npos) {
            line.erase(at, line.find('}', at) - at);
        }
        out.push_back(line);
    }
    return out;
}

std::size_t count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::ranges::count(lines, line));
}

// A channel of the module as a client uses it: area IDs base (command),
// base+1 (response), base+2 (values); definitions and requests likewise.
class Channel {
public:
    Channel(TestClient& c, std::string name, std::uint32_t base) : c_(c), name_(std::move(name)), base_(base) {}

    void listen() {
        c_.send(scproto::MapClientDataNamePacket{.name = name_ + ".Command", .area_id = base_});
        c_.send(scproto::MapClientDataNamePacket{.name = name_ + ".Response", .area_id = base_ + 1});
        c_.send(scproto::MapClientDataNamePacket{.name = name_ + ".LVars", .area_id = base_ + 2});
        c_.send(scproto::AddToClientDataDefinitionPacket{.define_id = base_, .offset = 0, .size_or_type = 1024});
        c_.send(scproto::RequestClientDataPacket{
            .area_id = base_ + 1, .request_id = base_, .define_id = base_, .period = kOnSet, .flags = kChanged});
    }
    // Variable k read as the module writes it.
    void watch(std::uint32_t k) {
        c_.send(scproto::AddToClientDataDefinitionPacket{
            .define_id = base_ + 10 + k, .offset = 4 * k, .size_or_type = kFloat32});
        c_.send(scproto::RequestClientDataPacket{.area_id = base_ + 2,
                                                 .request_id = base_ + 10 + k,
                                                 .define_id = base_ + 10 + k,
                                                 .period = kOnSet,
                                                 .flags = kChanged});
    }
    std::uint32_t command(const std::string& text) {
        std::vector<std::uint8_t> area(1024);
        std::memcpy(area.data(), text.data(), std::min<std::size_t>(text.size(), 1023));
        return c_.send(scproto::SetClientDataPacket{.area_id = base_, .define_id = base_, .data = area});
    }
    // The next response, skipping other records; empty on a timeout.
    std::string response(int wait_ms = 5000) {
        while (auto r = c_.next(wait_ms)) {
            scproto::RecvClientData d;
            if (r->id() == RecvId::ClientData && !scproto::decode(r->bytes, d) && d.request_id == base_) {
                return std::string(reinterpret_cast<const char*>(d.data.data()),
                                   strnlen(reinterpret_cast<const char*>(d.data.data()), d.data.size()));
            }
        }
        return "";
    }
    // The next value of variable k.
    std::optional<float> value(std::uint32_t k) {
        while (auto r = c_.next()) {
            scproto::RecvClientData d;
            if (r->id() == RecvId::ClientData && !scproto::decode(r->bytes, d) && d.request_id == base_ + 10 + k) {
                float f;
                EXPECT_EQ(d.data.size(), 4u);
                std::memcpy(&f, d.data.data(), 4);
                return f;
            }
        }
        return std::nullopt;
    }

private:
    TestClient& c_;
    std::string name_;
    std::uint32_t base_;
};

// The exceptions that arrive before the answer to a transmission of an
// unmapped event (sent last as a sentinel); the other records are kept in
// `others` when given.
std::vector<scproto::RecvException> exceptionsBeforeSentinel(TestClient& c, std::vector<Record>* others = nullptr) {
    const std::uint32_t sentinel = c.transmit(kUnmappedEvent, 0);
    std::vector<scproto::RecvException> seen;
    while (auto r = c.next()) {
        scproto::RecvException e;
        if (r->id() != RecvId::Exception || scproto::decode(r->bytes, e)) {
            if (others) {
                others->push_back(std::move(*r));
            }
            continue;
        }
        if (e.send_id == sentinel) {
            return seen;
        }
        seen.push_back(e);
    }
    ADD_FAILURE() << "no answer to the sentinel";
    return seen;
}

TEST(MobiFlightProcess, TheModuleAnswersRunsCommandsAndStreamsVariables) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start(
        {"--quiet", "--frame-ms", "2", "--mobiflight", "--trace", "trace.jsonl", "--state-out", "state.json"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open("msfs-panel");
    Channel base(c, "MobiFlight", 100);
    base.listen();
    base.command("MF.Ping");
    EXPECT_EQ(base.response(), "MF.Pong");
    base.command("MF.Version.Get");
    EXPECT_EQ(base.response(), "MF.Version.1.0.1");
    base.command("MF.Clients.Add.msfs-panel");
    EXPECT_EQ(base.response(), "MF.Clients.Add.msfs-panel.Finished");

    Channel own(c, "msfs-panel", 200);
    own.listen();
    own.watch(0);
    own.command("MF.SimVars.Add.(A:AUTOPILOT MASTER, Bool)");
    EXPECT_EQ(own.value(0), 0.0f) << "written at once";
    own.command("MF.SimVars.Set.(>K:AP_MASTER)");
    EXPECT_EQ(own.value(0), 1.0f) << "the event applied, the change streamed";
    // A knob turned 50 detents: each press separated by another command,
    // as the change filter demands, so none is lost.
    for (int i = 0; i < 50; ++i) {
        own.command("MF.SimVars.Set.(>H:AS530_DirectTo_Push)");
        own.command("MF.DummyCmd");
    }
    own.command("MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)");
    own.command("MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)");  // ignored: the same again
    own.command("MF.SimVars.Set.5 (>L:MF_TEST)");
    own.command("MF.SimVars.Set.(L:MF_TEST) 2 + (>L:MF_TEST)");
    base.command("MF.DummyCmd");
    base.command("MF.Ping");
    EXPECT_EQ(base.response(), "MF.Pong");
    c.close();
    ASSERT_EQ(emu.stop(SIGTERM), 0) << emu.err();

    const auto trace = linesOf(readFile(emu.path("trace.jsonl")));
    EXPECT_EQ(count(trace, R"j({"call":"MobiFlight","command":"MF.SimVars.Set.(>H:AS530_DirectTo_Push)"})j"), 50u);
    EXPECT_EQ(count(trace, R"({"call":"HEvent","name":"AS530_DirectTo_Push"})"), 50u);
    EXPECT_EQ(count(trace, R"j({"call":"MobiFlight","command":"MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)"})j"), 1u);
    EXPECT_EQ(count(trace, R"({"call":"HEvent","name":"AS1000_PFD_DIRECTTO"})"), 1u);
    EXPECT_EQ(count(trace, R"({"call":"MobiFlight","command":"MF.Ping"})"), 2u);
    // The client-data calls in the trace's style.
    EXPECT_EQ(count(trace, R"({"send_id":2,"call":"MapClientDataNameToID","name":"MobiFlight.Command","area":100})"),
              1u);
    EXPECT_EQ(count(trace, R"({"send_id":6,"call":"RequestClientData","area":101,"request":100,"define":100,)"
                           R"("period":3,"flags":1,"origin":0,"interval":0,"limit":0})"),
              1u);
    EXPECT_EQ(count(trace, R"({"send_id":7,"call":"SetClientData","area":100,"define":100,"flags":0,"reserved":0,)"
                           R"("size":1024,"text":"MF.Ping"})"),
              1u);
    const std::string state = readFile(emu.path("state.json"));
    EXPECT_NE(state.find(R"("L:MF_TEST": 7)"), std::string::npos) << state;
    EXPECT_NE(state.find(R"("AUTOPILOT MASTER": 1)"), std::string::npos) << state;
}

TEST(MobiFlightProcess, WithoutTheModuleNothingAnswersAndUncreatedAreasCannotBeWritten) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet", "--frame-ms", "2"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    Channel base(c, "MobiFlight", 100);
    base.listen();  // mapping and requesting are accepted
    const std::uint32_t ping = base.command("MF.Ping");
    const auto refused = exceptionsBeforeSentinel(c);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].exception, static_cast<std::uint32_t>(scproto::Exception::UnrecognizedId));
    EXPECT_EQ(refused[0].send_id, ping);
    EXPECT_EQ(refused[0].index, 1u);

    // A client that creates the areas itself, as MobiFlight's own client
    // does, writes without exceptions; still nothing answers, and its own
    // request on the command area sees its write.
    c.send(scproto::CreateClientDataPacket{.area_id = 100, .size = 1024});
    c.send(scproto::CreateClientDataPacket{.area_id = 101, .size = 1024});
    c.send(scproto::RequestClientDataPacket{.area_id = 100, .request_id = 7, .define_id = 100, .period = kOnSet});
    base.command("MF.Ping");
    std::vector<Record> records;
    EXPECT_TRUE(exceptionsBeforeSentinel(c, &records).empty());
    while (auto r = c.next(300)) {
        records.push_back(std::move(*r));
    }
    std::vector<std::string> seen;
    for (const auto& r : records) {
        scproto::RecvClientData d;
        if (r.id() == RecvId::ClientData && !scproto::decode(r.bytes, d)) {
            seen.push_back(std::to_string(d.request_id) + ":" + reinterpret_cast<const char*>(d.data.data()));
        }
    }
    EXPECT_EQ(seen, std::vector<std::string>{"7:MF.Ping"});
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

TEST(MobiFlightProcess, BadClientDataCallsDrawTheSimulatorsExceptions) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    c.open();
    using scproto::Exception;
    struct Expected {
        std::uint32_t send_id;
        Exception exception;
        std::uint32_t index;
    };
    std::vector<Expected> expected;
    const auto expect = [&](std::uint32_t id, Exception e, std::uint32_t index) { expected.push_back({id, e, index}); };
    // Names and areas.
    c.send(scproto::MapClientDataNamePacket{.name = "Area.A", .area_id = 1});
    expect(c.send(scproto::MapClientDataNamePacket{.name = "Area.B", .area_id = 1}), Exception::DuplicateId, 2);
    expect(c.send(scproto::MapClientDataNamePacket{.name = "Area.A", .area_id = 2}), Exception::AlreadyCreated, 1);
    expect(c.send(scproto::MapClientDataNamePacket{.name = "", .area_id = 3}), Exception::Error, 1);
    c.send(scproto::MapClientDataNamePacket{.name = "Area.A", .area_id = 1});  // the same again: fine
    expect(c.send(scproto::CreateClientDataPacket{.area_id = 9, .size = 16}), Exception::UnrecognizedId, 1);
    expect(c.send(scproto::CreateClientDataPacket{.area_id = 1, .size = 0}), Exception::OutOfBounds, 2);
    expect(c.send(scproto::CreateClientDataPacket{.area_id = 1, .size = 8193}), Exception::OutOfBounds, 2);
    c.send(scproto::CreateClientDataPacket{.area_id = 1, .size = 16});
    expect(c.send(scproto::CreateClientDataPacket{.area_id = 1, .size = 16}), Exception::AlreadyCreated, 1);
    // Definitions.
    expect(c.send(scproto::AddToClientDataDefinitionPacket{.define_id = 1, .offset = 0, .size_or_type = 0xFFFFFFF9}),
           Exception::InvalidDataType, 3);
    expect(c.send(scproto::AddToClientDataDefinitionPacket{.define_id = 1, .offset = 0, .size_or_type = 0}),
           Exception::InvalidDataSize, 3);
    expect(c.send(scproto::AddToClientDataDefinitionPacket{.define_id = 1, .offset = 8190, .size_or_type = 4}),
           Exception::OutOfBounds, 2);
    c.send(scproto::AddToClientDataDefinitionPacket{.define_id = 1, .offset = 0, .size_or_type = 8});
    c.send(scproto::AddToClientDataDefinitionPacket{.define_id = 2, .offset = 12, .size_or_type = 8});  // past 16
    expect(c.send(scproto::ClearClientDataDefinitionPacket{.define_id = 5}), Exception::UnrecognizedId, 1);
    // Requests.
    expect(c.send(scproto::RequestClientDataPacket{.area_id = 9, .request_id = 1, .define_id = 1, .period = 1}),
           Exception::UnrecognizedId, 1);
    expect(c.send(scproto::RequestClientDataPacket{.area_id = 1, .request_id = 1, .define_id = 5, .period = 1}),
           Exception::UnrecognizedId, 3);
    expect(c.send(scproto::RequestClientDataPacket{.area_id = 1, .request_id = 1, .define_id = 1, .period = 5}),
           Exception::InvalidEnum, 4);
    // Writes.
    const std::uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    expect(c.send(scproto::SetClientDataPacket{.area_id = 1, .define_id = 1, .data = std::span(eight).first(4)}),
           Exception::SizeMismatch, 5);
    expect(c.send(scproto::SetClientDataPacket{.area_id = 1, .define_id = 2, .data = eight}), Exception::OutOfBounds,
           2);
    expect(c.send(scproto::SetClientDataPacket{.area_id = 1, .define_id = 1, .flags = 1, .data = eight}),
           Exception::Error, 3);
    // A packet whose size field lies: answered, and the connection goes on.
    constexpr std::uint32_t kBadId = 5000;
    Bytes bad(scproto::kSetClientDataHeaderSize + 8);
    scproto::encode(bad, scproto::kProtocolKittyHawk, kBadId, scproto::SetClientDataPacket{.data = eight});
    bad[32] = 9;
    c.sendRaw(bad);
    expect(kBadId, Exception::SizeMismatch, 0);

    const auto got = exceptionsBeforeSentinel(c);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(expected[i].send_id));
        EXPECT_EQ(got[i].send_id, expected[i].send_id);
        EXPECT_EQ(got[i].exception, static_cast<std::uint32_t>(expected[i].exception));
        EXPECT_EQ(got[i].index, expected[i].index);
    }
    EXPECT_FALSE(c.peerClosed());
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

TEST(MobiFlightProcess, AReadOnlyAreaTakesWritesFromItsCreatorOnlyAndGoesWithIt) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--quiet"}));
    TestClient owner;
    TestClient other;
    ASSERT_TRUE(owner.connect(emu.port()));
    ASSERT_TRUE(other.connect(emu.port()));
    const std::uint8_t four[4] = {1, 2, 3, 4};
    for (TestClient* c : {&owner, &other}) {
        c->open();
        c->send(scproto::MapClientDataNamePacket{.name = "Owned", .area_id = 1});
        c->send(scproto::AddToClientDataDefinitionPacket{.define_id = 1, .offset = 0, .size_or_type = 4});
    }
    owner.send(scproto::CreateClientDataPacket{.area_id = 1, .size = 4, .flags = 1});
    owner.send(scproto::SetClientDataPacket{.area_id = 1, .define_id = 1, .data = four});
    EXPECT_TRUE(exceptionsBeforeSentinel(owner).empty());
    const auto refused = other.send(scproto::SetClientDataPacket{.area_id = 1, .define_id = 1, .data = four});
    auto got = exceptionsBeforeSentinel(other);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].send_id, refused);
    EXPECT_EQ(got[0].exception, static_cast<std::uint32_t>(scproto::Exception::IllegalOperation));
    owner.close();
    // Once its creator has gone, the area is gone: the name is free again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        other.send(scproto::CreateClientDataPacket{.area_id = 1, .size = 4});
        got = exceptionsBeforeSentinel(other);
        if (got.empty()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(emu.stop(SIGTERM), 0);
}

TEST(Msfs2024Process, AnswersAsSunRiseAndWritesVersion6InEveryHeader) {
    SimEmulator emu;
    ASSERT_TRUE(emu.start({"--frame-ms", "2", "--sim", "2024", "--mobiflight", "1.1.0"}));
    TestClient c;
    ASSERT_TRUE(c.connect(emu.port()));
    replayProgramStartup(c);
    const auto open = c.next();
    ASSERT_TRUE(open.has_value());
    ASSERT_EQ(open->id(), RecvId::Open);
    scproto::RecvOpen o;
    ASSERT_FALSE(scproto::decode(open->bytes, o));
    EXPECT_EQ(o.application_name, "SunRise");
    EXPECT_EQ(o.application_version_major, 12u);
    EXPECT_EQ(o.application_version_minor, 1u);
    EXPECT_EQ(o.simconnect_version_major, 12u);
    EXPECT_EQ(o.simconnect_version_minor, 1u);
    std::set<std::uint32_t> kinds;
    std::set<std::uint32_t> versions{open->header.version};
    while (kinds.size() < 2) {
        auto r = c.next();
        ASSERT_TRUE(r.has_value());
        kinds.insert(r->header.id);
        versions.insert(r->header.version);
    }
    EXPECT_EQ(kinds, (std::set<std::uint32_t>{static_cast<std::uint32_t>(RecvId::Exception),
                                              static_cast<std::uint32_t>(RecvId::SimObjectData)}));
    EXPECT_EQ(versions, std::set<std::uint32_t>{6});
    EXPECT_EQ(emu.stop(SIGTERM), 0);
    EXPECT_NE(emu.err().find("answering as MSFS 2024, with a model of the MobiFlight WASM module 1.1.0\n"),
              std::string::npos)
        << emu.err();
}

TEST(MobiFlightOptions, TheVersionIsOptionalAndTheSimulatorOneOfTwo) {
    struct Case {
        std::vector<std::string_view> args;
        std::optional<std::string> mobiflight;
        unsigned sim;
        const char* error;  // a part of it
    } cases[] = {
        {{}, std::nullopt, 2020, nullptr},
        {{"--mobiflight"}, "1.0.1", 2020, nullptr},
        {{"--mobiflight", "--quiet"}, "1.0.1", 2020, nullptr},
        {{"--mobiflight", "0.7.5", "--sim", "2024"}, "0.7.5", 2024, nullptr},
        {{"--mobiflight=2.0", "--sim=2020"}, "2.0", 2020, nullptr},
        {{"--mobiflight", "1.0 1"}, std::nullopt, 2020, "--mobiflight(1.0 1): not a version"},
        {{"--sim", "2030"}, std::nullopt, 2020, "--sim(2030): not 2020 or 2024"},
        {{"--sim"}, std::nullopt, 2020, "--sim(): needs a value"},
    };
    for (const auto& c : cases) {
        simemu::Options o;
        const auto error = simemu::parseOptions(c.args, o);
        if (c.error) {
            EXPECT_NE(error.value_or("").find(c.error), std::string::npos) << error.value_or("no error");
            continue;
        }
        ASSERT_FALSE(error.has_value()) << *error;
        EXPECT_EQ(o.mobiflight, c.mobiflight);
        EXPECT_EQ(o.sim, c.sim);
    }
}

}  // namespace
}  // namespace emutest
