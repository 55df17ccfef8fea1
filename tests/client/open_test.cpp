// SimConnect_Open succeeds only once the simulator has answered; it gives up
// at its time limits however often signals interrupt it, and at once when
// the program's cancel check says so.
#include "client_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Attempt {
    HRESULT result;
    long took_ms;
    std::string error;
};

// Opens through the cfg in place; closes what opened.
Attempt attemptOpen() {
    const auto start = Clock::now();
    HANDLE h = nullptr;
    const HRESULT r = SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(h != nullptr, r == S_OK);
    if (h) {
        SimConnect_Close(h);
    }
    return {r, static_cast<long>(took), SimConnectNet_LastError()};
}

std::string peer(int port) { return "127.0.0.1:" + std::to_string(port); }

TEST_F(ClientTest, OpenReturnsOnceAnsweredAndKeepsWhatCameWithTheAnswer) {
    TestServer server;
    writeCfg(cwd_, ipv4Section("SimConnect", server.port()));
    const std::vector<Bytes> behind = {record(scproto::RecvEvent{.group_id = 1, .event_id = 12, .data = 7}),
                                       dataRecord(0, 2, 12, 0x5A)};
    server.serveOpen(TestServer::OnOpen::Answer, concat(behind), milliseconds(150));
    const auto start = Clock::now();
    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    EXPECT_GE(Clock::now() - start, milliseconds(150));
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &last_sent), S_OK);
    EXPECT_EQ(last_sent, 1u);  // the Open
    // One dispatch without waiting: all of it came with the answer.
    Received got;
    EXPECT_EQ(SimConnect_CallDispatch(h, &Received::collect, &got), S_OK);
    ASSERT_EQ(got.records.size(), 3u);
    EXPECT_EQ(got.records[0], record(scproto::kittyHawkOpen()));
    EXPECT_EQ(got.records[1], behind[0]);
    EXPECT_EQ(got.records[2], behind[1]);
    EXPECT_TRUE(got.all_aligned);
    EXPECT_TRUE(server.accept());
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(ClientTest, OpenFailsAtOnceWhenTheAnswerIsMissingOrBroken) {
    struct Case {
        const char* what;
        TestServer::OnOpen reply;
        Bytes instead;
        const char* reason;
    };
    const Case cases[] = {
        {"closed before answering", TestServer::OnOpen::Close, {}, "closed the connection before answering"},
        {"garbage instead of the answer",
         TestServer::OnOpen::Instead,
         {8, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0},
         "length field 8 below the header size"},
        {"an OPEN record of the wrong size",
         TestServer::OnOpen::Instead,
         {12, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0},
         "wrong for its kind"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server;
        writeCfg(home_, ipv4Section("SimConnect", server.port()));
        server.serveOpen(c.reply, c.instead);
        const Attempt a = attemptOpen();
        EXPECT_EQ(a.result, E_FAIL);
        EXPECT_LT(a.took_ms, 1000);
        EXPECT_NE(a.error.find(peer(server.port())), std::string::npos) << a.error;
        EXPECT_NE(a.error.find(c.reason), std::string::npos) << a.error;
        EXPECT_NE(a.error.find("(from [SimConnect] in " + (home_ / "SimConnect.cfg").string() + ")"), std::string::npos)
            << a.error;
    }
}

// The two time limits, each under a storm of signals that must neither
// stretch them nor cut them short.
TEST_F(ClientTest, NoAnswerFailsAfterFiveSecondsThoughSignalsKeepComing) {
    TestServer silent;  // connections wait in its queue, unanswered
    writeCfg(cwd_, ipv4Section("SimConnect", silent.port()));
    SignalStorm storm(milliseconds(50), milliseconds(7000));
    const Attempt a = attemptOpen();
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_GE(a.took_ms, 4950);
    EXPECT_LT(a.took_ms, 5500);
    EXPECT_EQ(a.error, "no answer from " + peer(silent.port()) + " within 5 s (from [SimConnect] in " +
                           (cwd_ / "SimConnect.cfg").string() + ")");
    EXPECT_GT(storm.delivered(), 50);
}

TEST_F(ClientTest, ConnectTimeoutHoldsThoughSignalsKeepComing) {
    FullListener full;
    ASSERT_TRUE(full.full());
    writeCfg(cwd_, ipv4Section("SimConnect", full.port()));
    // Longer than the limit, shorter than a wait restarted after each signal.
    SignalStorm storm(milliseconds(50), milliseconds(4500));
    const Attempt a = attemptOpen();
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_GE(a.took_ms, 2950);
    EXPECT_LT(a.took_ms, 3500);
    EXPECT_NE(a.error.find("connect(" + peer(full.port()) + "): Connection timed out"), std::string::npos) << a.error;
    EXPECT_GT(storm.delivered(), 30);
}

Clock::time_point cancel_at;
int cancelWhenDue() { return Clock::now() >= cancel_at ? 1 : 0; }

TEST_F(ClientTest, CancelEndsTheWaitWithinItsSlice) {
    struct Guard {
        ~Guard() { SimConnectNet_SetCancelCheck(nullptr); }
    } restore;
    SimConnectNet_SetCancelCheck(cancelWhenDue);
    auto check = [&](int port, const std::string& says) {
        writeCfg(cwd_, ipv4Section("SimConnect", port));
        cancel_at = Clock::now() + milliseconds(200);
        const Attempt a = attemptOpen();
        EXPECT_EQ(a.result, E_ABORT) << a.error;
        EXPECT_GE(a.took_ms, 195);
        EXPECT_LT(a.took_ms, 320);
        EXPECT_NE(a.error.find(says), std::string::npos) << a.error;
    };
    {
        SCOPED_TRACE("while connecting");
        FullListener full;
        ASSERT_TRUE(full.full());
        check(full.port(), "connect(" + peer(full.port()) + "): cancelled");
    }
    {
        SCOPED_TRACE("while waiting for the answer");
        TestServer silent;
        check(silent.port(), "waiting for " + peer(silent.port()) + " to answer: cancelled");
    }
    {
        SCOPED_TRACE("a check that says no changes nothing");
        TestServer server;
        server.serveOpen();
        cancel_at = Clock::now() + std::chrono::hours(1);
        writeCfg(cwd_, ipv4Section("SimConnect", server.port()));
        EXPECT_EQ(attemptOpen().result, S_OK);
    }
}

}  // namespace
