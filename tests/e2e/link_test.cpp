// The program beside a simulator that starts late, restarts, quits, or does
// not answer, and the command line around it.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "sim_emulator.h"
#include "startup_golden.h"

namespace {

using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct Dir {
    e2e::TempDir temp;
    std::string path = temp.path();
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string read(const std::string& name) const { return e2e::readFile(path + "/" + name); }
};

TEST(KeepRunning, WaitsForTheSimulatorFollowsItAcrossARestartAndWaitsAgainWhenItQuits) {
    Dir dir;
    const int port = e2e::closedPort();
    e2e::writeConfig(dir.path, port);
    // The knob turn comes well after the test has restarted the simulator.
    e2e::writeFile(dir / "script.txt", "wait 100\nreport 2 0 0 0\nwait 5500\nreport 2 0 1 0\nwait 3000\n");
    const e2e::Child panel = e2e::spawn({VIRTUAL_PANEL_BIN, "--script", dir / "script.txt", "--leds", dir / "leds.txt",
                                         "--linger-ms", "200", "--", MSFS_PANEL_BIN, "--keep-running"},
                                        dir.path, dir / "out.txt", dir / "err.txt");
    const auto said = [&](const std::string& part) { return contains(dir.read("err.txt"), part); };

    ASSERT_TRUE(e2e::waitUntil([&] { return said("waiting for the simulator"); }, 3s)) << dir.read("err.txt");
    EXPECT_TRUE(said("127.0.0.1:" + std::to_string(port))) << dir.read("err.txt");
    EXPECT_EQ(dir.read("out.txt"), "");

    const auto setUp = [&](const std::string& trace) {
        return e2e::waitUntil([&] { return golden::startupOf(dir.read(trace)).size() == golden::startup().size(); },
                              5s);
    };
    SimEmulator first(dir.path, "first");
    ASSERT_TRUE(first.start({"--quiet", "--trace", dir / "first.jsonl"}, port)) << first.err();
    ASSERT_TRUE(setUp("first.jsonl"));
    EXPECT_EQ(dir.read("out.txt"), "Connected to MSFS2020\n");
    EXPECT_EQ(golden::startupOf(dir.read("first.jsonl")), golden::startup());

    // Killed, and started again on the same port: the program comes back by
    // itself, forgets what the first one showed, and sets everything up anew.
    first.stop(SIGKILL);
    SimEmulator second(dir.path, "second");
    ASSERT_TRUE(
        second.start({"--quiet", "--trace", dir / "second.jsonl", "--set", "NAV STANDBY FREQUENCY:1=113.45"}, port))
        << second.err();
    ASSERT_TRUE(setUp("second.jsonl")) << dir.read("err.txt");
    EXPECT_EQ(dir.read("out.txt"), "Connected to MSFS2020\nConnected to MSFS2020\n");
    EXPECT_EQ(golden::startupOf(dir.read("second.jsonl")), golden::startup());
    // Said in one clause, by the client that knows where and why.
    EXPECT_TRUE(said("msfs-panel: connection to 127.0.0.1:" + std::to_string(port) + " lost: ")) << dir.read("err.txt");
    ASSERT_TRUE(e2e::waitUntil([&] { return contains(dir.read("second.jsonl"), "TransmitClientEvent"); }, 7s));
    // 0x11445: from the second simulator's 113.45, not the first one's 110.50.
    EXPECT_TRUE(contains(dir.read("second.jsonl"), "\"sim_event\":\"NAV1_STBY_SET\",\"data\":70725"))
        << dir.read("second.jsonl");

    // It quits: the program says so and waits again (a little longer first:
    // that connection lasted under 5 s), until it is stopped.
    EXPECT_EQ(second.stop(SIGTERM), 0);
    ASSERT_TRUE(e2e::waitUntil([&] { return said("msfs-panel: the simulator quit"); }, 3s)) << dir.read("err.txt");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(testproc::waitExit(panel.pid, 0ms), -1) << dir.read("err.txt");
    EXPECT_EQ(e2e::waitFor(panel, 10s), 0) << dir.read("err.txt");
    EXPECT_EQ(count(dir.read("err.txt"), "panel opened"), 1U);
    const std::string leds = dir.read("leds.txt");
    EXPECT_EQ(leds.substr(leds.size() - 6), "0b 00\n");  // dark at the end
}

// Without a panel and without a simulator: each said once, however long it
// waits; Ctrl+C ends it at once with status 0.
TEST(KeepRunning, SaysOnceWhatItWaitsForAndStopsAtOnceOnCtrlC) {
    Dir dir;
    e2e::writeConfig(dir.path, e2e::closedPort());
    const e2e::Child program =
        e2e::spawn({MSFS_PANEL_BIN, "--keep-running"}, dir.path, dir / "out.txt", dir / "err.txt");
    std::this_thread::sleep_for(3500ms);  // the first attempts and a few panel retries
    const auto start = std::chrono::steady_clock::now();
    kill(program.pid, SIGINT);
    EXPECT_EQ(e2e::waitFor(program, 5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    const std::string err = dir.read("err.txt");
    EXPECT_EQ(count(err, "msfs-panel: no panel found (USB 04d8:e6d6)"), 1U) << err;
    EXPECT_EQ(count(err, "waiting for the simulator"), 1U) << err;
    EXPECT_EQ(dir.read("out.txt"), "");
}

// A listening socket of the test's own on 127.0.0.1. `silent`: it accepts
// and never says a word. Otherwise its queue is filled by a connection of its
// own and never accepted, so that a connect to it hangs: Linux drops the SYNs
// that would overflow it.
class Listener {
public:
    explicit Listener(bool silent) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, silent ? 8 : 0) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        if (!silent) {
            filler_ = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) port_ = 0;
        }
    }
    ~Listener() {
        if (filler_ >= 0) close(filler_);
        close(fd_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

// Something that accepts the connection but is not a simulator answering
// (a frozen one, a wrong port): not connected, and said so, in bounded time.
TEST(Connect, APeerThatNeverAnswersIsNoSimulator) {
    Dir dir;
    Listener silent(true);
    ASSERT_NE(silent.port(), 0);
    e2e::writeConfig(dir.path, silent.port());
    const auto start = std::chrono::steady_clock::now();
    const e2e::Child program = e2e::spawn({MSFS_PANEL_BIN}, dir.path, dir / "out.txt", dir / "err.txt");
    EXPECT_EQ(e2e::waitFor(program, 10s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 7s);
    EXPECT_EQ(dir.read("out.txt"), "");
    EXPECT_TRUE(contains(dir.read("err.txt"), "no answer from 127.0.0.1:" + std::to_string(silent.port())))
        << dir.read("err.txt");
}

TEST(Connect, CtrlCWhileConnectingStopsAtOnceWithStatusZero) {
    Dir dir;
    Listener full(false);
    ASSERT_NE(full.port(), 0);
    e2e::writeConfig(dir.path, full.port());
    const e2e::Child program = e2e::spawn({MSFS_PANEL_BIN}, dir.path, dir / "out.txt", dir / "err.txt");
    std::this_thread::sleep_for(700ms);  // well inside the 3 s connect
    const auto start = std::chrono::steady_clock::now();
    kill(program.pid, SIGINT);
    EXPECT_EQ(e2e::waitFor(program, 5s), 0) << dir.read("err.txt");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(dir.read("out.txt"), "");
    EXPECT_FALSE(contains(dir.read("err.txt"), "cannot connect")) << dir.read("err.txt");
}

TEST(CommandLine, HelpAndVersionSucceedAndAnUnknownOptionIsAUsageError) {
    Dir dir;
    EXPECT_EQ(e2e::waitFor(e2e::spawn({MSFS_PANEL_BIN, "--help"}, dir.path, dir / "help", dir / "help.err"), 5s), 0);
    EXPECT_TRUE(contains(dir.read("help"), "--keep-running"));
    EXPECT_EQ(e2e::waitFor(e2e::spawn({MSFS_PANEL_BIN, "--version"}, dir.path, dir / "version", dir / "v.err"), 5s), 0);
    const std::string version = dir.read("version");
    EXPECT_EQ(version.rfind("msfs-panel ", 0), 0U) << version;
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
    EXPECT_EQ(version.back(), '\n');
    EXPECT_EQ(e2e::waitFor(e2e::spawn({MSFS_PANEL_BIN, "--bogus"}, dir.path, dir / "bogus", dir / "bogus.err"), 5s), 2);
    EXPECT_TRUE(contains(dir.read("bogus.err"), "usage: msfs-panel")) << dir.read("bogus.err");
    EXPECT_EQ(dir.read("bogus"), "");
    // Said escaped, as every text from outside: it cannot drive the terminal.
    EXPECT_EQ(
        e2e::waitFor(e2e::spawn({MSFS_PANEL_BIN, "--x\x1b[2J\\"}, dir.path, dir / "escape", dir / "escape.err"), 5s),
        2);
    EXPECT_TRUE(contains(dir.read("escape.err"), "msfs-panel: unknown argument \"--x\\x1b[2J\\x5c\"\n"))
        << dir.read("escape.err");
}

}  // namespace
