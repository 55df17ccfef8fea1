#include "namespace.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr const char* kPrefix = "msfs-net-";

std::string run(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        status = -1;
        return "popen failed";
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    status = ::pclose(pipe);
    return output;
}

// Namespaces left by a test process that died before its clean-up (killed
// by a timeout): their names carry the process ID.
void removeOrphans() {
    int status = 0;
    std::istringstream list(run(std::string(IP_BIN) + " netns list", status));
    std::string line;
    while (std::getline(list, line)) {
        if (line.rfind(kPrefix, 0) != 0) continue;
        const std::string name = line.substr(0, line.find(' '));
        const long pid = std::strtol(name.c_str() + std::char_traits<char>::length(kPrefix), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::string ignored;
            FarComputer::ip({"netns", "del", name}, ignored);
        }
    }
}

}  // namespace

bool FarComputer::ip(const std::vector<std::string>& args, std::string& error) {
    std::string command = IP_BIN;
    for (const std::string& a : args) command += " " + a;
    int status = 0;
    error = run(command, status);
    if (status == 0) return true;
    error = command + ": " + error;
    return false;
}

FarComputer::FarComputer() {
    if (::geteuid() != 0) {
        skip_reason_ = "needs root, to make a network namespace and a veth pair (run the test as root)";
        return;
    }
    if (std::string(IP_BIN).empty() || ::access(IP_BIN, X_OK) != 0) {
        skip_reason_ = "needs iproute2's ip, not found when the tests were configured";
        return;
    }
    removeOrphans();
    const auto pid = static_cast<unsigned>(::getpid());
    name_ = kPrefix + std::to_string(pid);
    near_link_ = "mn" + std::to_string(pid) + "a";
    far_link_ = "mn" + std::to_string(pid) + "b";
    // A /30 of 10.231.0.0/16 from the process ID, so that tests running at
    // the same time do not share one.
    const std::string net = "10.231." + std::to_string((pid >> 6) & 0xFF) + ".";
    const unsigned base = (pid & 0x3F) * 4;
    near_address_ = net + std::to_string(base + 1);
    far_address_ = net + std::to_string(base + 2);
    std::string error;
    if (!ip({"netns", "add", name_}, error)) {
        skip_reason_ = "cannot make a network namespace: " + error;
        return;
    }
    made_ = true;
    const bool up = ip({"link", "add", near_link_, "type", "veth", "peer", "name", far_link_, "netns", name_}, error) &&
                    ip({"addr", "add", near_address_ + "/30", "dev", near_link_}, error) &&
                    ip({"link", "set", near_link_, "up"}, error) &&
                    ip({"-n", name_, "addr", "add", far_address_ + "/30", "dev", far_link_}, error) &&
                    ip({"-n", name_, "link", "set", far_link_, "up"}, error) &&
                    ip({"-n", name_, "link", "set", "lo", "up"}, error);
    if (!up) {
        skip_reason_ = "cannot join the namespace by a veth pair: " + error;
    }
}

FarComputer::~FarComputer() {
    if (!made_) return;
    std::string ignored;
    ip({"link", "del", near_link_}, ignored);  // takes its peer with it
    ip({"netns", "del", name_}, ignored);
}

bool FarComputer::inside(const std::function<void()>& start) {
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    bool entered = home >= 0 && there >= 0 && ::setns(there, CLONE_NEWNET) == 0;
    if (entered) {
        start();
        if (::setns(home, CLONE_NEWNET) != 0) std::abort();  // the test would go on in the wrong network
    }
    if (home >= 0) ::close(home);
    if (there >= 0) ::close(there);
    return entered;
}

bool FarComputer::cableUnplugged(bool unplugged) {
    std::string error;
    return ip({"-n", name_, "link", "set", far_link_, unplugged ? "down" : "up"}, error);
}
