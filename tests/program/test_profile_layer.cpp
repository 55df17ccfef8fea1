// The profile layer between the panel's reports and the built-in dispatcher,
// against the recording SimConnect: what a chosen profile resolves, what
// each action kind sends, what it hands on, and how its LEDs light.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "acceleration/panel_acceleration.h"
#include "doubles/recording_simconnect.h"
#include "driver/main_loop.h"
#include "mobiflight/channel.h"
#include "profiles/profile_file.h"
#include "profiles/profile_layer.h"
#include "simconnect/send_event.h"
#include "recording_sim_interface.h"

namespace {

using profiles::profileLayer;
using simconnect_double::recorder;
using Calls = std::vector<std::string>;

constexpr DWORD kAircraftLoaded = profiles::kAircraftLoadedEvent;

struct Layer : ::testing::Test {
    HANDLE handle = simconnect_double::kFakeHandle;
    RecordingSimInterface sim;
    PanelState panel{nullptr, false, &sim};

    void SetUp() override {
        simconnect_double::reset();
        profileLayer.connection = &handle;
        panel.linked = true;
    }
    void TearDown() override {
        profileLayer.use({}, false);
        profileLayer.onDisconnected();
        profileLayer.verbose = false;
        profileLayer.connection = nullptr;  // this fixture's handle goes with it
    }

    // Profiles from their text, as files named a.toml, b.toml ...
    void useProfiles(const std::vector<std::string>& texts, bool fixed = false) {
        std::vector<profiles::Profile> list;
        char name[] = "a.toml";
        for (const std::string& text : texts) {
            profiles::ReadResult read = profiles::parseProfile(text, name, name);
            if (!read.profile) {
                ADD_FAILURE() << read.faults.front();
                return;
            }
            list.push_back(std::move(*read.profile));
            ++name[0];
        }
        profileLayer.use(std::move(list), fixed);
        profileLayer.onConnected();
    }

    static void deliver(std::vector<unsigned char> record) {
        ASSERT_TRUE(profileLayer.takeRecord(reinterpret_cast<SIMCONNECT_RECV*>(record.data()),
                                            static_cast<DWORD>(record.size())));
    }
    // The answers to the start-up's questions: the aircraft's path and title.
    static void loadAircraft(const std::string& title, const std::string& path) {
        deliver(simconnect_double::systemStateRecord(profiles::kAircraftStateRequest, path));
        deliver(simconnect_double::stringDataRecord(profiles::kTitleRequest, title));
    }
    // A later load: the system event, then the title it asks for.
    static void switchAircraft(const std::string& title, const std::string& path) {
        deliver(simconnect_double::eventFilenameRecord(kAircraftLoaded, path));
        deliver(simconnect_double::stringDataRecord(profiles::kTitleRequest, title));
    }

    void report(std::uint32_t buttons, std::int8_t outer, std::int8_t inner, std::uint8_t mode) {
        PanelReport r;
        r.buttons = buttons;
        r.outer_delta = outer;
        r.inner_delta = inner;
        r.mode = mode;
        acceptReport(panel, r);
    }

    // Transmitted events as (simulator event name, data).
    static std::vector<std::pair<std::string, DWORD>> transmitted() {
        std::vector<std::pair<std::string, DWORD>> out;
        for (const simconnect_double::Event& e : recorder().events) {
            std::string name = "?";
            for (const simconnect_double::Map& m : recorder().maps) {
                if (m.id == e.event) name = m.name;
            }
            out.emplace_back(name, e.data);
        }
        return out;
    }
    // The definition a variable got.
    static DWORD definitionOf(const std::string& variable) {
        for (const simconnect_double::Definition& d : recorder().definitions) {
            if (d.variable == variable) return d.definition;
        }
        ADD_FAILURE() << "no definition of " << variable;
        return 0;
    }
    static void value(const std::string& variable, double v) {
        deliver(simconnect_double::numberDataRecord(definitionOf(variable), v));
    }
    // Each SetDataOnSimObject as (variable, value).
    static std::vector<std::pair<std::string, double>> writes() {
        std::vector<std::pair<std::string, double>> out;
        for (const simconnect_double::DataSet& set : recorder().dataSets) {
            std::string name = "?";
            for (const simconnect_double::Definition& d : recorder().definitions) {
                if (d.definition == set.definition) name = d.variable;
            }
            double v = 0.0;
            EXPECT_EQ(set.bytes.size(), sizeof v);
            std::memcpy(&v, set.bytes.data(), sizeof v);
            out.emplace_back(name, v);
        }
        return out;
    }
};

TEST_F(Layer, WithoutProfilesNothingIsAddedAndEverythingPassesOn) {
    profileLayer.onConnected();
    EXPECT_TRUE(recorder().calls.empty());
    report(BTN_AP_CDI, 2, 0, AP);
    EXPECT_EQ(sim.calls, (Calls{"adjustAltitudeAndVerticalSpeed(1,2,0)", "pressKey(22)"}));
    EXPECT_EQ(profileLayer.leds(0x15), 0x15);
}

TEST_F(Layer, TheStartUpAsksForTheAircraftAtItsEnd) {
    useProfiles({"match = [\"X\"]\n"});
    using C = simconnect_double::Call;
    EXPECT_EQ(recorder().calls, (std::vector<C>{C::Subscribe, C::SystemState, C::Define, C::Request}));
    ASSERT_EQ(recorder().subscriptions.size(), 1U);
    EXPECT_EQ(recorder().subscriptions[0].id, 91U);
    EXPECT_EQ(recorder().subscriptions[0].name, "AircraftLoaded");
    EXPECT_EQ(recorder().stateRequests[0].name, "AircraftLoaded");
    EXPECT_EQ(recorder().definitions[0].variable, "TITLE");
    EXPECT_EQ(recorder().definitions[0].type, SIMCONNECT_DATATYPE_STRING256);
    EXPECT_EQ(recorder().requests[0].period, SIMCONNECT_PERIOD_ONCE);
}

TEST_F(Layer, TheLongestMatchWinsAndEachChangeIsSaidOnce) {
    useProfiles({"name = \"Short\"\nmatch = [\"A320\"]\n[AP]\nap_cdi = \"K:SHORT\"\n",
                 "name = \"Long\"\nmatch = [\"a32nx\"]\n[AP]\nap_cdi = \"K:LONG\"\n",
                 "name = \"Tie\"\nmatch = [\"A32NX\"]\n"});
    testing::internal::CaptureStderr();
    loadAircraft("FlyByWire A320neo", "C:\\Community\\fbw\\SimObjects\\AirPlanes\\FlyByWire_A32NX\\aircraft.cfg");
    // The same aircraft again (the short path, and the event on connect)
    // changes nothing.
    deliver(simconnect_double::systemStateRecord(profiles::kAircraftStateRequest,
                                                 "SimObjects/AirPlanes/FlyByWire_A32NX/aircraft.cfg"));
    switchAircraft("FlyByWire A320neo", "SimObjects\\AirPlanes\\FlyByWire_A32NX\\aircraft.cfg");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said,
              "msfs-panel: aircraft \"FlyByWire A320neo\" "
              "(C:\\Community\\fbw\\SimObjects\\AirPlanes\\FlyByWire_A32NX\\aircraft.cfg): profile \"Long\" from "
              "b.toml\n");
    ASSERT_NE(profileLayer.current(), nullptr);
    EXPECT_EQ(recorder().maps.size(), 1U);  // resolved once
    report(BTN_AP_CDI, 0, 0, AP);
    EXPECT_EQ(transmitted(), (std::vector<std::pair<std::string, DWORD>>{{"LONG", 0}}));
    EXPECT_TRUE(sim.calls.empty());

    testing::internal::CaptureStderr();
    switchAircraft("Cessna", "SimObjects/Airplanes/C172/aircraft.cfg");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "msfs-panel: aircraft \"Cessna\" (SimObjects/Airplanes/C172/aircraft.cfg): built-in mapping\n");
    report(0, 0, 0, AP);
    report(BTN_AP_CDI, 0, 0, AP);
    EXPECT_EQ(sim.calls, Calls{"pressKey(22)"});
}

TEST_F(Layer, EventsGetNewIdsAfterTheBuiltInOnesAndKeepThemOnTheConnection) {
    useProfiles({"match = [\"ONE\"]\n[AP]\nap_cdi = \"K:A\"\nhdg_obs = \"K:B\"\n",
                 "match = [\"TWO\"]\n[AP]\nap_cdi = \"K:B\"\nhdg_obs = \"K:C\"\n"});
    loadAircraft("ONE", "p1");
    switchAircraft("TWO", "p2");
    switchAircraft("ONE", "p1");
    switchAircraft("TWO", "p2");
    std::vector<std::pair<DWORD, std::string>> maps;
    for (const auto& m : recorder().maps) maps.emplace_back(m.id, m.name);
    EXPECT_EQ(maps, (std::vector<std::pair<DWORD, std::string>>{{92, "A"}, {93, "B"}, {94, "C"}}));
}

TEST_F(Layer, EachActionKind) {
    useProfiles({R"(match = ["X"]
[AP]
ap_cdi = ["K:FIRST", "K:SECOND:-2"]
hdg_obs = "L:MODE=3"
nav_msg = "B:AP_BUTTON=1"
apr_fpl = "none"
outer.cw = ["K:UP", "K:UP2:0x20000000"]
inner.cw = "L:COUNTER+=10"
inner.ccw = "L:COUNTER-=10"
)"});
    loadAircraft("X", "x");
    report(BTN_AP_CDI, 0, 0, AP);
    report(BTN_HDG_OBS, 0, 0, AP);
    report(BTN_APR_FPL, 2, 0, AP);  // the list once per detent, in order
    // B: before the aircraft's input events are known: nothing.
    report(BTN_NAV_MSG, 0, 0, AP);
    EXPECT_TRUE(recorder().inputSets.empty());
    ASSERT_EQ(recorder().enumerations.size(), 1U);
    deliver(simconnect_double::inputEventsRecord(recorder().enumerations[0], {{"OTHER", 1}, {"AP_BUTTON", 0xABCDEF}}, 0,
                                                 1));
    report(0, 0, 0, AP);
    report(BTN_NAV_MSG, 0, 0, AP);
    ASSERT_EQ(recorder().inputSets.size(), 1U);
    EXPECT_EQ(recorder().inputSets[0].hash, 0xABCDEFU);
    double sent = 0.0;
    std::memcpy(&sent, recorder().inputSets[0].bytes.data(), sizeof sent);
    EXPECT_EQ(sent, 1.0);

    EXPECT_EQ(
        transmitted(),
        (std::vector<std::pair<std::string, DWORD>>{
            {"FIRST", 0}, {"SECOND", 0xFFFFFFFE}, {"UP", 0}, {"UP2", 0x20000000}, {"UP", 0}, {"UP2", 0x20000000}}));
    EXPECT_EQ(writes(), (std::vector<std::pair<std::string, double>>{{"L:MODE", 3}}));
    // Only the L:var that is read is requested, on change.
    for (const simconnect_double::Request& q : recorder().requests) {
        if (q.request == profiles::kTitleRequest) continue;
        EXPECT_EQ(q.definition, definitionOf("L:COUNTER"));
        EXPECT_EQ(q.flags, SIMCONNECT_DATA_REQUEST_FLAG_CHANGED);
    }
    EXPECT_TRUE(sim.calls.empty());  // every control here was the profile's
}

TEST_F(Layer, AStepIsWrittenOnlyFromAValueReceivedAndAsOneSumPerReport) {
    useProfiles({"match = [\"X\"]\n[AP]\nouter.cw = \"L:E_FCU_ALTITUDE+=1\"\nouter.ccw = \"L:E_FCU_ALTITUDE-=1\"\n"});
    loadAircraft("X", "x");
    report(0, 3, 0, AP);
    EXPECT_TRUE(writes().empty()) << "no value received yet";
    value("L:E_FCU_ALTITUDE", 100);
    report(0, 3, 0, AP);
    report(0, -1, 0, AP);            // before the simulator shows 103: from the value written
    value("L:E_FCU_ALTITUDE", 100);  // a block from before the writes: held off
    report(0, 2, 0, AP);
    EXPECT_EQ(writes(), (std::vector<std::pair<std::string, double>>{
                            {"L:E_FCU_ALTITUDE", 103}, {"L:E_FCU_ALTITUDE", 102}, {"L:E_FCU_ALTITUDE", 104}}));
}

TEST_F(Layer, AnUnnamedControlKeepsItsBuiltInBehaviour) {
    useProfiles({"match = [\"X\"]\n[AP]\nouter.cw = \"K:UP\"\nap_cdi = \"K:AP1\"\n"});
    loadAircraft("X", "x");
    report(BTN_HDG_OBS, -2, 4, AP);  // outer ccw, inner, HDG: none of them named
    report(0, 1, 1, AP);             // outer cw named, inner not
    report(0, 1, 0, COM1);           // another mode
    EXPECT_EQ(sim.calls, (Calls{"adjustAltitudeAndVerticalSpeed(1,-2,4)", "pressKey(23)",
                                "adjustAltitudeAndVerticalSpeed(1,0,1)", "tuneCom(1,1,0)"}));
    EXPECT_EQ(transmitted(), (std::vector<std::pair<std::string, DWORD>>{{"UP", 0}}));
}

TEST_F(Layer, ShiftTablesAndSeveralModeTables) {
    useProfiles({R"(match = ["X"]
["COM1 NAV1"]
swap = "K:PLAIN_SWAP"
outer.cw = "K:PLAIN_OUTER"
["COM1".shift]
swap = "K:SHIFT_SWAP"
)"});
    loadAircraft("X", "x");
    report(BTN_SWAP, 1, 0, COM1);       // shift off
    report(BTN_KNOB_PUSH, 0, 0, COM1);  // built-in push: shift on
    report(BTN_SWAP, 1, 0, COM1);       // the knob falls back to the plain table
    report(0, 0, 0, COM1);
    report(BTN_KNOB_PUSH | BTN_SWAP, 0, 0, COM1);  // swap reads shift after this push: off
    report(0, 0, 0, COM1);
    report(BTN_SWAP, 1, 0, NAV1);  // the other mode of the table
    report(0, 0, 0, NAV1);
    report(BTN_KNOB_PUSH, 0, 0, NAV1);
    report(BTN_SWAP, 0, 0, NAV1);  // NAV1 has no shift table: plain with shift on
    EXPECT_EQ(transmitted(), (std::vector<std::pair<std::string, DWORD>>{{"PLAIN_OUTER", 0},
                                                                         {"PLAIN_SWAP", 0},
                                                                         {"PLAIN_OUTER", 0},
                                                                         {"SHIFT_SWAP", 0},
                                                                         {"PLAIN_SWAP", 0},
                                                                         {"PLAIN_OUTER", 0},
                                                                         {"PLAIN_SWAP", 0},
                                                                         {"PLAIN_SWAP", 0}}));
    EXPECT_TRUE(sim.calls.empty());
}

TEST_F(Layer, ARemappedPushKeepsShiftOff) {
    useProfiles({"match = [\"X\"]\n[AP]\npush = \"K:PUSH\"\n"});
    loadAircraft("X", "x");
    report(BTN_KNOB_PUSH, 0, 0, AP);
    report(0, 0, 0, AP);
    report(BTN_KNOB_PUSH, 1, 0, AP);
    EXPECT_FALSE(panel.shift);
    EXPECT_EQ(transmitted(), (std::vector<std::pair<std::string, DWORD>>{{"PUSH", 0}, {"PUSH", 0}}));
    EXPECT_EQ(sim.calls, Calls{"adjustAltitudeAndVerticalSpeed(1,1,0)"});
}

TEST_F(Layer, AMomentaryButtonReleasesWhatItsPressArmed) {
    useProfiles(
        {"match = [\"X\"]\n[\"AP COM1\"]\nap_cdi = { press = \"L:S_FCU_AP1=1\", release = \"L:S_FCU_AP1=0\" }\n"});
    loadAircraft("X", "x");
    report(BTN_AP_CDI, 0, 0, AP);
    report(BTN_AP_CDI, 0, 0, AP);    // held: nothing
    report(BTN_AP_CDI, 0, 0, XPDR);  // held across a mode change: nothing yet
    report(0, 0, 0, XPDR);           // released: the release its press armed
    EXPECT_EQ(writes(), (std::vector<std::pair<std::string, double>>{{"L:S_FCU_AP1", 1}, {"L:S_FCU_AP1", 0}}));
    EXPECT_TRUE(sim.calls.empty());
}

TEST_F(Layer, LedSourcesWithEachOperator) {
    useProfiles({R"(match = ["X"]
[leds]
AP = "builtin"
HDG = ["L:M == 10", "L:A"]
NAV = ["L:M < 5", "L:M > 40"]
APR = ["L:M <= 1", "L:M >= 30"]
ALT = ["A:AUTOPILOT ALTITUDE LOCK, Bool & 0x5", "L:N != 0"]
VS = "off"
)"});
    loadAircraft("X", "x");
    // Built-in AP and VS lit: AP stays built-in, VS is kept dark; the rest
    // are dark until their values have arrived.
    EXPECT_EQ(profileLayer.leds(0x21), 0x01);
    struct Row {
        double a, m, n, lock;
        std::uint8_t leds;
    };
    // clang-format off
    const Row rows[] = {
        {0, 10, 0, 4, 0x03},  // M == 10; 4 & 5 is not 5
        {2, 5,  0, 5, 0x13},  // A non-zero; 5 is neither < 5 nor > 40; 5 & 5
        {0, 1,  3, 0, 0x1D},  // 1 < 5, 1 <= 1, N != 0
        {0, 30, 0, 0, 0x09},  // 30 >= 30 only
        {0, 41, 0, 7, 0x1D},  // 41 > 40, 41 >= 30, 7 & 5
    };
    // clang-format on
    for (const Row& row : rows) {
        value("L:A", row.a);
        value("L:M", row.m);
        value("L:N", row.n);
        value("AUTOPILOT ALTITUDE LOCK", row.lock);
        EXPECT_EQ(profileLayer.leds(0x21), row.leds) << "M " << row.m;
    }
    for (const simconnect_double::Definition& d : recorder().definitions) {
        if (d.variable == "AUTOPILOT ALTITUDE LOCK") {
            EXPECT_EQ(d.unit, "Bool");
        }
    }
}

TEST_F(Layer, RejectedNamesAreSaidWithTheirProfileLineOnce) {
    useProfiles({"match = [\"X\"]\n[AP]\n\nap_cdi = \"K:NO_SUCH_EVENT\"\n[leds]\nAP = \"A:NO SUCH VAR\"\n"});
    loadAircraft("X", "x");
    const auto sendIdOf = [](simconnect_double::Call kind, std::size_t nth) {
        DWORD id = 0;
        std::size_t seen = 0;
        for (const simconnect_double::Call call : recorder().calls) {
            if (call != simconnect_double::Call::Dispatch && call != simconnect_double::Call::Close) ++id;
            if (call == kind && seen++ == nth) return id;
        }
        return DWORD{0};
    };
    const DWORD map = sendIdOf(simconnect_double::Call::Map, 0);
    const DWORD define = sendIdOf(simconnect_double::Call::Define, 1);
    testing::internal::CaptureStderr();
    deliver(simconnect_double::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, map, 2));
    deliver(simconnect_double::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, map, 2));
    deliver(simconnect_double::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, define, 2));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "a.toml:4: the simulator rejected MapClientEventToSimEvent(\"NO_SUCH_EVENT\"): NAME_UNRECOGNIZED\n"
              "a.toml:6: the simulator rejected AddToDataDefinition(\"NO SUCH VAR\", \"number\"): "
              "NAME_UNRECOGNIZED\n");
    // Someone else's exception is not the layer's.
    auto other = simconnect_double::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, 9999, 2);
    EXPECT_FALSE(profileLayer.takeRecord(reinterpret_cast<SIMCONNECT_RECV*>(other.data()), 24));
}

// A call that failed sent no packet: the last send ID is another's, and
// that other's exception is not the profile's to say.
TEST_F(Layer, AFailedCallClaimsNoOtherCallsException) {
    useProfiles({"match = [\"X\"]\n[AP]\nap_cdi = \"K:SOME_EVENT\"\n[leds]\nAP = \"A:SOME VAR\"\n"});
    sendEvent(handle, 1, 0);  // the built-in mapping's, just before
    DWORD others = 0;
    ASSERT_EQ(SimConnect_GetLastSentPacketID(handle, &others), S_OK);
    recorder().refuse = [](simconnect_double::Call call) {
        return call == simconnect_double::Call::Map || call == simconnect_double::Call::Define;
    };
    loadAircraft("X", "x");
    testing::internal::CaptureStderr();
    auto exception = simconnect_double::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, others, 2);
    EXPECT_FALSE(profileLayer.takeRecord(reinterpret_cast<SIMCONNECT_RECV*>(exception.data()),
                                         static_cast<DWORD>(exception.size())));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Layer, AnInputEventTheAircraftLacksIsNamed) {
    useProfiles({"match = [\"X\"]\n[AP]\nap_cdi = \"B:MISSING=1\"\n"});
    loadAircraft("X", "x");
    testing::internal::CaptureStderr();
    deliver(simconnect_double::inputEventsRecord(recorder().enumerations.at(0), {{"OTHER", 1}}, 0, 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a.toml:3: the loaded aircraft has no input event \"MISSING\"\n");
}

// H: events and RPN code run through the MobiFlight module's channel, once
// per detent; R: values are registered with it and light LEDs.
struct LayerWithChannel : Layer {
    static mobiflight::Clock::time_point now;
    void SetUp() override {
        Layer::SetUp();
        now = {};
        mobiflight::channel().clock = [] { return now; };
        mobiflight::channel().open(handle);
    }
    void TearDown() override {
        Layer::TearDown();
        mobiflight::channel().close();
        mobiflight::channel().clock = &mobiflight::Clock::now;
    }
    static void answer(const std::string& text) {
        std::vector<unsigned char> record =
            simconnect_double::responseRecord(mobiflight::kDefaultResponseRequest, text);
        mobiflight::channel().receive(reinterpret_cast<SIMCONNECT_RECV*>(record.data()),
                                      static_cast<DWORD>(record.size()));
    }
    static void moduleAnswers() {
        answer("MF.Pong");
        answer("MF.Clients.Add.msfs-panel.Finished");
    }
    static std::vector<std::string> commands() {
        std::vector<std::string> out;
        for (const simconnect_double::ClientDataSet& set : recorder().clientDataSets) {
            if (set.area == mobiflight::kOwnCommandArea) out.push_back(set.text);
        }
        return out;
    }
};
mobiflight::Clock::time_point LayerWithChannel::now;

constexpr const char* kChannelProfile =
    "name = \"Radio\"\nmatch = [\"X\"]\n[leds]\nAP = \"R:(L:A32NX_AUTOPILOT_1_ACTIVE)\"\n"
    "[COM1]\nswap = \"H:A32NX_RMP_L_TRANSFER_BUTTON_PRESSED\"\nouter.cw = \"RPN:(L:X) 1 + (>L:X)\"\n";

TEST_F(LayerWithChannel, HEventsRpnAndRValuesGoThroughTheChannel) {
    ::testing::internal::CaptureStderr();
    moduleAnswers();
    useProfiles({kChannelProfile});
    loadAircraft("X", "x");
    report(BTN_SWAP, 0, 0, COM1);
    report(0, 2, 0, COM1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(profileLayer.current()->name, "Radio");
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "MF.DummyCmd", "MF.SimVars.Clear", "MF.SimVars.Add.(L:A32NX_AUTOPILOT_1_ACTIVE)",
                              "MF.SimVars.Set.(>H:A32NX_RMP_L_TRANSFER_BUTTON_PRESSED)",
                              "MF.SimVars.Set.(L:X) 1 + (>L:X)", "MF.DummyCmd", "MF.SimVars.Set.(L:X) 1 + (>L:X)"}));
    EXPECT_TRUE(recorder().events.empty());
    EXPECT_TRUE(sim.calls.empty());

    EXPECT_EQ(profileLayer.leds(0), 0x00);  // nothing read yet
    const float one = 1.0F;
    std::vector<unsigned char> bytes(sizeof one);
    std::memcpy(bytes.data(), &one, sizeof one);
    std::vector<unsigned char> record = simconnect_double::clientDataRecord(mobiflight::kFirstVariableId, bytes);
    mobiflight::channel().receive(reinterpret_cast<SIMCONNECT_RECV*>(record.data()), static_cast<DWORD>(record.size()));
    EXPECT_EQ(profileLayer.leds(0), 0x01);

    // Another aircraft: the module forgets the value too.
    switchAircraft("Y", "y");
    EXPECT_EQ(commands().back(), "MF.SimVars.Clear");
    EXPECT_EQ(profileLayer.leds(0), 0x00);
}

TEST_F(LayerWithChannel, WithoutTheModuleTheProfileIsNamedOnceAndItsChannelActionsDoNothing) {
    useProfiles({kChannelProfile});
    ::testing::internal::CaptureStderr();
    loadAircraft("X", "x");
    report(BTN_SWAP, 0, 0, COM1);
    now += mobiflight::kAnswerTimeout;
    mobiflight::channel().poll();
    mobiflight::channel().poll();
    loadAircraft("X", "x");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: aircraft \"X\" (x): profile \"Radio\" from a.toml\n"
              "msfs-panel: no MobiFlight WASM module answered: the FMS1 and FMS2 knobs and keys will do nothing (see "
              "README: FMS modes)\n"
              "msfs-panel: profile \"Radio\" (a.toml) uses the MobiFlight channel, which no module opened: its H:, "
              "RPN: and R: entries do nothing (see README: FMS modes)\n");
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(recorder().events.empty());
}

TEST_F(Layer, AProfileLeftBehindHasItsVariablesCleared) {
    useProfiles({"match = [\"X\"]\n[leds]\nAP = \"L:ONE\"\n[AP]\nap_cdi = \"L:TWO=1\"\n"});
    loadAircraft("X", "x");
    const DWORD one = definitionOf("L:ONE");
    const DWORD two = definitionOf("L:TWO");
    value("L:ONE", 1);
    EXPECT_EQ(profileLayer.leds(0), 0x01);
    switchAircraft("Y", "y");
    EXPECT_EQ(recorder().cleared, (std::vector<DWORD>{two, one}));
    const simconnect_double::Request& stop = recorder().requests.back();
    EXPECT_EQ(stop.definition, one);
    EXPECT_EQ(stop.period, SIMCONNECT_PERIOD_NEVER);
    EXPECT_EQ(profileLayer.leds(0), 0);
    // Its requests' last records are taken and dropped, never read as another's.
    value("L:ONE", 0);
    // Back to it: defined again under new numbers.
    switchAircraft("X", "x");
    EXPECT_GT(recorder().definitions.back().definition, two);
}

TEST_F(Layer, TheVerboseLogNamesEachAction) {
    useProfiles(
        {"match = [\"X\"]\n[AP]\nouter.cw = \"L:E_FCU_ALTITUDE+=1\"\nap_cdi = [\"K:A32NX.FCU_AP_1_PUSH\"]\n"
         "hdg_obs = \"none\"\n"});
    loadAircraft("X", "x");
    profileLayer.verbose = true;
    testing::internal::CaptureStderr();
    report(0, 3, 0, AP);
    value("L:E_FCU_ALTITUDE", 5000);
    report(0, 3, 0, AP);
    report(BTN_AP_CDI, 0, 0, AP);
    report(BTN_HDG_OBS, 0, 0, AP);
    profileLayer.verbose = false;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "AP outer +3 -> L:E_FCU_ALTITUDE not received from the simulator yet: nothing sent\n"
              "AP outer +3 -> L:E_FCU_ALTITUDE 5003\n"
              "AP AP_CDI -> A32NX.FCU_AP_1_PUSH 0\n"
              "AP HDG_OBS -> no event\n");
}

TEST_F(Layer, AFixedProfileServesEveryAircraft) {
    useProfiles({"name = \"Mine\"\n[AP]\nap_cdi = \"K:MINE\"\n"}, true);
    testing::internal::CaptureStderr();
    loadAircraft("Anything", "SimObjects/x/aircraft.cfg");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "msfs-panel: aircraft \"Anything\" (SimObjects/x/aircraft.cfg): profile \"Mine\" from a.toml\n");
}

// Reports 50 ms apart: fast enough for every detent after the third of a run
// to weigh one more than the one before.
AccelerationClock::time_point fastClockNow{std::chrono::hours(1)};
AccelerationClock::time_point fastClock() { return fastClockNow += std::chrono::milliseconds(50); }

struct AcceleratedLayer : Layer {
    void SetUp() override {
        Layer::SetUp();
        panelAcceleration = PanelAcceleration{};
        panelAcceleration.enabled = true;  // --accelerate
        panelAcceleration.clock = &fastClock;
    }
    void TearDown() override {
        panelAcceleration = PanelAcceleration{};
        Layer::TearDown();
    }
};

TEST_F(AcceleratedLayer, AProfilesKnobsMoveByTheirWeights) {
    useProfiles({R"(match = ["X"]
[AP]
outer.cw = "L:ALT+=1"
inner.cw = "K:VS_UP"
[COM1]
outer.cw = "K:PLAIN"
outer.accelerate = false
[COM2]
outer.cw = "K:FREQUENCY"
[XPDR]
inner.cw = "K:MARKED"
inner.accelerate = true
)"});
    loadAircraft("X", "x");
    value("L:ALT", 0);
    for (int i = 0; i < 5; ++i) report(0, 1, 0, AP);    // weights 1, 1, 1, 2, 3: one write each
    for (int i = 0; i < 5; ++i) report(0, 0, 1, AP);    // another knob: a new run, its event run 8 times
    for (int i = 0; i < 5; ++i) report(0, 1, 0, COM1);  // never weighed
    // Where the built-in knob tunes a frequency, only a knob marked so.
    for (int i = 0; i < 5; ++i) report(0, 1, 0, COM2);
    for (int i = 0; i < 5; ++i) report(0, 0, 1, XPDR);
    EXPECT_EQ(writes(), (std::vector<std::pair<std::string, double>>{
                            {"L:ALT", 1}, {"L:ALT", 2}, {"L:ALT", 3}, {"L:ALT", 5}, {"L:ALT", 8}}));
    std::map<std::string, int> counts;
    for (const auto& [name, data] : transmitted()) ++counts[name];
    EXPECT_EQ(counts, (std::map<std::string, int>{{"VS_UP", 8}, {"PLAIN", 5}, {"FREQUENCY", 5}, {"MARKED", 8}}));
}

TEST_F(AcceleratedLayer, TheProfilesSettingWinsOverTheOptionForBuiltInKnobsToo) {
    useProfiles({"match = [\"Calm\"]\naccelerate = false\n", "match = [\"Other\"]\n",
                 "match = [\"Knob\"]\n[AP]\ninner.accelerate = false\n"});
    loadAircraft("Calm", "c");
    for (int i = 0; i < 5; ++i) report(0, 1, 0, AP);
    switchAircraft("Other", "o");
    report(0, 0, 0, COM1);  // a mode change ends the run
    for (int i = 0; i < 5; ++i) report(0, 1, 0, AP);
    const std::string one = "adjustAltitudeAndVerticalSpeed(1,1,0)";
    EXPECT_EQ(sim.calls,
              (Calls{one, one, one, one, one,  // accelerate = false
                     one, one, one, "adjustAltitudeAndVerticalSpeed(1,2,0)", "adjustAltitudeAndVerticalSpeed(1,3,0)"}));
    EXPECT_TRUE(panelAcceleration.enabled) << "the option itself is left as it was";
    // A knob's own setting, for the built-in knob it leaves unnamed.
    sim.calls.clear();
    switchAircraft("Knob", "k");
    report(0, 0, 0, COM1);
    for (int i = 0; i < 5; ++i) report(0, 0, 1, AP);
    EXPECT_EQ(sim.calls, Calls(5, "adjustAltitudeAndVerticalSpeed(1,0,1)"));
}

}  // namespace
