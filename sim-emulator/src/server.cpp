#include "server.h"

#include "text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace simemu {
namespace {

// Server header version: MSFS 2020 answers protocol 5 clients with 5.
constexpr std::uint32_t kServerVersion = 5;
// SIMCONNECT_RECV_SIMOBJECT_DATA.dwObjectID of the user aircraft.
constexpr std::uint32_t kUserObjectId = 1;
constexpr std::uint32_t kPeriodNever = 0;
constexpr std::uint32_t kPeriodOnce = 1;
constexpr std::uint32_t kPeriodSecond = 4;
constexpr std::uint32_t kFlagChanged = 1;
// Bounds on what one client may build up; far above any real use.
constexpr std::size_t kMaxDefines = 1024;
constexpr std::size_t kMaxDatums = 1024;
constexpr std::size_t kMaxRequests = 1024;
// MSFS's own limit on the event names one client maps.
constexpr std::size_t kMaxEventNames = 1000;
// MSFS's MaxClients default in SimConnect.xml.
constexpr std::size_t kMaxClients = 64;
// A client that reads nothing while data streams to it is dropped rather
// than buffered without end.
constexpr std::size_t kMaxPending = 8u << 20;
constexpr int kRedrawMs = 200;
// How long the listener rests after accept failed for want of descriptors
// or memory, unless a client leaves first.
constexpr std::uint64_t kAcceptRetryNs = 250'000'000;

const char* callName(std::uint32_t function) {
    switch (static_cast<scproto::FunctionId>(function)) {
    case scproto::FunctionId::Open: return "Open";
    case scproto::FunctionId::MapClientEventToSimEvent: return "MapClientEventToSimEvent";
    case scproto::FunctionId::TransmitClientEvent: return "TransmitClientEvent";
    case scproto::FunctionId::AddToDataDefinition: return "AddToDataDefinition";
    case scproto::FunctionId::RequestDataOnSimObject: return "RequestDataOnSimObject";
    }
    return nullptr;
}

}  // namespace

std::uint64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

Server::Server(const Options& options, Simulator& sim, Display& display, Output* trace)
    : options_(options), sim_(sim), display_(display), trace_(trace),
      inbox_(scproto::kMaxPacketSize), scratch_(scproto::kMaxPacketSize), block_(scproto::kMaxPacketSize) {}

Server::~Server() {
    for (auto& c : clients_) {
        if (c->fd >= 0) {
            ::close(c->fd);
        }
    }
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
    }
}

std::optional<std::string> Server::listen() {
    const std::string where = "listen(" + options_.bind + ":" + std::to_string(options_.port) + "): ";
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        return where + std::strerror(errno);
    }
    // A restarted emulator binds the port again at once, even while the
    // connections of the one before are still closing.
    const int one = 1;
    if (::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        return where + "SO_REUSEADDR: " + std::strerror(errno);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.port);
    if (inet_pton(AF_INET, options_.bind.c_str(), &addr.sin_addr) != 1) {
        return where + "not an IPv4 address";
    }
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        std::string reason = std::strerror(err);
        if (err == EADDRINUSE) {
            reason += " (another simulator or emulator is listening there; choose another --port)";
        } else if (err == EACCES) {
            reason += " (ports below 1024 need privileges; choose another --port)";
        }
        return where + reason;
    }
    if (::listen(listen_fd_, static_cast<int>(kMaxClients)) != 0) {
        return where + std::strerror(errno);
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return std::nullopt;
}

ViewInfo Server::view() const {
    ViewInfo v;
    v.address = options_.bind + ":" + std::to_string(port_);
    v.frame_ms = options_.frame_ms;
    v.delay_frames = options_.event_delay_frames;
    for (const auto& c : clients_) {
        if (c->number > 0) {
            v.clients.push_back({c->number, c->opened ? std::optional(c->name) : std::nullopt});
        }
    }
    return v;
}

void Server::run(int stop_fd) {
    const std::uint64_t period = static_cast<std::uint64_t>(options_.frame_ms) * 1000000u;
    std::uint64_t next_frame = monotonicNs() + period;
    std::uint64_t next_redraw = 0;
    std::vector<pollfd> fds;
    while (!(options_.once && first_gone_)) {
        fds.clear();
        fds.push_back({stop_fd, POLLIN, 0});
        // poll() skips a negative descriptor: the listener while it rests.
        fds.push_back({monotonicNs() >= accept_resume_ns_ ? listen_fd_ : -1, POLLIN, 0});
        for (const auto& c : clients_) {
            fds.push_back({c->fd, static_cast<short>(POLLIN | (c->tx.empty() ? 0 : POLLOUT)), 0});
        }
        std::uint64_t now = monotonicNs();
        std::uint64_t wake = next_frame;
        if (display_.live()) {
            wake = std::min(wake, next_redraw);
        }
        const int timeout = wake > now ? static_cast<int>((wake - now + 999999) / 1000000) : 0;
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (n > 0) {
            if (fds[0].revents) {
                return;
            }
            if (fds[1].revents & POLLIN) {
                acceptClients();
            }
            // New clients were appended after the polled ones.
            for (std::size_t i = 2; i < fds.size(); ++i) {
                Client& c = *clients_[i - 2];
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                    readClient(c);
                }
                if (!c.closing && (fds[i].revents & POLLOUT)) {
                    flush(c);
                }
            }
            dropClosed();
        }
        now = monotonicNs();
        if (now >= next_frame) {
            frame();
            dropClosed();
            next_frame += period;
            if (next_frame <= now) {
                // Fell behind (e.g. stopped in a debugger): resume the beat
                // from now instead of bursting the missed frames.
                next_frame = now + period;
            }
        }
        if (display_.live() && now >= next_redraw) {
            display_.redraw(sim_, view());
            next_redraw = now + static_cast<std::uint64_t>(kRedrawMs) * 1000000u;
        }
    }
}

void Server::acceptClients() {
    for (std::size_t n = 0; n < kMaxClients; ++n) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                // Every waiting connection taken: the episode is over. (A
                // success alone is not: each client that leaves frees one
                // descriptor, taken by the next connection in the queue.)
                if (accept_failing_) {
                    accept_failing_ = false;
                    say("accepting connections again");
                }
                return;
            }
            if (error == EINTR) {
                return;
            }
            if (error == ECONNABORTED || error == EPROTO) {
                continue;  // that connection is gone; the next may be fine
            }
            // Out of descriptors (EMFILE, ENFILE) or memory: the connection
            // stays queued and the listener readable, so polling it again
            // at once would spin. Rest it until a client leaves.
            accept_resume_ns_ = monotonicNs() + kAcceptRetryNs;
            if (!accept_failing_) {
                accept_failing_ = true;
                say(std::string("cannot accept connections (accept: ") + std::strerror(error) +
                    "); trying again as clients leave");
            }
            return;
        }
        if (clients_.size() >= kMaxClients) {
            ::close(fd);
            if (!refusing_clients_) {
                refusing_clients_ = true;
                say(std::to_string(kMaxClients) +
                    " clients connected, as many as MSFS takes by default; closing new connections until one leaves");
            }
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Client>();
        c->fd = fd;
        clients_.push_back(std::move(c));
    }
}

void Server::readClient(Client& c) {
    // A bounded number of reads per pass, so that a client that never stops
    // sending cannot hold back the frame clock.
    for (int reads = 0; reads < 16 && !c.closing; ++reads) {
        const ssize_t got = ::recv(c.fd, inbox_.data(), inbox_.size(), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (got <= 0) {
            closeClient(c);
            return;
        }
        if (!cutPackets(c, std::span(inbox_).first(static_cast<std::size_t>(got)), monotonicNs())) {
            return;
        }
    }
}

// The client's unfinished packet and the bytes just received go through the
// shared reassembler; what it holds back at the end is the tail of those
// bytes, the start of the next packet, and becomes the client's new
// unfinished packet.
bool Server::cutPackets(Client& c, std::span<const std::uint8_t> received, std::uint64_t t_ns) {
    cutter_.reset();
    // The reassembler holds two maximum-size packets; the unfinished packet
    // is less than one and a receive at most one, so both always fit.
    if (cutter_.feed(c.partial) != c.partial.size() || cutter_.feed(received) != received.size()) {
        malformed(c, "receive buffer full", std::nullopt, t_ns);
        return false;
    }
    for (;;) {
        scproto::Error error;
        const auto packet = cutter_.next(error);
        if (error) {
            malformed(c, scproto::describe(error), std::nullopt, t_ns);
            return false;
        }
        if (packet.empty()) {
            break;
        }
        handlePacket(c, packet, t_ns);
        if (c.closing) {
            return false;
        }
    }
    const std::size_t left = cutter_.buffered();
    if (left <= received.size()) {
        c.partial.assign(received.end() - static_cast<std::ptrdiff_t>(left), received.end());
    } else {
        c.partial.erase(c.partial.begin(),
                        c.partial.end() - static_cast<std::ptrdiff_t>(left - received.size()));
        c.partial.insert(c.partial.end(), received.begin(), received.end());
    }
    return true;
}

JsonLine Server::traceLine(const Client& c) const {
    JsonLine line;
    // Lines name their client once a second one has been seen; lines
    // without it come from client 1.
    if (next_number_ > 1) {
        line.uint("client", static_cast<std::uint64_t>(c.number));
    }
    return line;
}

void Server::writeTrace(JsonLine& line, std::uint64_t t_ns) {
    line.uint("t_ns", t_ns);
    if (trace_) {
        trace_->write(line.finish());
    }
}

void Server::handlePacket(Client& c, std::span<const std::uint8_t> packet, std::uint64_t t_ns) {
    if (c.number == 0) {
        c.number = ++next_number_;
    }
    scproto::ClientHeader h;
    if (const auto e = scproto::decodeClientHeader(packet, h)) {
        malformed(c, scproto::describe(e), std::nullopt, t_ns);
        return;
    }
    const std::uint32_t function = h.type & ~scproto::kFunctionTypeBase;
    const char* call = callName(function);
    if (!call) {
        // Well-formed but a function we do not emulate: noted, not fatal.
        JsonLine line = traceLine(c);
        line.uint("send_id", h.send_id).string("call", "Unsupported").uint("function", function).uint("size", h.size);
        writeTrace(line, t_ns);
        return;
    }
    const auto failed = [&](const scproto::Error& e) {
        malformed(c, std::string(call) + ": " + scproto::describe(e), h.send_id, t_ns);
    };
    JsonLine line = traceLine(c);
    line.uint("send_id", h.send_id).string("call", call);
    switch (static_cast<scproto::FunctionId>(function)) {
    case scproto::FunctionId::Open: {
        scproto::OpenPacket p;
        if (const auto e = scproto::decode(packet, p)) {
            return failed(e);
        }
        line.string("name", p.app_name).uint("protocol", h.protocol);
        writeTrace(line, t_ns);
        c.opened = true;
        c.name = std::string(p.app_name);
        const auto n = scproto::encode(scratch_, kServerVersion, scproto::kittyHawkOpen());
        queue(c, std::span(scratch_).first(n));
        if (!options_.quiet && !display_.live()) {
            std::fprintf(stderr, "sim-emulator: client %d opened as \"%s\"\n", c.number, printable(c.name).c_str());
        }
        return;
    }
    case scproto::FunctionId::MapClientEventToSimEvent: {
        scproto::MapClientEventPacket p;
        if (const auto e = scproto::decode(packet, p)) {
            return failed(e);
        }
        line.uint("event", p.event_id).string("name", p.event_name);
        writeTrace(line, t_ns);
        if (!c.opened) {
            return sendException(c, ExceptionCode::Unopened, h.send_id, 0);
        }
        if (c.events.contains(p.event_id)) {
            // MSFS keeps the first mapping of an ID.
            return sendException(c, ExceptionCode::EventIdDuplicate, h.send_id, 1);
        }
        if (c.events.size() >= kMaxEventNames) {
            if (!c.refusing_names) {
                c.refusing_names = true;
                say("client " + std::to_string(c.number) + " has mapped " + std::to_string(kMaxEventNames) +
                    " event names, as many as MSFS takes; answering more with TOO_MANY_EVENT_NAMES");
            }
            return sendException(c, ExceptionCode::TooManyEventNames, h.send_id, 1);
        }
        c.events.emplace(p.event_id, std::make_shared<const std::string>(p.event_name));
        if (classifyEventName(p.event_name) == NameClass::Unknown) {
            sendException(c, ExceptionCode::NameUnrecognized, h.send_id, 2);
        }
        return;
    }
    case scproto::FunctionId::AddToDataDefinition: {
        scproto::AddToDataDefinitionPacket p;
        if (const auto e = scproto::decode(packet, p)) {
            return failed(e);
        }
        line.uint("define", p.define_id)
            .string("datum", p.datum_name)
            .string("units", p.units_name)
            .uint("type", p.datum_type)
            .number("epsilon", static_cast<double>(p.epsilon))
            .uint("datum_id", p.datum_id);
        writeTrace(line, t_ns);
        if (!c.opened) {
            return sendException(c, ExceptionCode::Unopened, h.send_id, 0);
        }
        if (!c.defines.contains(p.define_id) && c.defines.size() >= kMaxDefines) {
            return sendException(c, ExceptionCode::DefinitionError, h.send_id, 1);
        }
        auto& datums = c.defines[p.define_id];
        const auto resolved = resolveDatum(p.datum_name, p.units_name, p.datum_type);
        if (const auto* r = std::get_if<Rejection>(&resolved)) {
            return sendException(c, r->code, h.send_id, r->index);
        }
        if (datums.size() >= kMaxDatums) {
            return sendException(c, ExceptionCode::DefinitionError, h.send_id, 1);
        }
        datums.push_back(std::get<Datum>(resolved));
        return;
    }
    case scproto::FunctionId::RequestDataOnSimObject: {
        scproto::RequestDataPacket p;
        if (const auto e = scproto::decode(packet, p)) {
            return failed(e);
        }
        line.uint("request", p.request_id)
            .uint("define", p.define_id)
            .uint("object", p.object_id)
            .uint("period", p.period)
            .uint("flags", p.flags)
            .uint("origin", p.origin)
            .uint("interval", p.interval)
            .uint("limit", p.limit);
        writeTrace(line, t_ns);
        if (!c.opened) {
            return sendException(c, ExceptionCode::Unopened, h.send_id, 0);
        }
        if (p.period == kPeriodNever) {
            c.requests.erase(p.request_id);
            return;
        }
        if (!c.defines.contains(p.define_id)) {
            return sendException(c, ExceptionCode::UnrecognizedId, h.send_id, 2);
        }
        if (p.object_id != 0 && p.object_id != kUserObjectId) {
            return sendException(c, ExceptionCode::UnrecognizedId, h.send_id, 3);
        }
        if (p.period > kPeriodSecond) {
            return sendException(c, ExceptionCode::InvalidEnum, h.send_id, 4);
        }
        if (!c.requests.contains(p.request_id) && c.requests.size() >= kMaxRequests) {
            return sendException(c, ExceptionCode::TooManyRequests, h.send_id, 1);
        }
        Request r;
        r.define_id = p.define_id;
        r.period = p.period;
        r.flags = p.flags;
        r.origin = p.origin;
        r.interval = p.interval;
        r.limit = p.limit;
        r.start_frame = sim_.frame();
        c.requests[p.request_id] = std::move(r);
        return;
    }
    case scproto::FunctionId::TransmitClientEvent: {
        scproto::TransmitClientEventPacket p;
        if (const auto e = scproto::decode(packet, p)) {
            return failed(e);
        }
        const auto mapped = c.events.find(p.event_id);
        // Only an opened client has mapped events.
        const bool isMapped = mapped != c.events.end();
        // Queued before the line is written, so that the line can say
        // whether it was.
        const bool queued = isMapped && sim_.receive(c.number, mapped->second, p.data);
        line.uint("object", p.object_id).uint("event", p.event_id);
        if (isMapped) {
            line.string("sim_event", *mapped->second);
        } else {
            line.null("sim_event");
        }
        line.uint("data", p.data);
        if (isMapped && !queued) {
            line.string("refused", "too many events waiting");
        } else if (const EventInfo* event = queued ? findEvent(*mapped->second) : nullptr;
                   event && event->data_format != DataFormat::None) {
            if (const auto applied = sim_.model().valueSetBy(*event, p.data)) {
                line.number("applied", *applied);
            } else {
                line.null("applied");
            }
        }
        line.uint("group", p.group_id).uint("flags", p.flags);
        writeTrace(line, t_ns);
        if (!c.opened) {
            return sendException(c, ExceptionCode::Unopened, h.send_id, 0);
        }
        if (!isMapped) {
            // What MSFS answers for an ID that was never mapped.
            return sendException(c, ExceptionCode::Error, h.send_id, 2);
        }
        if (!queued) {
            if (!c.refusing_events) {
                c.refusing_events = true;
                say("client " + std::to_string(c.number) + " has " + std::to_string(kMaxWaitingEvents) +
                    " events waiting for their frame; answering more with ERROR until some are applied");
            }
            return sendException(c, ExceptionCode::Error, h.send_id, 0);
        }
        c.refusing_events = false;
        return;
    }
    }
}

void Server::malformed(Client& c, const std::string& reason, std::optional<std::uint32_t> send_id,
                       std::uint64_t t_ns) {
    if (c.number == 0) {
        c.number = ++next_number_;
    }
    JsonLine line = traceLine(c);
    if (send_id) {
        line.uint("send_id", *send_id);
    }
    line.string("call", "Malformed").string("reason", reason);
    writeTrace(line, t_ns);
    if (!options_.quiet && !display_.live()) {
        std::fprintf(stderr, "sim-emulator: client %d sent a malformed packet (%s); disconnecting it\n", c.number,
                     reason.c_str());
    }
    closeClient(c);
}

void Server::say(const std::string& text) {
    if (display_.live()) {
        display_.note(text);
    } else {
        std::fprintf(stderr, "sim-emulator: %s\n", text.c_str());
    }
}

void Server::sendException(Client& c, ExceptionCode code, std::uint32_t send_id, std::uint32_t index) {
    const scproto::RecvException r{static_cast<std::uint32_t>(code), send_id, index};
    const auto n = scproto::encode(scratch_, kServerVersion, r);
    queue(c, std::span(scratch_).first(n));
}

void Server::queue(Client& c, std::span<const std::uint8_t> bytes) {
    if (c.closing) {
        return;
    }
    c.tx.insert(c.tx.end(), bytes.begin(), bytes.end());
    flush(c);
    if (c.tx.size() > kMaxPending) {
        if (!options_.quiet && !display_.live()) {
            std::fprintf(stderr, "sim-emulator: client %d reads nothing; disconnecting it\n", c.number);
        }
        closeClient(c);
    }
}

void Server::flush(Client& c) {
    std::size_t done = 0;
    while (done < c.tx.size()) {
        const ssize_t n = ::send(c.fd, c.tx.data() + done, c.tx.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                c.tx.clear();
                closeClient(c);
                return;
            }
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    c.tx.erase(c.tx.begin(), c.tx.begin() + static_cast<std::ptrdiff_t>(done));
}

void Server::frame() {
    // Events first, so that this frame's data already shows them.
    for (const auto& applied : sim_.advanceFrame()) {
        display_.applied(applied, sim_.model(), next_number_ > 1);
    }
    for (auto& c : clients_) {
        if (c->opened && !c->closing) {
            serveRequests(*c);
        }
    }
}

void Server::serveRequests(Client& c) {
    const std::uint64_t frames_per_second =
        std::max<std::uint64_t>(1, (1000 + options_.frame_ms / 2) / options_.frame_ms);
    for (auto it = c.requests.begin(); it != c.requests.end();) {
        Request& r = it->second;
        const auto define = c.defines.find(r.define_id);
        bool due = true;
        if (r.period != kPeriodOnce) {
            if (r.period == kPeriodSecond && (sim_.frame() - r.start_frame) % frames_per_second != 0) {
                ++it;
                continue;
            }
            ++r.periods;
            due = r.periods > r.origin && (r.periods - r.origin - 1) % (std::uint64_t{r.interval} + 1) == 0;
        }
        std::size_t bytes = 0;
        if (due && define != c.defines.end()) {
            bytes = buildDataBlock(sim_.model(), define->second, block_);
            const std::span<const std::uint8_t> data(block_.data(), bytes);
            if ((r.flags & kFlagChanged) && r.sent > 0 && std::ranges::equal(data, r.last)) {
                due = false;
            } else {
                if (r.flags & kFlagChanged) {
                    r.last.assign(data.begin(), data.end());
                }
                scproto::RecvSimObjectData rec;
                rec.request_id = it->first;
                rec.object_id = kUserObjectId;
                rec.define_id = r.define_id;
                rec.flags = r.flags;
                rec.entry_number = 1;
                rec.out_of = 1;
                rec.define_count = static_cast<std::uint32_t>(define->second.size());
                rec.data = data;
                const auto n = scproto::encode(scratch_, kServerVersion, rec);
                queue(c, std::span(scratch_).first(n));
                ++r.sent;
            }
        }
        if (c.closing) {
            return;
        }
        const bool finished = (r.period == kPeriodOnce && due) || (r.limit != 0 && r.sent >= r.limit);
        it = finished ? c.requests.erase(it) : std::next(it);
    }
}

void Server::closeClient(Client& c) {
    c.closing = true;
}

void Server::dropClosed() {
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& c = **it;
        if (!c.closing) {
            ++it;
            continue;
        }
        ::close(c.fd);
        accept_resume_ns_ = 0;  // a descriptor is free again
        if (c.number > 0) {
            JsonLine line = traceLine(c);
            line.string("call", "Disconnect");
            writeTrace(line, monotonicNs());
            if (!options_.quiet && !display_.live()) {
                std::fprintf(stderr, "sim-emulator: client %d disconnected\n", c.number);
            }
            if (c.number == 1) {
                first_gone_ = true;
            }
            // Its waiting events go with it, except when its leaving ends
            // an --once run: the final state counts every event received.
            if (!(options_.once && c.number == 1)) {
                sim_.forget(c.number);
            }
        }
        it = clients_.erase(it);
    }
    if (clients_.size() < kMaxClients) {
        refusing_clients_ = false;
    }
}

void Server::shutdown() {
    std::uint8_t quit[scproto::kRecvQuitSize];
    const auto n = scproto::encode(quit, kServerVersion, scproto::RecvQuit{});
    for (auto& c : clients_) {
        if (!c->closing) {
            queue(*c, std::span(quit, n));
        }
    }
    // Give slow readers a moment to take the QUIT before the sockets close.
    const std::uint64_t deadline = monotonicNs() + 1000000000u;
    for (auto& c : clients_) {
        while (!c->closing && !c->tx.empty() && monotonicNs() < deadline) {
            pollfd p{c->fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
            flush(*c);
        }
        if (c->fd >= 0) {
            ::shutdown(c->fd, SHUT_WR);
            // Unread input at close() would turn the FIN into a reset, which
            // can destroy the QUIT before the client reads it.
            std::uint8_t sink[4096];
            while (::recv(c->fd, sink, sizeof sink, 0) > 0) {
            }
        }
        c->closing = true;
    }
    dropClosed();
}

}  // namespace simemu
