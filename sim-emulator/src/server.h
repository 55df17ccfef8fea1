// The SimConnect server side: accepts clients on one TCP socket, reads
// their packets with the shared codec, answers them, and at every frame
// boundary applies due events and streams the requested data. One thread,
// one poll() loop.
#ifndef SIM_EMULATOR_SERVER_H
#define SIM_EMULATOR_SERVER_H

#include "client_data.h"
#include "datablock.h"
#include "display.h"
#include "json.h"
#include "options.h"
#include "output.h"
#include "simulator.h"

#include "simconnect_protocol/protocol.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace simemu {

namespace mobiflight {
class Module;
}
class ModuleHost;

class Server {
public:
    // trace may be null (no --trace).
    Server(const Options& options, Simulator& sim, Display& display, Output* trace);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; on failure the reason, e.g.
    // "listen(127.0.0.1:500): Address already in use".
    std::optional<std::string> listen();
    std::uint16_t port() const { return port_; }

    // Serves until stop_fd becomes readable (the signal handler writes to
    // it) or, with --once, until the first client has gone. Each byte that
    // arrives on aircraft_fd (SIGUSR1) loads the next aircraft.
    void run(int stop_fd, int aircraft_fd = -1);

    // Sends RECV_QUIT to every client and closes the connections.
    void shutdown();

private:
    struct Request {
        std::uint32_t define_id = 0;
        std::uint32_t period = 0;
        std::uint32_t flags = 0;
        std::uint32_t origin = 0;
        std::uint32_t interval = 0;
        std::uint32_t limit = 0;
        std::uint64_t periods = 0;  // period boundaries seen
        std::uint32_t sent = 0;
        std::uint64_t start_frame = 0;
        std::vector<std::uint8_t> last;  // for the CHANGED flag
    };
    struct Client {
        int fd = -1;
        int number = 0;  // 0 until its first packet
        bool opened = false;
        bool closing = false;
        // A refusal is said once, until the client is below the cap again.
        bool refusing_events = false;
        bool refusing_names = false;
        std::string name;
        // The start of a packet whose end has not arrived yet: a client's
        // buffer grows only as far as the packets it actually sends.
        std::vector<std::uint8_t> partial;
        std::vector<std::uint8_t> tx;
        std::map<std::uint32_t, Simulator::Name> events;
        std::map<std::uint32_t, std::vector<Datum>> defines;
        std::map<std::uint32_t, Request> requests;
        ClientDataClient data;  // client data: its area IDs, definitions, requests
        // System events subscribed to, by client event ID: the name as the
        // simulator lists it.
        std::map<std::uint32_t, std::string_view> subscriptions;
    };

    // server.cpp: connections, buffers, the trace.
    bool listenerReadable() const;
    void acceptClients();
    void readClient(Client& c);
    bool cutPackets(Client& c, std::span<const std::uint8_t> received, std::uint64_t t_ns);
    void queue(Client& c, std::span<const std::uint8_t> bytes);
    void flush(Client& c);
    void closeClient(Client& c);
    void dropClosed();
    JsonLine traceLine(const Client& c) const;
    void writeTrace(JsonLine& line, std::uint64_t t_ns);
    // A refusal or a failure, for whoever watches: on standard error, or in
    // the live view. Not silenced by --quiet.
    void say(const std::string& text);
    ViewInfo view() const;

    // session.cpp: the packets, one handler per kind, and the data streamed.
    struct Incoming {
        Client& client;
        scproto::ClientHeader header;
        std::span<const std::uint8_t> bytes;  // the whole packet
        std::uint64_t t_ns;                   // when it arrived
        const char* call;                     // its function's name in the trace
    };
    void handlePacket(Client& c, std::span<const std::uint8_t> bytes, std::uint64_t t_ns);
    template <typename Packet>
    bool decodePacket(const Incoming& in, Packet& p);
    JsonLine callLine(const Incoming& in) const;
    void onOpen(const Incoming& in);
    void onMapClientEvent(const Incoming& in);
    void onAddToDataDefinition(const Incoming& in);
    void onRequestData(const Incoming& in);
    void onTransmitClientEvent(const Incoming& in);
    // --- Data definitions: clearing and setting
    void onClearDataDefinition(const Incoming& in);
    void onSetData(const Incoming& in);
    // --- System events and state
    void onSubscribeToSystemEvent(const Incoming& in);
    void onUnsubscribeFromSystemEvent(const Incoming& in);
    void onRequestSystemState(const Incoming& in);
    void loadNextAircraft();
    // --- Input events
    void onEnumerateInputEvents(const Incoming& in);
    void onSetInputEvent(const Incoming& in);
    void traceTransmit(const Incoming& in, const scproto::TransmitClientEventPacket& p, const Simulator::Name* name,
                       bool queued);
    void reject(const Incoming& in, ExceptionCode code, std::uint32_t index);
    void sendException(Client& c, ExceptionCode code, std::uint32_t send_id, std::uint32_t index);
    void malformed(Client& c, const std::string& reason, std::optional<std::uint32_t> send_id, std::uint64_t t_ns);
    void frame();
    void serveRequests(Client& c);

    // client_data_session.cpp: client data, and the MobiFlight module's
    // model (ModuleHost connects it to the server and the simulator).
    friend class ModuleHost;
    void onClientData(const Incoming& in, scproto::FunctionId function);
    template <typename Packet>
    bool decodeClientDataPacket(const Incoming& in, Packet& p);
    void onMapClientDataName(const Incoming& in);
    void onCreateClientData(const Incoming& in);
    void onAddToClientDataDefinition(const Incoming& in);
    void onClearClientDataDefinition(const Incoming& in);
    void onRequestClientData(const Incoming& in);
    void onSetClientData(const Incoming& in);
    // After area `name` was written: its readers (ON_SET requests), then
    // the module. `writer` is the client, kSimulatorOwner for the module.
    void areaWritten(const std::string& name, int writer);
    // Requests with a period counted in frames or seconds.
    void serveClientData(Client& c);
    // Sends request `id`'s data when it is due and (with CHANGED) new;
    // false when the request has finished and is to be dropped.
    bool sendClientData(Client& c, std::uint32_t id, ClientDataRequest& r, bool due);
    void startModule();
    void forgetClientData(Client& c);

    const Options& options_;
    Simulator& sim_;
    Display& display_;
    Output* trace_;
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    int next_number_ = 0;
    bool first_gone_ = false;
    bool refusing_clients_ = false;
    bool accept_failing_ = false;
    bool named_full_said_ = false;
    std::uint64_t accept_resume_ns_ = 0;  // the listener rests until then
    std::vector<std::unique_ptr<Client>> clients_;
    // One buffer to receive into and one reassembler to cut packets, shared
    // by all clients (one thread serves them in turn).
    std::vector<std::uint8_t> inbox_;
    scproto::StreamReassembler cutter_{scproto::kClientHeaderSize};
    std::vector<std::uint8_t> scratch_;
    std::vector<std::uint8_t> block_;
    // Record headers' version: 5 as MSFS 2020 writes it, 6 as MSFS 2024
    // does (for protocol-5 clients too).
    std::uint32_t version_ = scproto::kProtocolKittyHawk;
    ClientDataAreas areas_;
    std::unique_ptr<ModuleHost> module_host_;
    std::unique_ptr<mobiflight::Module> module_;
};

std::uint64_t monotonicNs();

}  // namespace simemu

#endif
