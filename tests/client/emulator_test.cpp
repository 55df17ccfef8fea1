// Our client against the real sim-emulator binary: the handshake, streamed
// data records, and the emulator's RECV_QUIT and close when it is stopped.
#include "client_fixture.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sim_emulator.h"

namespace {

TEST_F(ClientTest, AgainstTheEmulator) {
    // With a COM1 standby the test can recognise in the data.
    SimEmulator emulator(root_->path(), "emulator");
    ASSERT_TRUE(emulator.start({"--quiet", "--set", "COM STANDBY FREQUENCY:1=121.5"})) << emulator.err();
    writeCfg(cwd_, ipv4Section("SimConnect", emulator.port()));

    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    ASSERT_EQ(SimConnect_AddToDataDefinition(h, 0, "COM STANDBY FREQUENCY:1", "MHz"), S_OK);
    ASSERT_EQ(SimConnect_AddToDataDefinition(h, 0, "TRANSPONDER CODE:1", "BCO16", SIMCONNECT_DATATYPE_INT32), S_OK);
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(h, 0, 0, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SIM_FRAME), S_OK);

    Received got;
    auto count = [&got](SIMCONNECT_RECV_ID id) {
        return std::count_if(got.records.begin(), got.records.end(), [id](const Bytes& r) {
            return reinterpret_cast<const SIMCONNECT_RECV*>(r.data())->dwID == static_cast<DWORD>(id);
        });
    };
    EXPECT_EQ(dispatchUntil(h, got, [&] { return count(SIMCONNECT_RECV_ID_SIMOBJECT_DATA) >= 3; }), S_OK);

    ASSERT_FALSE(got.records.empty());
    const auto* open = reinterpret_cast<const SIMCONNECT_RECV_OPEN*>(got.records[0].data());
    ASSERT_EQ(open->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_OPEN));
    EXPECT_STREQ(open->szApplicationName, "KittyHawk");
    EXPECT_EQ(open->dwSimConnectVersionMajor, 11u);
    EXPECT_EQ(open->dwSimConnectBuildMajor, 62651u);

    ASSERT_GE(count(SIMCONNECT_RECV_ID_SIMOBJECT_DATA), 3);
    for (std::size_t i = 1; i < got.records.size(); ++i) {
        const auto* data = reinterpret_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(got.records[i].data());
        if (data->dwID != SIMCONNECT_RECV_ID_SIMOBJECT_DATA) {
            continue;
        }
        ASSERT_EQ(got.sizes[i], 40u + 8u + 4u);  // one float64 and one int32, back to back
        EXPECT_EQ(data->dwRequestID, 0u);
        EXPECT_EQ(data->dwDefineCount, 2u);
        double frequency;
        std::int32_t squawk;
        std::memcpy(&frequency, got.records[i].data() + 40, 8);
        std::memcpy(&squawk, got.records[i].data() + 48, 4);
        EXPECT_DOUBLE_EQ(frequency, 121.5);
        EXPECT_GE(squawk, 0);
    }

    // Stopped, the emulator says goodbye with RECV_QUIT and closes.
    EXPECT_EQ(emulator.stop(SIGTERM), 0);
    const HRESULT r = dispatchUntil(h, got, [] { return false; });
    EXPECT_EQ(r, SIMCONNECT_NET_REMOTE_DISCONNECT);
    EXPECT_EQ(count(SIMCONNECT_RECV_ID_QUIT), 1);
    EXPECT_NE(std::string(SimConnectNet_LastError()).find("closed by the simulator"), std::string::npos)
        << SimConnectNet_LastError();
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

using Clock = std::chrono::steady_clock;

// The first time the client asks: a send is waiting. Cancels 200 ms later.
Clock::time_point first_asked;
int cancelSoonAfterTheFirstWait() {
    if (first_asked == Clock::time_point{}) {
        first_asked = Clock::now();
    }
    return Clock::now() - first_asked >= std::chrono::milliseconds(200) ? 1 : 0;
}

// A simulator stopped with SIGSTOP reads nothing, and once the socket
// buffers are full a send waits. The program's stop request ends that wait
// within a slice, not at the send's own time limit; the connection cannot
// go on (a packet may be half sent) and says so.
TEST_F(ClientTest, CancelEndsASendBlockedByAStoppedSimulator) {
    struct Guard {
        ~Guard() { SimConnectNet_SetCancelCheck(nullptr); }
    } restore;
    SimEmulator emulator(root_->path(), "emulator");
    ASSERT_TRUE(emulator.start({"--quiet"})) << emulator.err();
    writeCfg(cwd_, ipv4Section("SimConnect", emulator.port()));
    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(h, 1, "AP_ALT_VAR_SET_ENGLISH"), S_OK);
    ASSERT_EQ(::kill(emulator.pid(), SIGSTOP), 0);
    first_asked = {};
    SimConnectNet_SetCancelCheck(cancelSoonAfterTheFirstWait);
    HRESULT r = S_OK;
    // Far more than the loopback's buffers hold.
    for (DWORD i = 0; i < 5'000'000 && r == S_OK; ++i) {
        r = SimConnect_TransmitClientEvent(h, SIMCONNECT_OBJECT_ID_USER, 1, i, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                           SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
    }
    const Clock::time_point returned = Clock::now();
    const std::string error = SimConnectNet_LastError();
    ::kill(emulator.pid(), SIGCONT);
    ASSERT_NE(first_asked, Clock::time_point{}) << "the blocked send never asked the cancel check; it ended: " << error;
    std::printf("send returned %.0f ms after the cancel\n",
                std::chrono::duration<double, std::milli>(returned - first_asked).count() - 200.0);
    EXPECT_EQ(r, E_ABORT) << error;
    EXPECT_LT(returned - first_asked, std::chrono::milliseconds(1000));
    EXPECT_EQ(error, "sending to 127.0.0.1:" + std::to_string(emulator.port()) + ": cancelled");
    EXPECT_EQ(SimConnect_TransmitClientEvent(h, SIMCONNECT_OBJECT_ID_USER, 1, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                             SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY),
              SIMCONNECT_NET_REMOTE_DISCONNECT);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

}  // namespace
