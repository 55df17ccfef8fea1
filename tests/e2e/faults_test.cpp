// The program in a hostile world: a simulator that is slow to send its first
// data, that swaps a frequency the program still holds, that freezes, that
// hangs up at once; a panel that refuses its LEDs; standard streams closed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "sim_emulator.h"
#include "simconnect_protocol/protocol.h"
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

// Starts `argv` in `dir` (HOME there too, so that no SimConnect.cfg of the
// tester's is read) after `arrange` has set up its standard descriptors in
// the child, between fork and exec.
e2e::Child startWith(const std::vector<std::string>& argv, const std::string& dir,
                     const std::function<void()>& arrange) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        ::setenv("HOME", dir.c_str(), 1);
        arrange();
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    return e2e::Child{pid};
}

// Puts `path` on descriptor `fd` of the calling process.
void openOn(int fd, const std::string& path, int flags) {
    const int opened = ::open(path.c_str(), flags, 0644);
    if (opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
    }
}

// The child of `parent` (the program under virtual-panel); -1 if none.
pid_t childOf(pid_t parent) {
    DIR* proc = ::opendir("/proc");
    pid_t found = -1;
    while (dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string pid, comm, state;
        pid_t ppid = 0;
        // "pid (comm) state ppid": the program names contain no spaces.
        if (stat >> pid >> comm >> state >> ppid && ppid == parent) found = std::atoi(pid.c_str());
    }
    if (proc != nullptr) ::closedir(proc);
    return found;
}

std::vector<std::string> events(const e2e::RunResult& r) {
    std::vector<std::string> out;
    for (const auto& tx : r.transmits()) out.push_back(tx.str("sim_event") + " " + std::to_string(tx.num("data")));
    return out;
}

// Turns made before the simulator's first data block are computed from what
// it shows when the block comes, not from an empty cache (100 ft, 0001).
TEST(FirstData, TurnsBeforeTheFirstBlockAreAppliedOnTopOfIt) {
    e2e::RunOptions options;
    // The script starts as the program opens the panel, before it connects;
    // the simulator streams nothing in the first 600 ms after the Open.
    options.emulator_args = {"--data-after-ms", "600"};
    options.script =
        "report 6 0 1 0\n"      // AP: altitude +100
        "report 7 0 0 1\n"      // XPDR: last digit +1
        "report 0 0x200 0 0\n"  // COM1: shift on
        "report 0 0 1 0\n"      // COM1 shift: heading bug +10 (relative events go out at once)
        "report 1 0 1 0\n"      // COM2: whole MHz +1, a relative event
        "wait 1500\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    // The COM event first: it needs no data and went out at once.
    EXPECT_EQ(events(r), (std::vector<std::string>{"COM2_RADIO_WHOLE_INC 1", "AP_ALT_VAR_SET_ENGLISH 5100",
                                                   "XPNDR_SET 4609", "HEADING_BUG_SET 280"}))
        << r.panel_stderr;
    ASSERT_TRUE(r.state.has_value());
    EXPECT_EQ(r.state->real("AUTOPILOT ALTITUDE LOCK VAR"), 5100.0);
    EXPECT_EQ(r.state->real("TRANSPONDER CODE:1"), 0x1201);
    EXPECT_EQ(r.state->real("AUTOPILOT HEADING LOCK DIR"), 280.0);
    EXPECT_FALSE(contains(r.panel_stderr, "dropped")) << r.panel_stderr;
}

// A simulator that answers but sends no data: the turns that need it are
// dropped after 2 s, said once; nothing computed from nothing is sent.
TEST(FirstData, WithoutAnyDataTheTurnsAreDroppedAndSaidOnce) {
    e2e::RunOptions options;
    options.emulator_args = {"--data-after-ms", "60000"};
    options.script =
        "report 6 0 1 0\n"
        "report 6 0 1 0\n"
        "report 2 0 0 1\n"
        "wait 2600\n"
        "report 6 0 1 0\n"  // after the first were dropped
        "report 0 0 0 1\n"  // COM1 fraction +1: out at once
        "wait 2300\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(events(r), (std::vector<std::string>{"COM_RADIO_FRACT_INC 1"}));
    EXPECT_EQ(count(r.panel_stderr, "msfs-panel: knob turns dropped: "), 1U) << r.panel_stderr;
    ASSERT_TRUE(r.state.has_value());
    EXPECT_EQ(r.state->real("AUTOPILOT ALTITUDE LOCK VAR"), 5000.0);
}

// A NAV detent, then the swap before a block has shown the new standby, then
// another detent: the swap made the held standby the active frequency, and
// the next detent builds on the standby the simulator now has.
TEST(Swap, ADetentAfterASwapBuildsOnTheSwappedInStandby) {
    e2e::RunOptions options;
    options.emulator_args = {"--set", "NAV STANDBY FREQUENCY:1=113.45", "--set", "NAV ACTIVE FREQUENCY:1=110.10"};
    options.script =
        "wait 800\n"
        "report 2 0 1 0\n"
        "report 2 0x100 0 0\n"
        "report 2 0 0 0\n"
        "wait 150\n"
        "report 2 0 0 1\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(events(r), (std::vector<std::string>{"NAV1_STBY_SET 70725", "NAV1_RADIO_SWAP 0", "NAV1_STBY_SET 69653"}));
    ASSERT_TRUE(r.state.has_value());
    EXPECT_NEAR(r.state->real("NAV STANDBY FREQUENCY:1"), 110.15, 1e-6);
    EXPECT_NEAR(r.state->real("NAV ACTIVE FREQUENCY:1"), 114.45, 1e-6);
}

// A launcher that starts the program with standard output or error closed
// (`>&-`, `2>&-`): the SimConnect socket must not become descriptor 1 or 2,
// or "Connected to MSFS2020" and the messages go into the simulator's stream.
TEST(StandardStreams, ClosedOnesAreOpenedOnDevNullBeforeAnythingElse) {
    for (const int closed : {STDOUT_FILENO, STDERR_FILENO}) {
        SCOPED_TRACE(closed == STDOUT_FILENO ? "stdout closed" : "stderr closed");
        Dir dir;
        SimEmulator emulator(dir.path, "emulator");
        ASSERT_TRUE(emulator.start({"--quiet", "--trace", dir / "trace.jsonl"})) << emulator.err();
        e2e::writeConfig(dir.path, emulator.port());
        const std::string out = dir / "out.txt";
        const std::string err = dir / "err.txt";
        const e2e::Child program = startWith({MSFS_PANEL_BIN}, dir.path, [&] {
            openOn(STDIN_FILENO, "/dev/null", O_RDONLY);
            openOn(STDOUT_FILENO, out, O_WRONLY | O_CREAT | O_TRUNC);
            openOn(STDERR_FILENO, err, O_WRONLY | O_CREAT | O_TRUNC);
            ::close(closed);
        });
        const auto setUp = [&] {
            return golden::startupOf(dir.read("trace.jsonl")).size() == golden::startup().size();
        };
        EXPECT_TRUE(e2e::waitUntil(setUp, 5s)) << dir.read("trace.jsonl");
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(golden::joined(golden::startupOf(dir.read("trace.jsonl"))), golden::joined(golden::startup()));
        const std::string trace = dir.read("trace.jsonl");
        EXPECT_FALSE(contains(trace, "Malformed")) << trace.substr(trace.find("\"call\":\"Malformed\""), 200);
        // Still connected: the simulator's quit ends it normally.
        EXPECT_EQ(testproc::waitExit(program.pid, 0ms), -1) << dir.read("err.txt");
        EXPECT_EQ(emulator.stop(SIGTERM), 0);
        EXPECT_EQ(e2e::waitFor(program, 5s), 0) << dir.read("err.txt");
        EXPECT_EQ(count(dir.read("trace.jsonl"), "\"call\":\"Open\""), 1U);
    }
}

// Closing the terminal (SIGHUP) or the keyboard's quit (SIGQUIT, Ctrl+\)
// end the program as Ctrl+C does: LEDs dark, status 0.
TEST(Signals, HangUpAndQuitEndTheProgramCleanly) {
    for (const int signal : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal == SIGHUP ? "SIGHUP" : "SIGQUIT");
        Dir dir;
        SimEmulator emulator(dir.path, "emulator");
        ASSERT_TRUE(emulator.start({"--quiet", "--set", "AUTOPILOT MASTER=1"})) << emulator.err();
        e2e::writeConfig(dir.path, emulator.port());
        e2e::writeFile(dir / "script.txt", "wait 20000\n");
        const e2e::Child panel = e2e::spawn({VIRTUAL_PANEL_BIN, "--script", dir / "script.txt", "--leds",
                                             dir / "leds.txt", "--", MSFS_PANEL_BIN, "--keep-running"},
                                            dir.path, dir / "out.txt", dir / "err.txt");
        ASSERT_TRUE(e2e::waitUntil([&] { return contains(dir.read("leds.txt"), "0b 01"); }, 5s)) << dir.read("err.txt");
        const pid_t program = childOf(panel.pid);
        ASSERT_GT(program, 0);
        ::kill(program, signal);
        EXPECT_EQ(e2e::waitFor(panel, 5s), 0) << dir.read("err.txt");
        const std::string leds = dir.read("leds.txt");
        EXPECT_EQ(leds.substr(leds.size() - 6), "0b 00\n");
    }
}

// `msfs-panel --keep-running | head -1`: once the reader has gone, writing
// the next line must neither kill the program nor stop it serving the panel.
TEST(Signals, AStandardOutputWithNoReaderDoesNotEndTheProgram) {
    Dir dir;
    SimEmulator emulator(dir.path, "emulator");
    ASSERT_TRUE(emulator.start({"--quiet", "--trace", dir / "trace.jsonl"})) << emulator.err();
    e2e::writeConfig(dir.path, emulator.port());
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string err = dir / "err.txt";
    const e2e::Child program = startWith({MSFS_PANEL_BIN, "--keep-running"}, dir.path, [&] {
        ::close(pipe_fds[0]);
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::close(pipe_fds[1]);
        openOn(STDERR_FILENO, err, O_WRONLY | O_CREAT | O_TRUNC);
    });
    ::close(pipe_fds[0]);  // no reader from the start
    ::close(pipe_fds[1]);
    const auto setUp = [&] { return golden::startupOf(dir.read("trace.jsonl")).size() == golden::startup().size(); };
    EXPECT_TRUE(e2e::waitUntil(setUp, 5s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(testproc::waitExit(program.pid, 0ms), -1) << dir.read("err.txt");
    ::kill(program.pid, SIGTERM);
    EXPECT_EQ(e2e::waitFor(program, 5s), 0) << dir.read("err.txt");
}

// A simulator that is alive but sends nothing (stopped, here with SIGSTOP:
// the kernel still takes what the program sends) is no dead link; the
// program says so once, and once when it sends again.
TEST(Silence, AStoppedSimulatorIsSaidOnceAndItsReturnToo) {
    Dir dir;
    SimEmulator emulator(dir.path, "emulator");
    ASSERT_TRUE(emulator.start({"--quiet", "--trace", dir / "trace.jsonl"})) << emulator.err();
    e2e::writeConfig(dir.path, emulator.port());
    const e2e::Child program = e2e::spawn({MSFS_PANEL_BIN}, dir.path, dir / "out.txt", dir / "err.txt");
    const auto setUp = [&] { return golden::startupOf(dir.read("trace.jsonl")).size() == golden::startup().size(); };
    ASSERT_TRUE(e2e::waitUntil(setUp, 5s));
    std::this_thread::sleep_for(200ms);
    ::kill(emulator.pid(), SIGSTOP);
    const auto said = [&](const std::string& what) { return count(dir.read("err.txt"), what); };
    const std::string silent = "msfs-panel: the simulator has sent nothing for 5 s";
    const std::string back = "msfs-panel: the simulator is sending again";
    EXPECT_TRUE(e2e::waitUntil([&] { return said(silent) > 0; }, 10s)) << dir.read("err.txt");
    std::this_thread::sleep_for(1s);
    ::kill(emulator.pid(), SIGCONT);
    EXPECT_TRUE(e2e::waitUntil([&] { return said(back) > 0; }, 3s)) << dir.read("err.txt");
    EXPECT_EQ(testproc::waitExit(program.pid, 0ms), -1);
    EXPECT_EQ(emulator.stop(SIGTERM), 0);
    EXPECT_EQ(e2e::waitFor(program, 5s), 0);
    EXPECT_EQ(said(silent), 1U) << dir.read("err.txt");
    EXPECT_EQ(said(back), 1U) << dir.read("err.txt");
    EXPECT_EQ(dir.read("out.txt"), "Connected to MSFS2020\n");
}

// On 127.0.0.1: answers every Open with RECV_OPEN (and QUIT, if asked) and
// closes the connection, as a simulator that ends each session at once.
class HangUpServer {
public:
    explicit HangUpServer(bool quit_first) : quit_first_(quit_first) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HangUpServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    HangUpServer(const HangUpServer&) = delete;
    HangUpServer& operator=(const HangUpServer&) = delete;
    int port() const { return port_; }
    int connections() const { return connections_; }

private:
    void serve() {
        std::vector<std::uint8_t> packet(scproto::kMaxPacketSize);
        std::uint8_t answer[512];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) continue;
            ++connections_;
            // The Open whole (its first word is its size), then the answer.
            std::size_t got = 0;
            std::uint32_t size = 4;
            pollfd c{client, POLLIN, 0};
            while (got<size&& ::poll(&c, 1, 1000)> 0) {
                const ssize_t n = ::recv(client, packet.data() + got, size - got, 0);
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
                if (got == 4) std::memcpy(&size, packet.data(), 4);
                if (size > packet.size()) break;
            }
            std::size_t n = scproto::encode(answer, 5, scproto::kittyHawkOpen());
            if (quit_first_) n += scproto::encode(std::span(answer).subspan(n), 5, scproto::RecvQuit{});
            ::send(client, answer, n, MSG_NOSIGNAL);
            ::close(client);
        }
    }

    bool quit_first_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// Against a server that answers and hangs up at once (6,400 reconnections a
// second before), the attempts back off as after a failed one, and what
// happened is said once, not at every attempt.
TEST(Backoff, ConnectionsThatEndAtOnceAreRetriedEverFewerTimes) {
    for (const bool quit_first : {false, true}) {
        SCOPED_TRACE(quit_first ? "QUIT, then closed" : "closed");
        Dir dir;
        HangUpServer server(quit_first);
        ASSERT_NE(server.port(), 0);
        e2e::writeConfig(dir.path, server.port());
        const e2e::Child program =
            e2e::spawn({MSFS_PANEL_BIN, "--keep-running"}, dir.path, dir / "out.txt", dir / "err.txt");
        std::this_thread::sleep_for(3500ms);  // attempts at 0, 1 and 3 s
        ::kill(program.pid, SIGINT);
        EXPECT_EQ(e2e::waitFor(program, 5s), 0);
        const int connections = server.connections();
        EXPECT_GE(connections, 2);
        EXPECT_LE(connections, 5);
        const std::string err = dir.read("err.txt");
        // One line per connection, but for one that Ctrl+C cut short.
        const std::size_t lines = count(dir.read("out.txt"), "Connected to MSFS2020\n");
        EXPECT_LE(lines, static_cast<std::size_t>(connections));
        EXPECT_GE(lines + 1, static_cast<std::size_t>(connections));
        // Each end said once per change: the same one every time here.
        EXPECT_GE(count(err, "msfs-panel: the simulator quit\n") + count(err, " lost: "), 1U) << err;
        EXPECT_LE(count(err, "msfs-panel: the simulator quit\n") + count(err, " lost: "), 2U) << err;
        EXPECT_EQ(count(err, "waiting longer between attempts"), 1U) << err;
    }
}

// A simulator that sends QUIT and closes while the program is still setting
// up (its sends then fail) has quit, not dropped the link: status 0. The
// race is won or lost per connection, hence several.
TEST(QuitThenClose, IsANormalEndEvenWhenTheProgramsSendsFailFirst) {
    HangUpServer server(true);
    ASSERT_NE(server.port(), 0);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        Dir dir;
        e2e::writeConfig(dir.path, server.port());
        const e2e::Child program = e2e::spawn({MSFS_PANEL_BIN}, dir.path, dir / "out.txt", dir / "err.txt");
        EXPECT_EQ(e2e::waitFor(program, 10s), 0) << dir.read("err.txt");
        const std::string err = dir.read("err.txt");
        EXPECT_EQ(count(err, "msfs-panel: the simulator quit\n"), 1U) << err;
        EXPECT_FALSE(contains(err, " lost")) << err;
    }
}

}  // namespace
