#include "harness.h"

#include "startup_golden.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace emutest {
namespace {

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

// An event as the program sends it: to the user's aircraft, the group
// argument read as a priority.
scproto::TransmitClientEventPacket userTransmit(std::uint32_t event, std::uint32_t data) {
    return {.object_id = scproto::kObjectIdUser,
            .event_id = event,
            .data = data,
            .group_id = scproto::kGroupPriorityHighest,
            .flags = scproto::kEventFlagGroupIdIsPriority};
}

}  // namespace

long residentKiB(pid_t pid) {
    std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

double cpuSeconds(pid_t pid) {
    // utime and stime are fields 14 and 15, counted after the ")" that
    // ends the command name (which may itself hold spaces).
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
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

std::uint32_t TestClient::open(const std::string& name) { return send(scproto::OpenPacket{.app_name = name}); }

std::uint32_t TestClient::map(std::uint32_t event, const std::string& name) {
    return send(scproto::MapClientEventPacket{.event_id = event, .event_name = name});
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
    return send(scproto::RequestDataPacket{.request_id = request,
                                           .define_id = define,
                                           .object_id = scproto::kObjectIdUser,
                                           .period = period,
                                           .flags = flags,
                                           .origin = origin,
                                           .interval = interval,
                                           .limit = limit});
}

std::uint32_t TestClient::transmit(std::uint32_t event, std::uint32_t data) { return send(userTransmit(event, data)); }

std::uint32_t TestClient::clear(std::uint32_t define) { return send(scproto::ClearDataDefinitionPacket{define}); }

std::uint32_t TestClient::setData(std::uint32_t define, const Bytes& data, std::uint32_t count,
                                  std::optional<std::uint32_t> unit_size, std::uint32_t flags) {
    return send(scproto::SetDataPacket{.define_id = define,
                                       .object_id = scproto::kObjectIdUser,
                                       .flags = flags,
                                       .array_count = count,
                                       .unit_size = unit_size.value_or(static_cast<std::uint32_t>(data.size())),
                                       .data = data});
}

std::uint32_t TestClient::subscribe(std::uint32_t event, const std::string& name) {
    return send(scproto::SubscribeToSystemEventPacket{.event_id = event, .event_name = name});
}

std::uint32_t TestClient::unsubscribe(std::uint32_t event) {
    return send(scproto::UnsubscribeFromSystemEventPacket{event});
}

std::uint32_t TestClient::requestState(std::uint32_t request, const std::string& name) {
    return send(scproto::RequestSystemStatePacket{.request_id = request, .state = name});
}

std::uint32_t TestClient::enumerateInputEvents(std::uint32_t request) {
    return send(scproto::EnumerateInputEventsPacket{request});
}

std::uint32_t TestClient::setInputEvent(std::uint64_t hash, const Bytes& value) {
    return send(scproto::SetInputEventPacket{.hash = hash, .value = value});
}

std::uint32_t TestClient::replay(const minijson::Value& packet) {
    const std::string& call = packet.str("call");
    const auto field = [&](const char* key) { return static_cast<std::uint32_t>(packet.num(key)); };
    if (call == "Open") {
        return open(packet.str("name"));
    }
    if (call == "MapClientEventToSimEvent") {
        return map(field("event"), packet.str("name"));
    }
    if (call == "AddToDataDefinition") {
        scproto::AddToDataDefinitionPacket p;
        p.define_id = field("define");
        p.datum_name = packet.str("datum");
        p.units_name = packet.str("units");
        p.datum_type = field("type");
        p.epsilon = static_cast<float>(packet.real("epsilon"));
        p.datum_id = field("datum_id");
        return send(p);
    }
    if (call == "RequestDataOnSimObject") {
        return send(scproto::RequestDataPacket{.request_id = field("request"),
                                               .define_id = field("define"),
                                               .object_id = field("object"),
                                               .period = field("period"),
                                               .flags = field("flags"),
                                               .origin = field("origin"),
                                               .interval = field("interval"),
                                               .limit = field("limit")});
    }
    throw std::runtime_error("replay: no packet " + call);
}

Bytes TestClient::transmitPacket(std::uint32_t event, std::uint32_t data) {
    Bytes buf(scproto::kTransmitClientEventPacketSize);
    scproto::encode(buf, scproto::kProtocolKittyHawk, ++send_id_, userTransmit(event, data));
    return buf;
}

std::optional<Record> TestClient::next(int wait_ms) {
    for (int waited = 0; waited <= wait_ms;) {
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

std::uint32_t replayProgramStartup(TestClient& c) {
    std::uint32_t last = 0;
    for (const std::string& line : golden::startup()) {
        last = c.replay(minijson::Parser(line).parse());
    }
    return last;
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
