// What CallDispatch hands over, however the simulator's bytes arrive, and
// how the client behaves when the stream ends or turns to garbage.
#include "client_fixture.h"

namespace {

// The first is the server's answer to the Open (sent by serveOpen).
std::vector<Bytes> sessionRecords() {
    return {record(scproto::kittyHawkOpen()),
            dataRecord(0, 7, 56, 0x11),
            record(scproto::RecvException{.exception = 7, .send_id = 3, .index = 2}),
            record(scproto::RecvEvent{.group_id = 1, .event_id = 12, .data = 0x11345}),
            dataRecord(1, 9, 44, 0x22),
            record(scproto::RecvQuit{})};
}

TEST_F(ClientTest, RecordsArriveWholeAndInOrderHoweverTheStreamIsCut) {
    const std::vector<Bytes> records = sessionRecords();
    const Bytes stream = concat({records.begin() + 1, records.end()});
    for (const bool byte_by_byte : {false, true}) {
        SCOPED_TRACE(byte_by_byte ? "byte by byte" : "coalesced");
        TestServer server;
        HANDLE h = openTo(server);
        Received got;
        if (byte_by_byte) {
            // Dispatch between bytes so that the client sees every partial state.
            for (std::size_t i = 0; i < stream.size(); ++i) {
                server.send(std::span(stream).subspan(i, 1));
                if (i % 7 == 0) {
                    ASSERT_EQ(SimConnect_CallDispatch(h, &Received::collect, &got), S_OK);
                }
            }
        } else {
            server.send(stream);
        }
        EXPECT_EQ(dispatchUntil(h, got, [&] { return got.records.size() >= records.size(); }), S_OK);
        ASSERT_EQ(got.records.size(), records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(got.records[i], records[i]) << "record " << i;
            EXPECT_EQ(got.sizes[i], records[i].size()) << "record " << i;
        }
        EXPECT_TRUE(got.all_aligned);
        // The data record reads through the SDK's struct as the program reads it.
        const auto* data = reinterpret_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(got.records[1].data());
        EXPECT_EQ(data->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_SIMOBJECT_DATA));
        EXPECT_EQ(data->dwRequestID, 0u);
        EXPECT_EQ(data->dwDefineCount, 7u);
        EXPECT_EQ(SimConnect_Close(h), S_OK);
    }
}

TEST_F(ClientTest, ServerClosingMidStreamFailsLaterCalls) {
    struct Case {
        const char* what;
        std::size_t cut;  // bytes of the second record sent before closing
        const char* reason;
    };
    const Case cases[] = {
        {"between records", 0, "closed by the simulator"},
        {"inside a record", 30, "in the middle of a record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server;
        HANDLE h = openTo(server);
        const Bytes first = record(scproto::kittyHawkOpen());  // the answer to the Open
        const Bytes second = dataRecord(0, 7, 56, 0x33);
        server.send(std::span(second).first(c.cut));
        server.closeClient();
        Received got;
        const HRESULT r = dispatchUntil(h, got, [] { return false; });
        EXPECT_EQ(r, SIMCONNECT_NET_REMOTE_DISCONNECT);
        ASSERT_EQ(got.records.size(), 1u);  // what came whole is still handed over
        EXPECT_EQ(got.records[0], first);
        const std::string error = SimConnectNet_LastError();
        EXPECT_NE(error.find("connection to 127.0.0.1:" + std::to_string(server.port()) + " lost"), std::string::npos)
            << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        // Every later call fails the same way, without touching the socket.
        EXPECT_EQ(SimConnect_CallDispatch(h, &Received::collect, &got), SIMCONNECT_NET_REMOTE_DISCONNECT);
        EXPECT_EQ(SimConnect_TransmitClientEvent(h, 0, 1, 0, 1, 0x10), SIMCONNECT_NET_REMOTE_DISCONNECT);
        EXPECT_EQ(SimConnect_MapClientEventToSimEvent(h, 1, "AP_MASTER"), SIMCONNECT_NET_REMOTE_DISCONNECT);
        EXPECT_EQ(got.records.size(), 1u);
        EXPECT_EQ(SimConnect_Close(h), S_OK);
    }
}

TEST_F(ClientTest, SendingToAVanishedServerFailsWithoutSignal) {
    TestServer server;
    HANDLE h = openTo(server);
    server.closeClient();
    // The first sends may still be accepted by the kernel; the peer's reset
    // must then turn into a failure, not a SIGPIPE.
    HRESULT r = S_OK;
    for (int i = 0; i < 200 && r == S_OK; ++i) {
        r = SimConnect_TransmitClientEvent(h, 0, 1, static_cast<DWORD>(i), 1, 0x10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(r, SIMCONNECT_NET_REMOTE_DISCONNECT);
    EXPECT_NE(std::string(SimConnectNet_LastError()).find("lost: send"), std::string::npos)
        << SimConnectNet_LastError();
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

// A simulator that quits sends QUIT and closes; a send that fails before the
// next dispatch must not swallow the QUIT (nor the records read with the
// Open's answer, still buffered), or a normal end reads as a lost link.
TEST_F(ClientTest, RecordsSentBeforeTheCloseStillArriveAfterASendFailed) {
    TestServer server;
    HANDLE h = openTo(server);
    const Bytes event = record(scproto::RecvEvent{.group_id = 1, .event_id = 12, .data = 5});
    const Bytes quit = record(scproto::RecvQuit{});
    server.send(concat({event, quit}));
    server.closeClient();
    HRESULT r = S_OK;
    for (int i = 0; i < 200 && r == S_OK; ++i) {
        r = SimConnect_TransmitClientEvent(h, 0, 1, static_cast<DWORD>(i), 1, 0x10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(r, SIMCONNECT_NET_REMOTE_DISCONNECT);
    const std::string error = SimConnectNet_LastError();
    Received got;
    EXPECT_EQ(SimConnect_CallDispatch(h, &Received::collect, &got), SIMCONNECT_NET_REMOTE_DISCONNECT);
    ASSERT_EQ(got.records.size(), 3u);
    EXPECT_EQ(got.records[0], record(scproto::kittyHawkOpen()));
    EXPECT_EQ(got.records[1], event);
    EXPECT_EQ(got.records[2], quit);
    // The loss is still the send's, and nothing is handed over twice.
    EXPECT_EQ(SimConnectNet_LastError(), error);
    EXPECT_NE(error.find("lost: send"), std::string::npos) << error;
    EXPECT_EQ(SimConnect_CallDispatch(h, &Received::collect, &got), SIMCONNECT_NET_REMOTE_DISCONNECT);
    EXPECT_EQ(SimConnect_TransmitClientEvent(h, 0, 1, 0, 1, 0x10), SIMCONNECT_NET_REMOTE_DISCONNECT);
    EXPECT_EQ(got.records.size(), 3u);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(ClientTest, GarbageBreaksTheConnectionAndIsNotHandedOn) {
    auto withLength = [](Bytes b, std::uint32_t length) {
        for (int i = 0; i < 4; ++i) {
            b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
        }
        return b;
    };
    const Bytes event = record(scproto::RecvEvent{.group_id = 1, .event_id = 12, .data = 5});
    struct Case {
        const char* what;
        Bytes garbage;
        const char* reason;
    };
    const Case cases[] = {
        {"length below the header", withLength(event, 8), "below the header"},
        {"length above the maximum", withLength(event, 70000), "above the 65536-byte maximum"},
        {"event record too short for its kind", withLength(Bytes(event.begin(), event.begin() + 20), 20),
         "wrong for its kind"},
        {"data record too short for its kind", withLength(Bytes(event.begin(), event.begin() + 16), 16),
         "wrong for its kind"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server;
        HANDLE h = openTo(server);
        Bytes bad = c.garbage;
        if (std::string(c.what).rfind("data", 0) == 0) {
            bad[8] = 8;  // SIMOBJECT_DATA needs 40 bytes
        }
        const Bytes good = record(scproto::kittyHawkOpen());  // the answer to the Open, then:
        server.send(bad);
        server.send(good);  // after garbage nothing more may come through
        Received got;
        EXPECT_EQ(dispatchUntil(h, got, [] { return false; }), SIMCONNECT_NET_REMOTE_DISCONNECT);
        ASSERT_EQ(got.records.size(), 1u);
        EXPECT_EQ(got.records[0], good);
        const std::string error = SimConnectNet_LastError();
        EXPECT_NE(error.find("corrupt"), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(SimConnect_TransmitClientEvent(h, 0, 1, 0, 1, 0x10), SIMCONNECT_NET_REMOTE_DISCONNECT);
        EXPECT_EQ(SimConnect_Close(h), S_OK);
    }
}

// Closing from inside the callback (a program reacting to RECV_QUIT) must
// not pull the connection away under CallDispatch.
TEST_F(ClientTest, CloseFromInsideTheCallback) {
    TestServer server;
    static HANDLE handle = nullptr;
    handle = openTo(server);
    static int calls = 0;
    static int quits = 0;
    calls = quits = 0;
    server.send(concat({record(scproto::RecvQuit{}), record(scproto::RecvQuit{})}));
    auto closer = [](SIMCONNECT_RECV* data, DWORD, void*) {
        ++calls;
        if (data->dwID == SIMCONNECT_RECV_ID_QUIT) {
            ++quits;
            EXPECT_EQ(SimConnect_Close(handle), S_OK);
        }
    };
    HRESULT r = S_OK;
    for (int i = 0; i < 5000 && quits == 0 && r == S_OK; ++i) {
        r = SimConnect_CallDispatch(handle, closer, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(r, S_OK);
    EXPECT_EQ(calls, 2);  // RECV_OPEN, the first QUIT; the second is not handed to a closed handle
    EXPECT_EQ(SimConnect_CallDispatch(handle, closer, nullptr), E_FAIL);
    EXPECT_TRUE(server.clientClosed());
}

}  // namespace
