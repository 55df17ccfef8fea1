// The panel program's loop calls TransmitClientEvent and CallDispatch on
// every pass and must not allocate there: count operator new around them.
#include "client_fixture.h"

#include <atomic>
#include <cstring>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

// Replacing the global allocator pairs malloc with free on purpose; GCC's
// check cannot see that operator new and delete here are a matched pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size) {
    if (void* p = operator new(size, std::nothrow)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

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
        const long before = allocations.load();
        SimConnect_CallDispatch(h, copyBlock, nullptr);
        SimConnect_TransmitClientEvent(h, SIMCONNECT_OBJECT_ID_USER, 3, static_cast<DWORD>(pass),
                                       SIMCONNECT_GROUP_PRIORITY_HIGHEST, SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
        during += allocations.load() - before;
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
