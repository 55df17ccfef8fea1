// The MobiFlight module's channel against the recording SimConnect: how it
// opens, what the FMS keys and knobs send through it, the module's change
// filter, the answer time, and the simulator named from its OPEN record.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "doubles/recording_simconnect.h"
#include "driver/main_loop.h"
#include "driver/verbose_log.h"
#include "mobiflight/channel.h"
#include "msfs_fixture.h"
#include "simulator/which_simulator.h"

namespace {

using simconnect_double::Call;
using simconnect_double::recorder;
using Strings = std::vector<std::string>;

mobiflight::Clock::time_point fakeNow;
mobiflight::Clock::time_point fakeClock() { return fakeNow; }

void deliver(mobiflight::Channel& channel, std::vector<unsigned char> record) {
    channel.receive(reinterpret_cast<SIMCONNECT_RECV*>(record.data()), static_cast<DWORD>(record.size()));
}

void answer(mobiflight::Channel& channel, const std::string& text, bool own = false) {
    deliver(channel, simconnect_double::responseRecord(
                         own ? mobiflight::kOwnResponseRequest : mobiflight::kDefaultResponseRequest, text));
}

// The commands written, as (area, text).
std::vector<std::pair<DWORD, std::string>> commands() {
    std::vector<std::pair<DWORD, std::string>> out;
    for (const simconnect_double::ClientDataSet& set : recorder().clientDataSets) {
        EXPECT_EQ(set.size, 1024U);
        EXPECT_EQ(set.definition, mobiflight::kTextDefinition);
        out.emplace_back(set.area, set.text);
    }
    return out;
}

// The texts written to the channel's own command area.
Strings ownCommands() {
    Strings out;
    for (const auto& [area, text] : commands()) {
        if (area == mobiflight::kOwnCommandArea) out.push_back(text);
    }
    return out;
}

constexpr DWORD kDefault = mobiflight::kDefaultCommandArea;
constexpr DWORD kOwn = mobiflight::kOwnCommandArea;

struct Channel : Msfs {
    mobiflight::Channel channel;

    void SetUp() override {
        Msfs::SetUp();
        fakeNow = {};
        channel.clock = &fakeClock;
    }
    // Opened and answered as module 1.0.1 answers; the own channel is up.
    void bringUp(mobiflight::Channel& c) {
        c.open(handle);
        answer(c, "MF.Pong");
        answer(c, "MF.Version.1.0.1");
        answer(c, "MF.Clients.Add.msfs-panel.Finished");
    }
};

TEST_F(Channel, OpensOnTheDefaultClientThenUsesOnlyItsOwn) {
    channel.open(handle);
    const simconnect_double::Recorder& r = recorder();
    ASSERT_EQ(r.clientDataMaps.size(), 2U);
    EXPECT_EQ(r.clientDataMaps[0].name, "MobiFlight.Command");
    EXPECT_EQ(r.clientDataMaps[1].name, "MobiFlight.Response");
    ASSERT_EQ(r.clientDataDefinitions.size(), 1U);
    EXPECT_EQ(r.clientDataDefinitions[0].offset, 0U);
    EXPECT_EQ(r.clientDataDefinitions[0].size_or_type, 1024U);
    ASSERT_EQ(r.clientDataRequests.size(), 1U);
    EXPECT_EQ(r.clientDataRequests[0].area, r.clientDataMaps[1].area);
    EXPECT_EQ(r.clientDataRequests[0].period, static_cast<DWORD>(SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET));
    EXPECT_EQ(r.clientDataRequests[0].flags, SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED);
    // The area may hold a ping already (a last connection's): a dummy first.
    using Commands = std::vector<std::pair<DWORD, std::string>>;
    EXPECT_EQ(commands(), (Commands{{kDefault, "MF.DummyCmd"}, {kDefault, "MF.Ping"}}));
    EXPECT_FALSE(channel.up());

    recorder().clientDataSets.clear();
    answer(channel, "MF.Pong");
    answer(channel, "MF.Version.1.0.1");
    EXPECT_EQ(commands(), (Commands{{kDefault, "MF.Version.Get"}, {kDefault, "MF.Clients.Add.msfs-panel"}}));
    EXPECT_FALSE(channel.up());

    recorder().clientDataSets.clear();
    ::testing::internal::CaptureStderr();
    answer(channel, "MF.Clients.Add.msfs-panel.Finished");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: MobiFlight WASM module 1.0.1 found: the FMS keys go through it\n");
    EXPECT_TRUE(channel.up());
    EXPECT_EQ(channel.version(), "1.0.1");
    ASSERT_EQ(r.clientDataMaps.size(), 5U);
    EXPECT_EQ(r.clientDataMaps[2].name, "msfs-panel.Command");
    EXPECT_EQ(r.clientDataMaps[3].name, "msfs-panel.Response");
    EXPECT_EQ(r.clientDataMaps[4].name, "msfs-panel.LVars");
    ASSERT_EQ(r.clientDataRequests.size(), 2U);
    EXPECT_EQ(r.clientDataRequests[1].area, r.clientDataMaps[3].area);
    // A reconnect finds the last connection's variables: cleared first.
    EXPECT_EQ(commands(), (Commands{{kOwn, "MF.DummyCmd"}, {kOwn, "MF.SimVars.Clear"}}));
    EXPECT_TRUE(channel.runCode("(>K:AP_MASTER)"));
    EXPECT_EQ(commands().back(), (std::pair<DWORD, std::string>{kOwn, "MF.SimVars.Set.(>K:AP_MASTER)"}));
    EXPECT_TRUE(recorder().events.empty());
}

TEST_F(Channel, IgnoresWhatIsNotItsAnswer) {
    channel.open(handle);
    answer(channel, "MF.Clients.Add.msfs-panel.Finished");  // before the pong
    answer(channel, "MF.Pong", true);                       // on an area not listened to yet
    deliver(channel, simconnect_double::responseRecord(REQ_RADIOS, "MF.Pong"));
    EXPECT_EQ(recorder().clientDataSets.size(), 2U);
    answer(channel, "MF.Pong");
    answer(channel, "MF.Clients.Add.other-program.Finished");
    answer(channel, "MF.Clients.Add.msfs-panel.Finishedx");
    EXPECT_FALSE(channel.up());
    // A response filling the whole area has no NUL; a record cut short is not one.
    deliver(channel, simconnect_double::responseRecord(mobiflight::kDefaultResponseRequest, std::string(1024, 'x')));
    std::vector<unsigned char> cut = simconnect_double::responseRecord(mobiflight::kDefaultResponseRequest, "MF.Pong");
    cut.resize(30);
    deliver(channel, cut);
    EXPECT_EQ(recorder().clientDataSets.size(), 4U);
    EXPECT_FALSE(channel.up());
}

TEST_F(Channel, SaysOnceWhenNoModuleAnsweredAndStillTakesALateAnswer) {
    channel.open(handle);
    ::testing::internal::CaptureStderr();
    fakeNow += mobiflight::kAnswerTimeout - std::chrono::milliseconds(1);
    channel.poll();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(channel.givenUp());

    ::testing::internal::CaptureStderr();
    fakeNow += std::chrono::milliseconds(1);
    channel.poll();
    channel.poll();
    fakeNow += std::chrono::hours(1);
    channel.poll();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: no MobiFlight WASM module answered: the FMS1 and FMS2 knobs and keys will do nothing "
              "(see README: FMS modes)\n");
    EXPECT_TRUE(channel.givenUp());
    EXPECT_FALSE(channel.runCustomEvent("MobiFlight.AS530_DirectTo_Push"));

    ::testing::internal::CaptureStderr();
    bringUp(channel);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: MobiFlight WASM module 1.0.1 found: the FMS keys go through it\n");
    EXPECT_FALSE(channel.givenUp());

    // Each connection has its own answer time, and says it again.
    channel.open(handle);
    EXPECT_FALSE(channel.up());
    ::testing::internal::CaptureStderr();
    fakeNow += mobiflight::kAnswerTimeout;
    channel.poll();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("no MobiFlight WASM module answered"), std::string::npos);
}

TEST_F(Channel, APongWithoutTheOwnChannelIsSaidAsSuch) {
    channel.open(handle);
    answer(channel, "MF.Pong");
    ::testing::internal::CaptureStderr();
    fakeNow += mobiflight::kAnswerTimeout;
    channel.poll();
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "msfs-panel: the MobiFlight WASM module answered but added no channel for msfs-panel: the FMS1 and FMS2 "
        "knobs and keys go out as MobiFlight events, which only a module with an events.txt knows (see README: FMS "
        "modes)\n");
}

TEST_F(Channel, AClosedChannelSendsNothingAndNeverTimesOut) {
    bringUp(channel);
    channel.close();
    const std::size_t before = recorder().calls.size();
    EXPECT_FALSE(channel.runCustomEvent("MobiFlight.AS530_DirectTo_Push"));
    EXPECT_FALSE(channel.runCode("(>H:X)"));
    ::testing::internal::CaptureStderr();
    fakeNow += std::chrono::hours(1);
    channel.poll();
    answer(channel, "MF.Pong");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(recorder().calls.size(), before);
}

// The module acts on a command only when the area's content changes.
TEST_F(Channel, AnIdenticalCommandFollowsADummySoThatItCounts) {
    bringUp(channel);
    recorder().clientDataSets.clear();
    EXPECT_TRUE(channel.runCode("(>H:A)"));
    EXPECT_TRUE(channel.runCode("(>H:A)"));
    EXPECT_TRUE(channel.runCode("(>H:B)"));
    EXPECT_TRUE(channel.runCode("(>H:A)"));
    EXPECT_TRUE(channel.runCode("(>H:A)"));
    EXPECT_EQ(ownCommands(),
              (Strings{"MF.SimVars.Set.(>H:A)", "MF.DummyCmd", "MF.SimVars.Set.(>H:A)", "MF.SimVars.Set.(>H:B)",
                       "MF.SimVars.Set.(>H:A)", "MF.DummyCmd", "MF.SimVars.Set.(>H:A)"}));
}

TEST_F(Channel, OnlyMobiFlightCustomEventsAndCodeThatFitsGoThrough) {
    bringUp(channel);
    recorder().clientDataSets.clear();
    EXPECT_TRUE(channel.runCustomEvent("MobiFlight.AS1000_PFD_DIRECTTO"));
    EXPECT_FALSE(channel.runCustomEvent("TOGGLE_GPS_DRIVES_NAV1"));
    EXPECT_FALSE(channel.runCustomEvent(""));
    EXPECT_FALSE(channel.runCustomEvent("MobiFlight."));
    EXPECT_FALSE(channel.runCustomEvent("A32NX.FCU_HDG_INC"));
    // The command and its NUL fill the area at most.
    const std::size_t room = 1024 - std::strlen("MF.SimVars.Set.") - 1;
    EXPECT_TRUE(channel.runCode(std::string(room, '1')));
    EXPECT_FALSE(channel.runCode(std::string(room + 1, '1')));
    EXPECT_EQ(ownCommands(),
              (Strings{"MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)", "MF.SimVars.Set." + std::string(room, '1')}));
}

TEST_F(Channel, ItsExceptionsAreTakenQuietlyOthersAreNot) {
    channel.open(handle);  // no Open here: the channel's calls are send IDs 1 to N
    const std::size_t sent = recorder().calls.size();
    ::testing::internal::CaptureStderr();
    for (DWORD id = 1; id <= sent; ++id) {
        EXPECT_TRUE(
            channel.takeException({{24, 4, SIMCONNECT_RECV_ID_EXCEPTION}, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, id, 1}))
            << id;
    }
    EXPECT_FALSE(channel.takeException({{24, 4, SIMCONNECT_RECV_ID_EXCEPTION}, 3, static_cast<DWORD>(sent + 1), 1}));
    EXPECT_FALSE(channel.takeException({{24, 4, SIMCONNECT_RECV_ID_EXCEPTION}, 3, 0, 1}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Key presses through the program's own operations; Direct-To twice and a
// knob's 50 reports are checked end to end (tests/e2e/mobiflight_test.cpp).
struct ProgramChannel : Channel {
    void SetUp() override {
        Channel::SetUp();
        mobiflight::channel().clock = &fakeClock;
        bringUp(mobiflight::channel());
        recorder().clientDataSets.clear();
    }
    void TearDown() override { mobiflight::channel().close(); }
};

TEST_F(ProgramChannel, KeysWithoutAnAs1000SideSendTheirEventsAsBefore) {
    // OBS: the AS530 key, and a nameless event for the AS1000; CDI: a stock
    // event and a nameless one.
    sim.pressKey(key::Unit1Cdi + 1);
    sim.pressKey(key::Unit1Cdi + 1);
    sim.pressKey(key::Unit1Cdi);
    EXPECT_EQ(ownCommands(),
              (Strings{"MF.SimVars.Set.(>H:AS530_OBS_Push)", "MF.DummyCmd", "MF.SimVars.Set.(>H:AS530_OBS_Push)"}));
    EXPECT_EQ(sent(), (Sent{{64, 0}, {64, 0}, {41, 0}, {63, 0}}));
}

TEST_F(ProgramChannel, AFailedWriteFallsBackToTheEvent) {
    recorder().setClientDataResult = E_FAIL;
    sim.pressKey(key::Unit1DirectTo);
    EXPECT_EQ(sent(), (Sent{{37, 0}, {59, 0}}));
    recorder().setClientDataResult = S_OK;
    sim.pressKey(key::Unit1DirectTo);
    EXPECT_EQ(ownCommands(),
              (Strings{"MF.SimVars.Set.(>H:AS530_DirectTo_Push)", "MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)"}));
}

TEST_F(ProgramChannel, OtherModesStillSendEvents) {
    sim.pressKey(key::ApMaster);
    sim.adjustBarometer(1, 1, 0);
    EXPECT_EQ(sent(), (Sent{{85, 0}, {10, 1}}));
    EXPECT_TRUE(ownCommands().empty());
}

TEST_F(ProgramChannel, TheVerboseLogNamesTheActionBeforeEachCommand) {
    PanelState panel{nullptr, false, &sim};
    enableVerboseLog(panel);
    ::testing::internal::CaptureStderr();
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = FMS1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = BTN_DIRECT_TO, .mode = FMS1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = FMS1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = BTN_HDG_OBS, .mode = FMS1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = FMS1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = BTN_HDG_OBS, .mode = FMS1, .outer_delta = 0, .inner_delta = 0});
    const std::string said = ::testing::internal::GetCapturedStderr();
    disableVerboseLog(panel);
    EXPECT_EQ(said,
              "mode FMS1\n"
              "FMS1 DIRECT_TO -> MF.SimVars.Set.(>H:AS530_DirectTo_Push)\n"
              "FMS1 DIRECT_TO -> MF.SimVars.Set.(>H:AS1000_PFD_DIRECTTO)\n"
              "FMS1 HDG_OBS -> MF.SimVars.Set.(>H:AS530_OBS_Push)\n"
              "FMS1 HDG_OBS -> event 64 (no simulator event) 0\n"
              "msfs-panel.Command <- MF.DummyCmd\n"
              "FMS1 HDG_OBS -> MF.SimVars.Set.(>H:AS530_OBS_Push)\n"
              "FMS1 HDG_OBS -> event 64 (no simulator event) 0\n");
}

TEST_F(Msfs, WithoutTheChannelTheFmsKeysSendTheirCustomEvents) {
    mobiflight::channel().close();
    sim.pressKey(key::Unit1DirectTo);
    sim.turnFmsKnobs(1, 1, 0);
    EXPECT_EQ(sent(), (Sent{{37, 0}, {59, 0}, {20, 1}, {28, 1}}));
    EXPECT_TRUE(recorder().clientDataSets.empty());
}

// Values the module reads: registered on the own channel after the clear,
// read back by index, forgotten with the connection.
TEST_F(Channel, WatchedValuesAreRegisteredWhenTheChannelIsUpAndReadBack) {
    channel.open(handle);
    const auto master = channel.watch("(L:A32NX_AUTOPILOT_1_ACTIVE)");
    ASSERT_TRUE(master.has_value());
    EXPECT_EQ(channel.watch("(L:A32NX_AUTOPILOT_1_ACTIVE)"), master);
    EXPECT_TRUE(ownCommands().empty());
    answer(channel, "MF.Pong");
    answer(channel, "MF.Clients.Add.msfs-panel.Finished");
    const auto loc = channel.watch("(A:AUTOPILOT NAV1 LOCK, Bool)");
    ASSERT_TRUE(loc.has_value());
    EXPECT_EQ(ownCommands(), (Strings{"MF.DummyCmd", "MF.SimVars.Clear", "MF.SimVars.Add.(L:A32NX_AUTOPILOT_1_ACTIVE)",
                                      "MF.SimVars.Add.(A:AUTOPILOT NAV1 LOCK, Bool)"}));
    // Variable k: four bytes at offset 4k of the value area, its own request.
    const simconnect_double::Recorder& r = recorder();
    ASSERT_EQ(r.clientDataDefinitions.size(), 3U);
    EXPECT_EQ(r.clientDataDefinitions[2].offset, 4U);
    EXPECT_EQ(r.clientDataDefinitions[2].size_or_type, 4U);
    ASSERT_EQ(r.clientDataRequests.size(), 4U);
    EXPECT_EQ(r.clientDataRequests[3].area, mobiflight::kOwnValueArea);
    EXPECT_EQ(r.clientDataRequests[3].definition, r.clientDataDefinitions[2].definition);

    EXPECT_FALSE(channel.value(*master).has_value());
    const float one = 1.0F;
    std::vector<unsigned char> bytes(4);
    std::memcpy(bytes.data(), &one, 4);
    deliver(channel, simconnect_double::clientDataRecord(r.clientDataRequests[3].request, bytes));
    EXPECT_EQ(channel.value(*loc), 1.0F);
    EXPECT_FALSE(channel.value(*master).has_value());
    EXPECT_FALSE(channel.value(99).has_value());

    // Unwatched: cleared in the module; watched again, on the definitions
    // this connection has.
    channel.unwatchAll();
    EXPECT_FALSE(channel.value(*loc).has_value());
    EXPECT_EQ(ownCommands().back(), "MF.SimVars.Clear");
    EXPECT_EQ(channel.watch("(L:OTHER)"), 0U);
    EXPECT_EQ(ownCommands().back(), "MF.SimVars.Add.(L:OTHER)");
    EXPECT_EQ(r.clientDataDefinitions.size(), 3U);

    // The next connection starts from nothing.
    channel.open(handle);
    EXPECT_FALSE(channel.value(0).has_value());
    EXPECT_EQ(channel.watch("(L:THIRD)"), 0U);
    EXPECT_EQ(channel.watch(std::string(mobiflight::kMaxCodeBytes + 1, 'x')), std::nullopt);
}

TEST_F(Channel, TheVerboseLogShowsEachCommandAndResponse) {
    std::vector<std::string> actions;
    static std::vector<std::string>* seen = nullptr;
    seen = &actions;
    channel.enableLog([](std::string_view command) { seen->emplace_back(command); });
    ::testing::internal::CaptureStderr();
    bringUp(channel);
    channel.runCode("(>H:A)");
    channel.runCode("(>H:A)");
    channel.takeException({{24, 4, SIMCONNECT_RECV_ID_EXCEPTION}, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 4, 1});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "MobiFlight.Command <- MF.DummyCmd\n"
              "MobiFlight.Command <- MF.Ping\n"
              "MobiFlight.Response -> MF.Pong\n"
              "MobiFlight.Command <- MF.Version.Get\n"
              "MobiFlight.Command <- MF.Clients.Add.msfs-panel\n"
              "MobiFlight.Response -> MF.Version.1.0.1\n"
              "MobiFlight.Response -> MF.Clients.Add.msfs-panel.Finished\n"
              "msfs-panel.Command <- MF.DummyCmd\n"
              "msfs-panel.Command <- MF.SimVars.Clear\n"
              "msfs-panel: MobiFlight WASM module 1.0.1 found: the FMS keys go through it\n"
              "msfs-panel.Command <- MF.DummyCmd\n"
              "MobiFlight.Response: the simulator refused RequestClientData: UNRECOGNIZED_ID\n");
    EXPECT_EQ(actions, (Strings{"MF.SimVars.Set.(>H:A)", "MF.SimVars.Set.(>H:A)"}));
    channel.disableLog();
}

// The OPEN record names the simulator, and opens the channel after the
// start-up; CLIENT_DATA and the channel's exceptions reach the channel.
TEST_F(Msfs, TheDispatchHandlerNamesTheSimulatorAndFeedsTheChannel) {
    msfsInterface.connection = &handle;
    msfsInterface.report_every_exception = true;
    std::vector<unsigned char> open = simconnect_double::openRecord("SunRise", 12, 1, 12, 1);
    ::testing::internal::CaptureStderr();
    onSimConnectMessage(reinterpret_cast<SIMCONNECT_RECV*>(open.data()), static_cast<DWORD>(open.size()), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: simulator: Microsoft Flight Simulator 2024 (SunRise 12.1, SimConnect 12.1)\n");
    EXPECT_EQ(recorder().clientDataSets.size(), 2U);  // the dummy and the ping

    std::vector<unsigned char> refused = simconnect_double::exceptionRecord(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, 3, 1);
    std::vector<unsigned char> pong = simconnect_double::responseRecord(mobiflight::kDefaultResponseRequest, "MF.Pong");
    ::testing::internal::CaptureStderr();
    onSimConnectMessage(reinterpret_cast<SIMCONNECT_RECV*>(refused.data()), static_cast<DWORD>(refused.size()),
                        nullptr);
    onSimConnectMessage(reinterpret_cast<SIMCONNECT_RECV*>(pong.data()), static_cast<DWORD>(pong.size()), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(recorder().clientDataSets.back().text, "MF.Clients.Add.msfs-panel");
    mobiflight::channel().close();
    msfsInterface.connection = nullptr;
    msfsInterface.report_every_exception = false;
}

TEST(WhichSimulator, NamesTheTwoItKnowsAndShowsAnyOtherAsGiven) {
    struct Case {
        std::string name;
        DWORD major, minor, simconnect_major, simconnect_minor;
        std::string said;
    };
    const Case cases[] = {
        {"KittyHawk", 11, 0, 11, 0, "Microsoft Flight Simulator 2020 (KittyHawk 11.0, SimConnect 11.0)"},
        {"SunRise", 12, 1, 12, 1, "Microsoft Flight Simulator 2024 (SunRise 12.1, SimConnect 12.1)"},
        {"Lockheed Martin\x01", 4, 5, 4, 0,
         "\"Lockheed Martin\\x01\" 4.5 (SimConnect 4.0), which this program does not know"},
        {"kittyhawk", 11, 0, 11, 0, "\"kittyhawk\" 11.0 (SimConnect 11.0), which this program does not know"},
        {std::string(256, 'N'), 1, 2, 3, 4,
         "\"" + std::string(40, 'N') + "...\" 1.2 (SimConnect 3.4), which this program does not know"},
    };
    for (const Case& c : cases) {
        const std::vector<unsigned char> bytes =
            simconnect_double::openRecord(c.name, c.major, c.minor, c.simconnect_major, c.simconnect_minor);
        SIMCONNECT_RECV_OPEN open;
        std::memcpy(&open, bytes.data(), sizeof open);
        EXPECT_EQ(describeSimulator(open), c.said) << c.name;
    }
    ::testing::internal::CaptureStderr();
    const std::vector<unsigned char> bytes = simconnect_double::openRecord("SunRise", 12, 1, 12, 1);
    sayWhichSimulator(reinterpret_cast<const SIMCONNECT_RECV*>(bytes.data()), 100);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: simulator: not named (its OPEN record has 100 bytes, fewer than 308)\n");
}

}  // namespace
