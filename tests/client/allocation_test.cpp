// The panel program's loop calls TransmitClientEvent and CallDispatch on
// every pass and must not allocate there: count every allocation around them.
#include "client_fixture.h"

#include <cstring>

#include "counting_allocator.h"

namespace {

int records_seen = 0;
std::uint8_t last_block[64];

void CALLBACK copyBlock(SIMCONNECT_RECV* data, DWORD size, void*) {
    ++records_seen;
    if (data->dwID == SIMCONNECT_RECV_ID_SIMOBJECT_DATA && size >= 96) {
        std::memcpy(last_block, &static_cast<SIMCONNECT_RECV_SIMOBJECT_DATA*>(data)->dwData, 56);
    }
}

TEST_F(ClientTest, SteadyStateCallsDoNotAllocate) {
    TestServer server;
    HANDLE h = openTo(server);
    ASSERT_NE(h, nullptr);
    const Bytes data = dataRecord(0, 7, 56, 0x44);
    records_seen = 0;
    long during = 0;
    for (int pass = 0; pass < 200; ++pass) {
        server.send(data);
        if (pass % 3 == 0) {
            server.send(data);  // sometimes two records per pass
        }
        const long before = alloc_count::total();
        SimConnect_CallDispatch(h, copyBlock, nullptr);
        SimConnect_TransmitClientEvent(h, SIMCONNECT_OBJECT_ID_USER, 3, static_cast<DWORD>(pass),
                                       SIMCONNECT_GROUP_PRIORITY_HIGHEST, SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
        during += alloc_count::total() - before;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(during, 0);
    EXPECT_GT(records_seen, 100);  // the passes did real work
    EXPECT_EQ(last_block[55], 0x44);
    // And the server got every event.
    EXPECT_EQ(server.receive(200 * scproto::kTransmitClientEventPacketSize).size(),
              200 * scproto::kTransmitClientEventPacketSize);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

}  // namespace
