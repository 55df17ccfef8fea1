// A simulator whose computer drops off the network without closing anything
// (power cut, cable, Wi-Fi): our client notices within about 15 s whether it
// is idle or sending, while a simulator that is only frozen (its kernel
// still answers) stays connected; the program says the link is lost and
// connects again once the simulator is back. Each test takes 15 to 25 s: detecting a
// dead peer takes that long by design.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "SimConnect.h"
#include "namespace.h"
#include "process.h"
#include "sim_emulator.h"
#include "simconnect_net.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Generous: the client's settings give about 11 s.
constexpr auto kNoticeWithin = 25s;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool waitUntil(const std::function<bool()>& done, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void writeConfig(const std::string& dir, const std::string& address, int port) {
    std::FILE* f = std::fopen((dir + "/SimConnect.cfg").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "[SimConnect]\nProtocol=IPv4\nAddress=%s\nPort=%d\n", address.c_str(), port);
    std::fclose(f);
}

// The emulator on the far computer, listening on its address.
bool startFarEmulator(FarComputer& far, SimEmulator& emulator, int port = 0) {
    bool started = false;
    const bool entered = far.inside([&] {
        started = emulator.start({"--quiet", "--bind", far.address(), "--frame-ms", "50"}, port);
    });
    return entered && started;
}

// Runs the test's own client calls in `dir`: the client reads SimConnect.cfg
// from the working directory.
struct InDirectory {
    explicit InDirectory(const std::string& dir) : old(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InDirectory() { std::filesystem::current_path(old); }
    std::filesystem::path old;
};

void noteSeconds(const char* what, double seconds) {
    std::printf("%s: %.1f s\n", what, seconds);
    testing::Test::RecordProperty(what, std::to_string(seconds));
}

TEST(VanishedPeer, ClientNoticesWithinFifteenSecondsIdleAndWhileSendingButNotAFrozenSimulator) {
    FarComputer far;
    if (!far.skipReason().empty()) GTEST_SKIP() << far.skipReason();
    testproc::TempDir dir("msfs-vanished-peer");
    SimEmulator emulator(dir.path(), "emulator");
    ASSERT_TRUE(startFarEmulator(far, emulator)) << emulator.err();
    // Here, on 127.0.0.1, stopped with SIGSTOP while the others vanish.
    SimEmulator frozen(dir.path(), "frozen");
    ASSERT_TRUE(frozen.start({"--quiet"})) << frozen.err();
    const std::string frozen_dir = dir.path() + "/frozen";
    std::filesystem::create_directory(frozen_dir);
    writeConfig(frozen_dir, "127.0.0.1", frozen.port());
    writeConfig(dir.path(), far.address(), emulator.port());

    HANDLE idle = nullptr, sending = nullptr, stopped = nullptr;
    {
        InDirectory here(frozen_dir);
        ASSERT_EQ(SimConnect_Open(&stopped, "frozen", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    }
    InDirectory here(dir.path());
    ASSERT_EQ(SimConnect_Open(&idle, "idle", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    ASSERT_EQ(SimConnect_Open(&sending, "sending", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(sending, 1, "AP_ALT_VAR_SET_ENGLISH"), S_OK);
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(stopped, 1, "AP_ALT_VAR_SET_ENGLISH"), S_OK);
    const auto ignore = [](SIMCONNECT_RECV*, DWORD, void*) {};
    ASSERT_EQ(SimConnect_CallDispatch(stopped, ignore, nullptr), S_OK);
    ASSERT_EQ(::kill(frozen.pid(), SIGSTOP), 0);

    ASSERT_TRUE(far.cableUnplugged(true));
    const auto cut = Clock::now();
    double idle_noticed = -1, sending_noticed = -1;
    std::string idle_error, sending_error;
    for (DWORD altitude = 1000; (idle_noticed < 0 || sending_noticed < 0) && Clock::now() - cut < kNoticeWithin;
         altitude += 100) {
        if (idle_noticed < 0 && SimConnect_CallDispatch(idle, ignore, nullptr) != S_OK) {
            idle_noticed = secondsSince(cut);
            idle_error = SimConnectNet_LastError();
        }
        if (sending_noticed < 0 && (SimConnect_TransmitClientEvent(sending, SIMCONNECT_OBJECT_ID_USER, 1, altitude,
                                                                   SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                                                   SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY) != S_OK ||
                                    SimConnect_CallDispatch(sending, ignore, nullptr) != S_OK)) {
            sending_noticed = secondsSince(cut);
            sending_error = SimConnectNet_LastError();
        }
        // A few events now and then, as a hand on a knob would send.
        if (altitude % 1000 == 0) {
            EXPECT_EQ(SimConnect_TransmitClientEvent(stopped, SIMCONNECT_OBJECT_ID_USER, 1, altitude,
                                                     SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                                     SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY),
                      S_OK)
                << SimConnectNet_LastError();
        }
        std::this_thread::sleep_for(100ms);
    }
    // Longer than the dead ones took, and than the limits allow a dead peer.
    while (Clock::now() - cut < 13s) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(SimConnect_CallDispatch(stopped, ignore, nullptr), S_OK) << SimConnectNet_LastError();
    ::kill(frozen.pid(), SIGCONT);
    noteSeconds("idle connection lost after", idle_noticed);
    noteSeconds("sending connection lost after", sending_noticed);
    EXPECT_GT(idle_noticed, 0) << "the idle connection was not noticed lost";
    EXPECT_GT(sending_noticed, 0) << "the sending connection was not noticed lost";
    const std::string gone = "lost: the simulator's computer stopped answering";
    EXPECT_TRUE(contains(idle_error, gone)) << idle_error;
    EXPECT_TRUE(contains(sending_error, gone)) << sending_error;
    EXPECT_EQ(SimConnect_Close(stopped), S_OK);
    EXPECT_EQ(SimConnect_Close(idle), S_OK);
    EXPECT_EQ(SimConnect_Close(sending), S_OK);
}

TEST(VanishedPeer, ProgramSaysTheLinkIsLostWithinFifteenSecondsAndConnectsWhenTheSimulatorIsBack) {
    FarComputer far;
    if (!far.skipReason().empty()) GTEST_SKIP() << far.skipReason();
    testproc::TempDir dir("msfs-vanished-peer");
    SimEmulator first(dir.path(), "first");
    ASSERT_TRUE(startFarEmulator(far, first)) << first.err();
    const int port = first.port();
    writeConfig(dir.path(), far.address(), port);
    const std::string out = dir.path() + "/out.txt", err = dir.path() + "/err.txt";
    const pid_t program = testproc::spawn({MSFS_PANEL_BIN, "--keep-running"}, dir.path(), out, err);
    ASSERT_GT(program, 0);
    // Whatever fails below, the program does not outlive the test.
    struct Ender {
        pid_t pid;
        bool ended = false;
        ~Ender() {
            if (!ended) {
                ::kill(pid, SIGKILL);
                testproc::waitExit(pid, 5s);
            }
        }
    } ender{program};
    const auto connections = [&] {
        const std::string text = testproc::readFile(out);
        std::size_t n = 0;
        for (std::size_t at = text.find("Connected to MSFS2020"); at != std::string::npos;
             at = text.find("Connected to MSFS2020", at + 1)) {
            ++n;
        }
        return n;
    };
    ASSERT_TRUE(waitUntil([&] { return connections() == 1; }, 10s)) << testproc::readFile(err);

    ASSERT_TRUE(far.cableUnplugged(true));
    const auto cut = Clock::now();
    // The program says the client's own clause: "connection to ADDR lost: the
    // simulator's computer stopped answering (...)".
    ASSERT_TRUE(
        waitUntil([&] { return contains(testproc::readFile(err), "lost: the simulator's computer stopped answering"); },
                  kNoticeWithin))
        << testproc::readFile(err);
    noteSeconds("program said the link was lost after", secondsSince(cut));

    // Back on the network with a fresh simulator on the same port.
    first.stop(SIGKILL);
    ASSERT_TRUE(far.cableUnplugged(false));
    const auto back = Clock::now();
    SimEmulator second(dir.path(), "second");
    ASSERT_TRUE(startFarEmulator(far, second, port)) << second.err();
    ASSERT_TRUE(waitUntil([&] { return connections() == 2; }, 15s)) << testproc::readFile(err);
    noteSeconds("program connected again after", secondsSince(back));

    ::kill(program, SIGINT);
    const int status = testproc::waitExit(program, 5s);
    ender.ended = status != -1;
    EXPECT_EQ(status, 0) << testproc::readFile(err);
}

}  // namespace
