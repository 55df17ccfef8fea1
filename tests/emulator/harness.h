// Talks to the real sim-emulator binary (a SimEmulator) over 127.0.0.1 with
// a client written on the shared codec.
#ifndef TESTS_EMULATOR_HARNESS_H
#define TESTS_EMULATOR_HARNESS_H

#include "mini_json.h"
#include "process.h"
#include "sim_emulator.h"
#include "simconnect_protocol/protocol.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emutest {

using Bytes = std::vector<std::uint8_t>;

using testproc::readFile;

// Of a running process, from /proc: resident memory in KiB and CPU time
// (user and system) in seconds; -1 when unreadable.
long residentKiB(pid_t pid);
double cpuSeconds(pid_t pid);

struct Record {
    scproto::ServerHeader header;
    Bytes bytes;
    scproto::RecvId id() const { return static_cast<scproto::RecvId>(header.id); }
};

class TestClient {
public:
    ~TestClient();
    bool connect(int port);
    void close();

    // Each call sends one packet and returns its send ID (from 1).
    std::uint32_t open(const std::string& name = "Request Data");
    std::uint32_t map(std::uint32_t event, const std::string& name);
    std::uint32_t add(std::uint32_t define, const std::string& datum, const std::string& units, std::uint32_t type);
    std::uint32_t request(std::uint32_t request, std::uint32_t define, std::uint32_t period, std::uint32_t flags = 0,
                          std::uint32_t origin = 0, std::uint32_t interval = 0, std::uint32_t limit = 0);
    std::uint32_t transmit(std::uint32_t event, std::uint32_t data);
    // --- Data definitions, system events and state, input events
    std::uint32_t clear(std::uint32_t define);
    // One unit of `data` (its size the unit size) unless told otherwise.
    std::uint32_t setData(std::uint32_t define, const Bytes& data, std::uint32_t count = 1,
                          std::optional<std::uint32_t> unit_size = std::nullopt, std::uint32_t flags = 0);
    std::uint32_t subscribe(std::uint32_t event, const std::string& name);
    std::uint32_t unsubscribe(std::uint32_t event);
    std::uint32_t requestState(std::uint32_t request, const std::string& name);
    std::uint32_t enumerateInputEvents(std::uint32_t request);
    std::uint32_t setInputEvent(std::uint64_t hash, const Bytes& value);
    // One packet of the golden start-up, sent as it stands there.
    std::uint32_t replay(const minijson::Value& packet);
    // The packet encoded, not sent (to send several in one write).
    Bytes transmitPacket(std::uint32_t event, std::uint32_t data);
    void sendRaw(const Bytes& bytes);

    // The next record, waiting up to wait_ms (a few seconds unless told);
    // nothing on a timeout or when the server closed the connection.
    std::optional<Record> next(int wait_ms = 5000);
    bool peerClosed() const { return peer_closed_; }

    // Any packet of the shared codec (the client-data ones among them).
    template <typename Packet>
    std::uint32_t send(const Packet& p) {
        Bytes buf(scproto::kMaxPacketSize);
        buf.resize(scproto::encode(buf, scproto::kProtocolKittyHawk, ++send_id_, p));
        sendRaw(buf);
        return send_id_;
    }

private:
    int fd_ = -1;
    std::uint32_t send_id_ = 0;
    bool peer_closed_ = false;
    scproto::StreamReassembler rx_{scproto::kServerHeaderSize};
};

// The panel program's start-up, as the golden file has it: Open, its event
// mappings, its two data definitions and its two requests. The send ID of
// the last packet.
std::uint32_t replayProgramStartup(TestClient& c);

struct RadioBlock {
    double com1_standby, com2_standby, nav1_standby, nav2_standby, heading_bug, obs1, obs2;
};
struct AutopilotBlock {
    double altitude, vertical_speed;
    std::uint32_t transponder;
    std::int32_t master, heading, nav1, approach, altitude_lock, vertical_hold;
};
RadioBlock radioBlock(const scproto::RecvSimObjectData& d);
AutopilotBlock autopilotBlock(const scproto::RecvSimObjectData& d);

}  // namespace emutest

#endif
