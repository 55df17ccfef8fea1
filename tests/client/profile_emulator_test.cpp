// What a program choosing aircraft profiles does, through our client against
// the real sim-emulator: learn the aircraft (AircraftLoaded, the system
// state, TITLE), follow a load (SIGUSR1), write an L:var, set an input event
// found by enumerating them.
#include "client_fixture.h"

#include <signal.h>

#include <cstring>
#include <string>

#include "sim_emulator.h"

namespace {

enum : DWORD { kAircraftLoaded = 1 };
enum : DWORD { kStateRequest = 1, kTitleRequest = 2, kInputEventsRequest = 3 };
enum : DWORD { kTitleDefinition = 1, kAltitudeDefinition = 2 };

struct Seen {
    std::string loaded_path;  // from the last AircraftLoaded
    std::string state_path;   // from the last system state
    std::string title;        // from the last TITLE record
    std::vector<std::pair<std::string, UINT64>> input_events;
    std::vector<DWORD> exceptions;

    static void CALLBACK collect(SIMCONNECT_RECV* data, DWORD, void* context) {
        auto* self = static_cast<Seen*>(context);
        switch (data->dwID) {
        case SIMCONNECT_RECV_ID_EVENT_FILENAME: {
            const auto* e = reinterpret_cast<const SIMCONNECT_RECV_EVENT_FILENAME*>(data);
            if (e->uEventID == kAircraftLoaded) {
                self->loaded_path = e->szFileName;
            }
            break;
        }
        case SIMCONNECT_RECV_ID_SYSTEM_STATE:
            self->state_path = reinterpret_cast<const SIMCONNECT_RECV_SYSTEM_STATE*>(data)->szString;
            break;
        case SIMCONNECT_RECV_ID_SIMOBJECT_DATA: {
            const auto* d = reinterpret_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(data);
            if (d->dwRequestID == kTitleRequest) {
                self->title = reinterpret_cast<const char*>(&d->dwData);  // a STRING256, NUL-ended
            }
            break;
        }
        case SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENTS: {
            const auto* list = reinterpret_cast<const SIMCONNECT_RECV_ENUMERATE_INPUT_EVENTS*>(data);
            for (DWORD i = 0; i < list->dwArraySize; ++i) {
                self->input_events.emplace_back(list->rgData[i].Name, list->rgData[i].Hash);
            }
            break;
        }
        case SIMCONNECT_RECV_ID_EXCEPTION:
            self->exceptions.push_back(reinterpret_cast<const SIMCONNECT_RECV_EXCEPTION*>(data)->dwException);
            break;
        default: break;
        }
    }
};

HRESULT followUntil(HANDLE h, Seen& seen, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    HRESULT r = S_OK;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        r = SimConnect_CallDispatch(h, &Seen::collect, &seen);
        if (r != S_OK) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return r;
}

TEST_F(ClientTest, FollowsTheAircraftAndDrivesItsVariablesOnTheEmulator) {
    SimEmulator emulator(root_->path(), "emulator");
    ASSERT_TRUE(emulator.start({"--quiet", "--frame-ms", "5", "--aircraft",
                                "FlyByWire A320neo|SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg", "--aircraft",
                                "Fenix A320|SimObjects/Airplanes/FNX320/aircraft.cfg", "--input-event", "AUTOPILOT_AP1",
                                "--set", "L:E_FCU_ALTITUDE=100", "--state-out", emulator.path("state.json")}))
        << emulator.err();
    writeCfg(cwd_, ipv4Section("SimConnect", emulator.port()));
    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Profiles", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();

    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(h, kAircraftLoaded, "AircraftLoaded"), S_OK);
    ASSERT_EQ(SimConnect_RequestSystemState(h, kStateRequest, "AircraftLoaded"), S_OK);
    ASSERT_EQ(SimConnect_AddToDataDefinition(h, kTitleDefinition, "TITLE", nullptr, SIMCONNECT_DATATYPE_STRING256),
              S_OK);
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(h, kTitleRequest, kTitleDefinition, SIMCONNECT_OBJECT_ID_USER,
                                                SIMCONNECT_PERIOD_SIM_FRAME, SIMCONNECT_DATA_REQUEST_FLAG_CHANGED),
              S_OK);
    ASSERT_EQ(SimConnect_EnumerateInputEvents(h, kInputEventsRequest), S_OK);
    Seen seen;
    EXPECT_EQ(
        followUntil(h, seen,
                    [&] { return !seen.state_path.empty() && !seen.title.empty() && !seen.input_events.empty(); }),
        S_OK);
    EXPECT_EQ(seen.state_path, "SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg");
    EXPECT_EQ(seen.title, "FlyByWire A320neo");
    ASSERT_EQ(seen.input_events.size(), 1u);
    EXPECT_EQ(seen.input_events[0].first, "AUTOPILOT_AP1");

    ASSERT_EQ(::kill(emulator.pid(), SIGUSR1), 0);
    EXPECT_EQ(followUntil(h, seen, [&] { return seen.title == "Fenix A320" && !seen.loaded_path.empty(); }), S_OK);
    EXPECT_EQ(seen.loaded_path, "SimObjects/Airplanes/FNX320/aircraft.cfg");
    EXPECT_EQ(seen.title, "Fenix A320");

    // An L:var counter moved by one write, an input event set by its hash.
    ASSERT_EQ(SimConnect_AddToDataDefinition(h, kAltitudeDefinition, "L:E_FCU_ALTITUDE", "number"), S_OK);
    double altitude = 103;
    ASSERT_EQ(SimConnect_SetDataOnSimObject(h, kAltitudeDefinition, SIMCONNECT_OBJECT_ID_USER,
                                            SIMCONNECT_DATA_SET_FLAG_DEFAULT, 1, sizeof altitude, &altitude),
              S_OK);
    double on = 1;
    ASSERT_EQ(SimConnect_SetInputEvent(h, seen.input_events[0].second, sizeof on, &on), S_OK);
    ASSERT_EQ(SimConnect_ClearDataDefinition(h, kAltitudeDefinition), S_OK);
    // Dispatch a little longer, for any exception the emulator answers with.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    followUntil(h, seen, [&] { return std::chrono::steady_clock::now() > until; });
    EXPECT_TRUE(seen.exceptions.empty()) << "exception " << seen.exceptions.front();
    EXPECT_EQ(SimConnect_Close(h), S_OK);

    EXPECT_EQ(emulator.stop(SIGTERM), 0);
    const std::string state = testproc::readFile(emulator.path("state.json"));
    EXPECT_NE(state.find("\"L:E_FCU_ALTITUDE\": 103,"), std::string::npos) << state;
    EXPECT_NE(state.find("\"input_events\": {\"AUTOPILOT_AP1\": 1}"), std::string::npos) << state;
}

}  // namespace
