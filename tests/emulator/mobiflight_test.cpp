// The MobiFlight module's model on its own: every command, the change
// filter, variables registered and updated, the calculator code it runs,
// and its bounds. The simulator behind it is the emulator's own Simulator;
// the areas are the emulator's ClientDataAreas, with every write recorded.
#include "client_data.h"
#include "mobiflight/calculator.h"
#include "mobiflight/module.h"
#include "simulator.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace simemu::mobiflight {
namespace {

struct Write {
    std::string area;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

// The ports on a real Simulator and real areas.
class Host : public SimulatorPort, public ChannelPort {
public:
    Simulator sim;
    ClientDataAreas areas;
    std::vector<Write> writes;
    std::vector<std::string> commands;  // traced
    std::vector<std::string> h_events;
    std::vector<std::string> said;

    std::optional<double> read(std::string_view name, std::string_view unit) override {
        return sim.readVariable(name, unit);
    }
    bool writeLocal(std::string_view name, double value) override { return sim.writeLocal(name, value); }
    bool applyEvent(int client, std::string_view name, std::uint32_t data) override {
        return sim.receive(client, name, data);
    }
    void hEvent(std::string_view name) override { h_events.emplace_back(name); }
    bool createArea(std::string_view name, std::size_t size) override {
        return areas.create(name, size, kSimulatorOwner, false) != ClientDataAreas::Created::TooMany;
    }
    std::span<const std::uint8_t> area(std::string_view name) override {
        const auto* a = areas.find(name);
        return a ? std::span<const std::uint8_t>(a->bytes) : std::span<const std::uint8_t>();
    }
    void writeArea(std::string_view name, std::size_t offset, std::span<const std::uint8_t> bytes) override {
        if (areas.write(name, offset, bytes)) {
            writes.push_back({std::string(name), offset, {bytes.begin(), bytes.end()}});
        }
    }
    void traceCommand(std::string_view command) override { commands.emplace_back(command); }
    void say(const std::string& text) override { said.push_back(text); }

    // What a client does: write a command into a channel's command area.
    void send(Module& m, const std::string& channel, const std::string& command, int client = 1) {
        std::vector<std::uint8_t> area(kCommandSize);
        std::memcpy(area.data(), command.data(), std::min(command.size(), kCommandSize - 1));
        ASSERT_TRUE(areas.write(channel + ".Command", 0, area)) << channel;
        m.written(channel + ".Command", client);
    }
    // The text in a channel's response area.
    std::string response(const std::string& channel) {
        const auto bytes = area(channel + ".Response");
        return std::string(reinterpret_cast<const char*>(bytes.data()));
    }
    float variable(const std::string& channel, std::size_t k) {
        const auto bytes = area(channel + ".LVars");
        float f;
        std::memcpy(&f, bytes.data() + 4 * k, 4);
        return f;
    }
    // Writes of the LVars area since `from`.
    std::size_t lvarWrites(std::size_t from = 0) const {
        std::size_t n = 0;
        for (std::size_t i = from; i < writes.size(); ++i) {
            n += writes[i].area.ends_with(".LVars");
        }
        return n;
    }
};

class MobiFlightModel : public ::testing::Test {
protected:
    void SetUp() override { module.start(); }
    Host host;
    Module module{"1.0.1", host, host};
};

TEST_F(MobiFlightModel, StartsWithTheDefaultChannelsFourAreas) {
    const std::pair<const char*, std::size_t> expected[] = {{"MobiFlight.LVars", 4096},
                                                            {"MobiFlight.Command", 1024},
                                                            {"MobiFlight.Response", 1024},
                                                            {"MobiFlight.StringVars", 8192}};
    for (const auto& [name, size] : expected) {
        const auto* a = host.areas.find(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->bytes.size(), size) << name;
    }
    EXPECT_EQ(host.areas.size(), 4u);
}

TEST_F(MobiFlightModel, AnswersPingVersionAndAddsChannelsOnTheChannelAsked) {
    host.send(module, "MobiFlight", "MF.Ping");
    EXPECT_EQ(host.response("MobiFlight"), "MF.Pong");
    host.send(module, "MobiFlight", "MF.Version.Get");
    EXPECT_EQ(host.response("MobiFlight"), "MF.Version.1.0.1");
    host.send(module, "MobiFlight", "MF.Clients.Add.msfs-panel");
    EXPECT_EQ(host.response("MobiFlight"), "MF.Clients.Add.msfs-panel.Finished");
    for (const char* suffix : {".LVars", ".Command", ".Response", ".StringVars"}) {
        EXPECT_NE(host.areas.find(std::string("msfs-panel") + suffix), nullptr) << suffix;
    }
    // The new channel answers on its own areas.
    host.send(module, "msfs-panel", "MF.Ping");
    EXPECT_EQ(host.response("msfs-panel"), "MF.Pong");
    EXPECT_EQ(host.commands,
              (std::vector<std::string>{"MF.Ping", "MF.Version.Get", "MF.Clients.Add.msfs-panel", "MF.Ping"}));

    Host other;
    Module custom("0.7.5", other, other);
    custom.start();
    other.send(custom, "MobiFlight", "MF.Version.Get");
    EXPECT_EQ(other.response("MobiFlight"), "MF.Version.0.7.5");
}

TEST_F(MobiFlightModel, AnExistingChannelIsReusedWithItsVariables) {
    host.send(module, "MobiFlight", "MF.Clients.Add.panel");
    host.send(module, "panel", "MF.SimVars.Add.(L:KEPT)");
    ASSERT_EQ(module.variables("panel"), 1u);
    host.send(module, "MobiFlight", "MF.DummyCmd");
    host.send(module, "MobiFlight", "MF.Clients.Add.panel");  // as after a reconnect
    EXPECT_EQ(host.response("MobiFlight"), "MF.Clients.Add.panel.Finished");
    EXPECT_EQ(module.variables("panel"), 1u);
    EXPECT_EQ(module.channels(), 2u);
}

TEST_F(MobiFlightModel, AnIdenticalConsecutiveCommandIsIgnoredOnItsChannelOnly) {
    host.send(module, "MobiFlight", "MF.Clients.Add.a");
    const std::string press = "MF.SimVars.Set.(>H:AS530_DirectTo_Push)";
    host.send(module, "a", press);
    host.send(module, "a", press);  // ignored
    host.send(module, "a", "MF.DummyCmd");
    host.send(module, "a", press);
    host.send(module, "MobiFlight", press);  // another channel's last command differs
    EXPECT_EQ(host.h_events, std::vector<std::string>(3, "AS530_DirectTo_Push"));
    EXPECT_EQ(host.commands, (std::vector<std::string>{"MF.Clients.Add.a", press, "MF.DummyCmd", press, press}));
    // Writes to areas that are not command areas run nothing.
    module.written("a.Response", 1);
    module.written("Elsewhere.Command", 1);
    EXPECT_EQ(host.commands.size(), 5u);
}

TEST_F(MobiFlightModel, VariablesAreWrittenAtOnceThenOnlyWhenTheyChange) {
    ASSERT_TRUE(host.sim.writeLocal("FLAPS", 2));
    host.send(module, "MobiFlight", "MF.SimVars.Add.(L:FLAPS)");
    host.send(module, "MobiFlight", "MF.SimVars.Add.(A:AUTOPILOT ALTITUDE LOCK VAR, meters)");
    host.send(module, "MobiFlight", "MF.SimVars.Add.(L:NEVER_SET)");  // written at once, as 0
    EXPECT_EQ(host.lvarWrites(), 3u);
    EXPECT_EQ(host.variable("MobiFlight", 0), 2.0f);
    EXPECT_NEAR(host.variable("MobiFlight", 1), 1524.0f, 1e-3);
    EXPECT_EQ(host.variable("MobiFlight", 2), 0.0f);
    std::size_t before = host.writes.size();
    module.frame();
    EXPECT_EQ(host.lvarWrites(before), 0u) << "nothing changed";

    ASSERT_TRUE(host.sim.writeLocal("FLAPS", 3));
    before = host.writes.size();
    module.frame();
    ASSERT_EQ(host.lvarWrites(before), 1u);
    EXPECT_EQ(host.writes.back().offset, 0u);
    EXPECT_EQ(host.variable("MobiFlight", 0), 3.0f);

    host.send(module, "MobiFlight", "MF.SimVars.Clear");
    EXPECT_EQ(module.variables("MobiFlight"), 0u);
    EXPECT_EQ(host.variable("MobiFlight", 0), 0.0f);
    EXPECT_EQ(host.variable("MobiFlight", 1), 0.0f);
    // Registered again after the clear, from offset 0.
    host.send(module, "MobiFlight", "MF.SimVars.Add.(L:FLAPS)");
    EXPECT_EQ(host.variable("MobiFlight", 0), 3.0f);
}

TEST_F(MobiFlightModel, EachFrameReadsAtMostMaxVarsPerFrameRoundRobin) {
    for (int i = 0; i < 3; ++i) {
        host.send(module, "MobiFlight", "MF.SimVars.Add.(L:V" + std::to_string(i) + ")");
    }
    host.send(module, "MobiFlight", "MF.Config.MAX_VARS_PER_FRAME.Set.2");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(host.sim.writeLocal("V" + std::to_string(i), 7));
    }
    std::size_t before = host.writes.size();
    module.frame();
    EXPECT_EQ(host.lvarWrites(before), 2u);
    before = host.writes.size();
    module.frame();
    EXPECT_EQ(host.lvarWrites(before), 1u);
    EXPECT_EQ(host.writes.back().offset, 8u) << "the third variable's turn";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host.variable("MobiFlight", static_cast<std::size_t>(i)), 7.0f);
    }
}

TEST_F(MobiFlightModel, SetRunsHAndKEventsAndLVarArithmetic) {
    host.send(module, "MobiFlight", "MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)");
    EXPECT_EQ(host.h_events, std::vector<std::string>{"AS1000_PFD_DIRECTTO"});

    host.send(module, "MobiFlight", "MF.SimVars.Set.(>K:AP_MASTER)", 3);
    host.send(module, "MobiFlight", "MF.SimVars.Set.-500 (>K:AP_VS_VAR_SET_ENGLISH)", 3);
    EXPECT_EQ(host.sim.waiting(3), 2u) << "queued as transmissions of client 3";
    const auto& applied = host.sim.advanceFrame();
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0].name, "AP_MASTER");
    EXPECT_EQ(applied[1].data, 0xFFFFFE0Cu);
    EXPECT_EQ(host.sim.readVariable("AUTOPILOT MASTER", "Bool"), 1.0);
    EXPECT_EQ(host.sim.readVariable("AUTOPILOT VERTICAL HOLD VAR", "feet/minute"), -500.0);

    host.send(module, "MobiFlight", "MF.SimVars.Set.3 (>L:COUNT)");
    host.send(module, "MobiFlight", "MF.SimVars.Set.(L:COUNT) 2 + (>L:COUNT)");
    host.send(module, "MobiFlight", "MF.DummyCmd");
    host.send(module, "MobiFlight", "MF.SimVars.Set.(L:COUNT) 2 + (>L:COUNT)");
    EXPECT_EQ(host.sim.readVariable("L:COUNT", ""), 7.0);
    EXPECT_TRUE(host.said.empty());
}

TEST(MobiFlightCalculator, RunsItsFormsAndRefusesTheRest) {
    Host host;
    ASSERT_TRUE(host.sim.writeLocal("X", 4));
    struct Case {
        const char* code;
        std::optional<double> value;
        const char* error;  // a part of it; null when the code runs
    } cases[] = {
        {"1 2 + 3 *", 9.0, nullptr},
        {"(L:X) 2 /", 2.0, nullptr},
        {"(l:x, number) 1 -", 3.0, nullptr},
        {"(A:AUTOPILOT ALTITUDE LOCK VAR, feet)", 5000.0, nullptr},
        {"(A:AUTOPILOT ALTITUDE LOCK VAR,feet) 1000 /", 5.0, nullptr},
        {"  ", std::nullopt, nullptr},
        {"1 0 /", 0.0, nullptr},
        {"(A:AUTOPILOT ALTITUDE LOCK VAR, MHz)", std::nullopt, "cannot read"},
        {"(E:SIMULATION TIME, seconds)", std::nullopt, "only L: and A:"},
        {"(>B:AS1000_PFD_1_DIRECTTO)", std::nullopt, "only L: variables, K: and H: events"},
        {"1 (>A:PLANE ALTITUDE, feet)", std::nullopt, "only L: variables"},
        {"(>L:X", std::nullopt, "no ')'"},
        {"()", std::nullopt, "not a variable"},
        {"1 +", std::nullopt, "needs two values"},
        {"(>L:EMPTY)", std::nullopt, "needs a value"},
        {"1 2 x", std::nullopt, "not understood"},
        {"1e999", std::nullopt, "not understood"},
        {"5000000000 (>K:AP_MASTER)", std::nullopt, "32 bits"},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.code, host, 1, Effects::Allowed);
        EXPECT_EQ(o.value, c.value) << c.code;
        if (c.error) {
            EXPECT_NE(o.error.find(c.error), std::string::npos) << c.code << ": " << o.error;
        } else {
            EXPECT_EQ(o.error, "") << c.code;
        }
    }
    std::string deep;
    for (std::size_t i = 0; i <= kMaxStack; ++i) {
        deep += "1 ";
    }
    EXPECT_NE(run(deep, host, 1, Effects::Allowed).error.find("stack"), std::string::npos);
    EXPECT_TRUE(host.h_events.empty());

    // A variable to read never writes or sends, not even the part before.
    const Outcome o = run("5 (>L:X) (>H:PUSH)", host, 1, Effects::Refused);
    EXPECT_NE(o.error.find("cannot write or send"), std::string::npos);
    EXPECT_EQ(host.sim.readVariable("L:X", ""), 4.0);
    EXPECT_TRUE(host.h_events.empty());
}

TEST_F(MobiFlightModel, BadCodeAndEveryBoundAreSaidOnceAndNeverBreakTheChannel) {
    host.send(module, "MobiFlight", "MF.SimVars.Set.(>B:AS1000_PFD_1_DIRECTTO)");
    host.send(module, "MobiFlight", "MF.SimVars.Set.1 +");
    host.send(module, "MobiFlight", "MF.SimVars.Add.(>H:NOT_A_VALUE)");  // registered, reads 0
    EXPECT_EQ(module.variables("MobiFlight"), 1u);
    EXPECT_EQ(host.said.size(), 1u) << "said once";

    host.send(module, "MobiFlight", "MF.Clients.Add.bad.name");
    host.send(module, "MobiFlight", "MF.Clients.Add." + std::string(kMaxChannelName + 1, 'n'));
    EXPECT_EQ(module.channels(), 1u);
    for (std::size_t i = 0; i < kMaxChannels + 2; ++i) {
        host.send(module, "MobiFlight", "MF.Clients.Add.c" + std::to_string(i));
    }
    EXPECT_EQ(module.channels(), kMaxChannels + 1);
    for (std::size_t i = 0; i < kMaxVariablesPerChannel + 5; ++i) {
        host.send(module, "c0", "MF.SimVars.Add.(L:V" + std::to_string(i) + ")");
    }
    EXPECT_EQ(module.variables("c0"), kMaxVariablesPerChannel);
    EXPECT_EQ(host.said.size(), 4u) << "one message per kind of refusal";

    host.send(module, "MobiFlight", "MF.Ping");
    EXPECT_EQ(host.response("MobiFlight"), "MF.Pong");
    // A command filling the whole area without a NUL is read to its end.
    const std::vector<std::uint8_t> full(kCommandSize, 'Z');
    ASSERT_TRUE(host.areas.write("MobiFlight.Command", 0, full));
    module.written("MobiFlight.Command", 1);
    EXPECT_EQ(host.commands.back(), std::string(kCommandSize, 'Z'));
}

TEST(MobiFlightOptions, VersionsAreCheckedAndOptional) {
    EXPECT_TRUE(validVersion("1.0.1"));
    EXPECT_TRUE(validVersion("0.7.5-beta+2"));
    EXPECT_FALSE(validVersion(""));
    EXPECT_FALSE(validVersion("1.0 1"));
    EXPECT_FALSE(validVersion(std::string(33, '1')));
}

}  // namespace
}  // namespace simemu::mobiflight
