// Ctrl+C while the program looks up the simulator's host name and the name
// server does not answer: the lookup waits for the resolver's own timeouts
// (seconds); the program must not.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "namespace.h"
#include "process.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A name server that takes queries and never answers: a UDP socket on port
// 53 of our end of the cable.
class SilentNameServer {
public:
    explicit SilentNameServer(const std::string& address) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(53);
        listening_ = fd_ >= 0 && ::inet_pton(AF_INET, address.c_str(), &at.sin_addr) == 1 &&
                     ::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    ~SilentNameServer() {
        if (fd_ >= 0) ::close(fd_);
    }
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;
    bool listening() const { return listening_; }
    // True once a query has come, within `timeout`.
    bool asked(std::chrono::milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
    }

private:
    int fd_;
    bool listening_ = false;
};

void writeFile(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

TEST(NameLookup, CtrlCWhileTheNameServerDoesNotAnswerEndsTheProgramAtOnce) {
    FarComputer far;
    if (!far.skipReason().empty()) GTEST_SKIP() << far.skipReason();
    if (std::string(UNSHARE_BIN).empty()) GTEST_SKIP() << "needs util-linux's unshare, not found at configure time";
    SilentNameServer silent(far.nearAddress());
    ASSERT_TRUE(silent.listening());
    testproc::TempDir dir("msfs-lookup");
    const std::string resolv = dir.path() + "/resolv.conf";
    // The resolver would wait 10 s for its one attempt.
    writeFile(resolv, "nameserver " + far.nearAddress() + "\noptions timeout:10 attempts:1\n");
    writeFile(dir.path() + "/SimConnect.cfg", "[SimConnect]\nProtocol=IPv4\nAddress=flightsim.example\nPort=500\n");
    // On the far computer, in a mount namespace of its own that sees our
    // resolv.conf.
    pid_t program = -1;
    ASSERT_TRUE(far.inside([&] {
        program = testproc::spawn(
            {UNSHARE_BIN, "--mount", "--", "/bin/sh", "-c",
             "mount --bind \"$0\" /etc/resolv.conf && exec \"$1\" --keep-running", resolv, MSFS_PANEL_BIN},
            dir.path(), dir.path() + "/out.txt", dir.path() + "/err.txt");
    }));
    ASSERT_GT(program, 0);
    const bool asked = silent.asked(10s);
    std::this_thread::sleep_for(300ms);  // well inside the lookup
    const auto start = Clock::now();
    ::kill(program, SIGINT);
    const int status = testproc::waitExit(program, 15s);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    if (status == -1) {
        ::kill(program, SIGKILL);
        testproc::waitExit(program, 5s);
    }
    const std::string err = testproc::readFile(dir.path() + "/err.txt");
    ASSERT_TRUE(asked) << "no query reached the name server: " << err;
    std::printf("Ctrl+C during the lookup: ended after %.3f s\n", took);
    testing::Test::RecordProperty("stopped after", std::to_string(took));
    EXPECT_EQ(status, 0) << err;
    EXPECT_LT(took, 1.0) << err;
    EXPECT_EQ(err.find("cannot connect"), std::string::npos) << err;
}

}  // namespace
