// The dispatch handler filling the cache, and the LED byte derived from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "doubles/recording_simconnect.h"
#include "driver/quit_flag.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace sc = simconnect_double;

struct Cache : ::testing::Test {
    void SetUp() override {
        sc::reset();
        msfsInterface = FlightSimInterfaceMSFS{};
        quitFlag = 0;
    }
    void TearDown() override { quitFlag = 0; }

    static void deliver(std::vector<Bytes> records) {
        sc::recorder().batches.push_back(std::move(records));
        SimConnect_CallDispatch(sc::kFakeHandle, onSimConnectMessage, nullptr);
    }
    static const FlightSimInterfaceMSFS& cache() { return msfsInterface; }
    // Nothing known yet: no value cached, every state off.
    static bool untouched() {
        const FlightSimInterfaceMSFS& c = cache();
        const double doubles[] = {c.com1_standby, c.com2_standby, c.nav1_standby, c.nav2_standby,     c.heading_bug,
                                  c.obs1,         c.obs2,         c.ap_altitude,  c.ap_vertical_speed};
        const std::int32_t states[] = {c.ap_master,        c.ap_heading_lock,  c.ap_nav1_lock,
                                       c.ap_approach_hold, c.ap_altitude_lock, c.ap_vertical_hold};
        return std::all_of(std::begin(doubles), std::end(doubles), [](double v) { return std::isnan(v); }) &&
               !c.transponder_code.has_value() &&
               std::all_of(std::begin(states), std::end(states), [](std::int32_t v) { return v == 0; });
    }
};

constexpr double kRadios[7] = {122.8, 121.5, 113.45, 110.5, 90.5, 180.0, 270.25};
constexpr std::int32_t kAllOn[6] = {1, 1, 1, 1, 1, 1};

TEST_F(Cache, RequestZeroFillsOnlyTheRadioBlock) {
    deliver({sc::dataRecord(0, sc::radioBlock(kRadios))});
    EXPECT_EQ(cache().com1_standby, 122.8);
    EXPECT_EQ(cache().com2_standby, 121.5);
    EXPECT_EQ(cache().nav1_standby, 113.45);
    EXPECT_EQ(cache().nav2_standby, 110.5);
    EXPECT_EQ(cache().heading_bug, 90.5);
    EXPECT_EQ(cache().obs1, 180.0);
    EXPECT_EQ(cache().obs2, 270.25);
    EXPECT_TRUE(std::isnan(cache().ap_altitude));
    EXPECT_FALSE(cache().transponder_code.has_value());
    EXPECT_EQ(cache().ap_master, 0);
}

TEST_F(Cache, RequestOneFillsOnlyTheAutopilotBlock) {
    deliver({sc::dataRecord(1, sc::autopilotBlock(4500.5, -700, 0x7700, {1, 2, 3, 4, 5, -6}))});
    EXPECT_EQ(cache().ap_altitude, 4500.5);
    EXPECT_EQ(cache().ap_vertical_speed, -700.0);
    EXPECT_EQ(cache().transponder_code, 0x7700U);
    EXPECT_EQ(cache().ap_master, 1);
    EXPECT_EQ(cache().ap_heading_lock, 2);
    EXPECT_EQ(cache().ap_nav1_lock, 3);
    EXPECT_EQ(cache().ap_approach_hold, 4);
    EXPECT_EQ(cache().ap_altitude_lock, 5);
    EXPECT_EQ(cache().ap_vertical_hold, -6);
    EXPECT_TRUE(std::isnan(cache().nav1_standby));
    EXPECT_TRUE(std::isnan(cache().obs2));
}

TEST_F(Cache, ABlockReplacesLocallyWrittenValues) {
    msfsInterface.nav1_standby = 117.95;
    msfsInterface.transponder_code = 0x7777;
    deliver({sc::dataRecord(0, sc::radioBlock(kRadios)), sc::dataRecord(1, sc::autopilotBlock(0, 0, 0x1200, kAllOn))});
    EXPECT_EQ(cache().nav1_standby, 113.45);
    EXPECT_EQ(cache().transponder_code, 0x1200U);
}

TEST_F(Cache, OnlyTheRequestIdChoosesTheBlock) {
    // A radio-sized block under request 1 is read as the autopilot block.
    Bytes block = sc::autopilotBlock(1000, 0, 0, kAllOn);
    block.resize(56, 0);
    Bytes record = sc::dataRecord(1, block);
    std::uint32_t otherDefinition = 7;
    std::memcpy(record.data() + 20, &otherDefinition, 4);
    deliver({record});
    EXPECT_EQ(cache().ap_altitude, 1000.0);
    EXPECT_EQ(cache().ap_master, 1);
    EXPECT_TRUE(std::isnan(cache().nav1_standby));
}

TEST_F(Cache, OtherRequestIdsAreIgnored) {
    deliver({sc::dataRecord(2, sc::radioBlock(kRadios)), sc::dataRecord(0xFFFFFFFF, sc::radioBlock(kRadios))});
    EXPECT_TRUE(untouched());
}

TEST_F(Cache, RecordsTooShortForTheirBlockAreIgnored) {
    Bytes radio = sc::radioBlock(kRadios);
    radio.pop_back();
    Bytes autopilot = sc::autopilotBlock(1, 1, 1, kAllOn);
    autopilot.pop_back();
    Bytes header = sc::dataRecord(0, {});
    header.resize(39);
    deliver({sc::dataRecord(0, radio), sc::dataRecord(1, autopilot), header,
             sc::plainRecord(SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 11), Bytes{}});
    EXPECT_TRUE(untouched());

    // Exactly long enough is enough.
    deliver({sc::dataRecord(1, sc::autopilotBlock(1, 1, 1, kAllOn))});
    EXPECT_EQ(cache().ap_master, 1);
}

TEST_F(Cache, EventExceptionOpenAndUnknownRecordsChangeNothing) {
    // Long enough to pass for a radio data record if anyone read it as one.
    const DWORD kinds[] = {SIMCONNECT_RECV_ID_EVENT,
                           SIMCONNECT_RECV_ID_EXCEPTION,
                           SIMCONNECT_RECV_ID_OPEN,
                           SIMCONNECT_RECV_ID_NULL,
                           SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE,
                           99,
                           0xFFFFFFFF};
    for (DWORD kind : kinds) {
        deliver({sc::plainRecord(kind, 96), sc::plainRecord(kind, 24)});
    }
    EXPECT_TRUE(untouched());
    EXPECT_EQ(quitFlag, 0);
}

TEST_F(Cache, QuitRecordIsNotedForTheLoopWithoutAStopRequest) {
    deliver({sc::plainRecord(SIMCONNECT_RECV_ID_QUIT, 12)});
    EXPECT_TRUE(msfsInterface.quit_received);
    EXPECT_EQ(quitFlag, 0);  // with --keep-running the program waits for the next simulator
}

// An exception names only the send ID of the packet it answers: the program
// traces it back to the set-up call, so that a user learns which event or
// variable the simulator does not know.
TEST_F(Cache, AnExceptionToASetupCallNamesTheCall) {
    HANDLE handle = sc::kFakeHandle;
    msfsInterface.connection = &handle;
    msfsInterface.setupConnection();
    const sc::Recorder& calls = sc::recorder();
    const auto sendIdOf = [&](std::size_t callIndex) { return static_cast<DWORD>(callIndex + 1); };
    const std::size_t lastDefinition = calls.maps.size() + calls.definitions.size() - 1;
    const std::size_t lastRequest = lastDefinition + calls.requests.size();

    std::size_t mapOfNav1Toggle = 0;
    while (calls.maps[mapOfNav1Toggle].id != 41) ++mapOfNav1Toggle;

    ::testing::internal::CaptureStderr();
    deliver({sc::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, sendIdOf(mapOfNav1Toggle), 2),
             sc::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, sendIdOf(lastDefinition), 3),
             sc::exceptionRecord(99, sendIdOf(lastRequest), 1),
             sc::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, 5000, 2)});  // not a set-up call: quiet
    msfsInterface.report_every_exception = true;
    deliver({sc::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, 5000, 2)});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: the simulator rejected MapClientEventToSimEvent(\"TOGGLE_GPS_DRIVES_NAV1\"): "
              "NAME_UNRECOGNIZED\n"
              "msfs-panel: the simulator rejected AddToDataDefinition(\"AUTOPILOT VERTICAL HOLD\", \"Bool\"): "
              "NAME_UNRECOGNIZED\n"
              "msfs-panel: the simulator rejected RequestDataOnSimObject(REQ_AUTOPILOT): exception 99\n"
              "msfs-panel: the simulator rejected the call sent with ID 5000: ERROR\n");
    EXPECT_TRUE(untouched());
}

// A set-up call that failed sent no packet: the ID before it (here the
// Open's) is not the failed call's, and its exception names no set-up call.
TEST_F(Cache, AFailedSetupCallClaimsNoOtherCallsException) {
    HANDLE handle = nullptr;
    ASSERT_EQ(SimConnect_Open(&handle, "Request Data", nullptr, 0, nullptr, 0), S_OK);
    DWORD open = 0;
    ASSERT_EQ(SimConnect_GetLastSentPacketID(handle, &open), S_OK);
    msfsInterface.connection = &handle;
    sc::recorder().refuse = [](sc::Call call) { return call == sc::Call::Map; };
    msfsInterface.setupConnection();
    msfsInterface.report_every_exception = true;
    ::testing::internal::CaptureStderr();
    deliver({sc::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, open, 0)});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: the simulator rejected the call sent with ID " + std::to_string(open) + ": ERROR\n");
}

// A simulator repeating an exception gets each (call, exception) said once
// per connection, and the repeats counted when the connection ends. MSFS's
// known refusal of TOGGLE_GPS_DRIVES_NAV2 is said once per run, as what it
// means for the panel, whatever else that mapping draws.
TEST_F(Cache, EachRejectionIsSaidOncePerConnectionAndTheRepeatsCounted) {
    HANDLE handle = sc::kFakeHandle;
    msfsInterface.connection = &handle;
    msfsInterface.report_every_exception = true;
    const auto sendIdOfMap = [](DWORD event) {
        const std::vector<sc::Map>& maps = sc::recorder().maps;
        std::size_t i = 0;
        while (maps[i].id != event) ++i;
        return static_cast<DWORD>(i + 1);
    };
    ::testing::internal::CaptureStderr();
    for (int connection = 0; connection < 2; ++connection) {
        sc::reset();
        msfsInterface.setupConnection();
        const DWORD nav2Toggle = sendIdOfMap(52);
        const DWORD xpndrSet = sendIdOfMap(7);
        std::vector<Bytes> records;
        for (int i = 0; i < 1000; ++i) {
            records.push_back(sc::exceptionRecord(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, nav2Toggle, 2));
            records.push_back(sc::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, xpndrSet, 2));
            records.push_back(sc::exceptionRecord(SIMCONNECT_EXCEPTION_DATA_ERROR, xpndrSet, 2));
            records.push_back(sc::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, 7000 + i, 0));
        }
        records.push_back(sc::exceptionRecord(SIMCONNECT_EXCEPTION_ERROR, nav2Toggle, 2));
        deliver(std::move(records));
        msfsInterface.sayRepeatedExceptions();
        msfsInterface.forgetSimulator();
    }
    const std::string perConnection =
        "msfs-panel: the simulator rejected MapClientEventToSimEvent(\"XPNDR_SET\"): ERROR\n"
        "msfs-panel: the simulator rejected MapClientEventToSimEvent(\"XPNDR_SET\"): DATA_ERROR\n"
        "msfs-panel: the simulator rejected the call sent with ID 7000: ERROR\n"
        "msfs-panel: the simulator rejected MapClientEventToSimEvent(\"TOGGLE_GPS_DRIVES_NAV2\"): ERROR\n"
        "msfs-panel: the simulator rejected calls 2997 more times on that connection, not said one by one\n";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: the AP/CDI button does nothing in FMS2: MSFS has no TOGGLE_GPS_DRIVES_NAV2 event (a gap "
              "in MSFS, not in your set-up)\n" +
                  perConnection + perConnection);
}

TEST(LedState, EachStateLightsItsBitForAnyNonZeroValue) {
    std::int32_t FlightSimInterfaceMSFS::*const states[6] = {
        &FlightSimInterfaceMSFS::ap_master,        &FlightSimInterfaceMSFS::ap_heading_lock,
        &FlightSimInterfaceMSFS::ap_nav1_lock,     &FlightSimInterfaceMSFS::ap_approach_hold,
        &FlightSimInterfaceMSFS::ap_altitude_lock, &FlightSimInterfaceMSFS::ap_vertical_hold};
    const std::int32_t values[] = {1, -1, 2, 0x100, 0x10000, INT32_MIN, INT32_MAX};
    for (int bit = 0; bit < 6; ++bit) {
        for (std::int32_t value : values) {
            FlightSimInterfaceMSFS sim;
            sim.*states[bit] = value;
            EXPECT_EQ(sim.getLedState(), 1U << bit) << "bit " << bit << " value " << value;
        }
    }
    FlightSimInterfaceMSFS sim;
    EXPECT_EQ(sim.getLedState(), 0x00);
    for (auto state : states) {
        sim.*state = 1;
    }
    EXPECT_EQ(sim.getLedState(), 0x3F);
    sim.transponder_code = 0xFFFFFFFF;  // not an LED
    sim.ap_altitude = 1;
    EXPECT_EQ(sim.getLedState(), 0x3F);
}

}  // namespace
