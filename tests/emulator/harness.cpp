#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace emutest {
namespace {

constexpr int kWaitMs = 5000;

double f64(const std::uint8_t* p) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = (bits << 8) | p[i];
    }
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

EmulatorProcess::EmulatorProcess() {
    char tmpl[] = "/tmp/sim-emulator-test-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    dir_ = made ? made : "/tmp";
}

EmulatorProcess::~EmulatorProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

int EmulatorProcess::spawn(const std::vector<std::string>& args) {
    std::vector<std::string> all{SIM_EMULATOR_PATH};
    all.insert(all.end(), args.begin(), args.end());
    const std::string outPath = path("stdout");
    const std::string errPath = path("stderr");
    pid_ = ::fork();
    if (pid_ == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        if (open_files_ > 0) {
            const rlimit limit{static_cast<rlim_t>(open_files_), static_cast<rlim_t>(open_files_)};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid_ > 0 ? 0 : -1;
}

bool EmulatorProcess::start(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--port", "0", "--port-file", path("port")};
    all.insert(all.end(), args.begin(), args.end());
    if (spawn(all) != 0) {
        return false;
    }
    for (int waited = 0; waited < kWaitMs; waited += 10) {
        const std::string text = readFile(path("port"));
        if (!text.empty()) {
            port_ = std::atoi(text.c_str());
            return port_ > 0;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int EmulatorProcess::runToEnd(const std::vector<std::string>& args) {
    if (spawn(args) != 0) {
        return -1;
    }
    return wait();
}

int EmulatorProcess::wait() {
    for (int waited = 0; waited < kWaitMs; waited += 5) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

int EmulatorProcess::stop(int signal) {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, signal);
    return wait();
}

long EmulatorProcess::residentKiB() const {
    std::istringstream status(readFile("/proc/" + std::to_string(pid_) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

double EmulatorProcess::cpuSeconds() const {
    // utime and stime are fields 14 and 15, counted after the ")" that
    // ends the command name (which may itself hold spaces).
    const std::string stat = readFile("/proc/" + std::to_string(pid_) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n >= 14) {
            ticks += std::stoull(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TestClient::~TestClient() { close(); }

bool TestClient::connect(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return false;
    }
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

void TestClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TestClient::sendRaw(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

template <typename Packet>
std::uint32_t TestClient::send(const Packet& p) {
    Bytes buf(scproto::kMaxPacketSize);
    const std::size_t n = scproto::encode(buf, scproto::kProtocolKittyHawk, ++send_id_, p);
    buf.resize(n);
    sendRaw(buf);
    return send_id_;
}

std::uint32_t TestClient::open(const std::string& name) { return send(scproto::OpenPacket{name}); }

std::uint32_t TestClient::map(std::uint32_t event, const std::string& name) {
    return send(scproto::MapClientEventPacket{event, name});
}

std::uint32_t TestClient::add(std::uint32_t define, const std::string& datum, const std::string& units,
                              std::uint32_t type) {
    scproto::AddToDataDefinitionPacket p;
    p.define_id = define;
    p.datum_name = datum;
    p.units_name = units;
    p.datum_type = type;
    return send(p);
}

std::uint32_t TestClient::request(std::uint32_t request, std::uint32_t define, std::uint32_t period,
                                  std::uint32_t flags, std::uint32_t origin, std::uint32_t interval,
                                  std::uint32_t limit) {
    return send(scproto::RequestDataPacket{request, define, 0, period, flags, origin, interval, limit});
}

std::uint32_t TestClient::transmit(std::uint32_t event, std::uint32_t data) {
    return send(scproto::TransmitClientEventPacket{0, event, data, 1, 0x10});
}

Bytes TestClient::transmitPacket(std::uint32_t event, std::uint32_t data) {
    Bytes buf(scproto::kTransmitClientEventPacketSize);
    scproto::encode(buf, scproto::kProtocolKittyHawk, ++send_id_,
                    scproto::TransmitClientEventPacket{0, event, data, 1, 0x10});
    return buf;
}

std::optional<Record> TestClient::next() {
    for (int waited = 0; waited <= kWaitMs;) {
        scproto::Error error;
        const auto packet = rx_.next(error);
        if (error) {
            return std::nullopt;
        }
        if (!packet.empty()) {
            Record r;
            r.bytes.assign(packet.begin(), packet.end());
            if (scproto::decodeServerHeader(r.bytes, r.header)) {
                return std::nullopt;
            }
            return r;
        }
        if (peer_closed_) {
            return std::nullopt;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            waited += 50;
            continue;
        }
        const auto room = rx_.writable();
        const ssize_t n = ::recv(fd_, room.data(), room.size(), 0);
        if (n <= 0) {
            peer_closed_ = true;
            continue;
        }
        rx_.commit(static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

void addProgramDefinitions(TestClient& c) {
    const char* radios[] = {"COM STANDBY FREQUENCY:1", "COM STANDBY FREQUENCY:2", "NAV STANDBY FREQUENCY:1",
                            "NAV STANDBY FREQUENCY:2", "AUTOPILOT HEADING LOCK DIR", "NAV OBS:1", "NAV OBS:2"};
    for (int i = 0; i < 7; ++i) {
        c.add(0, radios[i], i < 4 ? "MHz" : "degrees", 4);
    }
    c.add(1, "AUTOPILOT ALTITUDE LOCK VAR", "feet", 4);
    c.add(1, "AUTOPILOT VERTICAL HOLD VAR", "feet/minute", 4);
    c.add(1, "TRANSPONDER CODE:1", "BCO16", 1);
    const char* modes[] = {"AUTOPILOT MASTER",        "AUTOPILOT HEADING LOCK",  "AUTOPILOT NAV1 LOCK",
                           "AUTOPILOT APPROACH HOLD", "AUTOPILOT ALTITUDE LOCK", "AUTOPILOT VERTICAL HOLD"};
    for (const char* m : modes) {
        c.add(1, m, "Bool", 1);
    }
}

RadioBlock radioBlock(const scproto::RecvSimObjectData& d) {
    const std::uint8_t* p = d.data.data();
    return {f64(p), f64(p + 8), f64(p + 16), f64(p + 24), f64(p + 32), f64(p + 40), f64(p + 48)};
}

AutopilotBlock autopilotBlock(const scproto::RecvSimObjectData& d) {
    const std::uint8_t* p = d.data.data();
    const auto i32 = [&](int off) { return static_cast<std::int32_t>(u32(p + off)); };
    return {f64(p), f64(p + 8), u32(p + 16), i32(20), i32(24), i32(28), i32(32), i32(36), i32(40)};
}

}  // namespace emutest
