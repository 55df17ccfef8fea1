#include "server.h"

#include "mobiflight/module.h"
#include "module_host.h"

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

// MSFS's MaxClients default in SimConnect.xml.
constexpr std::size_t kMaxClients = 64;
// A client that reads nothing while data streams to it is dropped rather
// than buffered without end.
constexpr std::size_t kMaxPending = 8u << 20;
constexpr int kRedrawMs = 200;
// How long the listener rests after accept failed for want of descriptors
// or memory, unless a client leaves first.
constexpr std::uint64_t kAcceptRetryNs = 250'000'000;

}  // namespace

std::uint64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

Server::Server(const Options& options, Simulator& sim, Display& display, Output* trace)
    : options_(options),
      sim_(sim),
      display_(display),
      trace_(trace),
      inbox_(scproto::kMaxPacketSize),
      scratch_(scproto::kMaxPacketSize),
      block_(scproto::kMaxPacketSize),
      version_(options.sim == 2024 ? scproto::kProtocolSunRise : scproto::kProtocolKittyHawk) {
    startModule();
}

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

void Server::run(int stop_fd, int aircraft_fd) {
    const std::uint64_t period = static_cast<std::uint64_t>(options_.frame_ms) * 1000000u;
    std::uint64_t next_frame = monotonicNs() + period;
    std::uint64_t next_redraw = 0;
    std::vector<pollfd> fds;
    while (!(options_.once && first_gone_)) {
        fds.clear();
        fds.push_back({stop_fd, POLLIN, 0});
        // poll() skips a negative descriptor: the listener while it rests.
        fds.push_back({monotonicNs() >= accept_resume_ns_ ? listen_fd_ : -1, POLLIN, 0});
        fds.push_back({aircraft_fd, POLLIN, 0});
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
            if (fds[2].revents & POLLIN) {
                char signals[64];
                const ssize_t got = ::read(aircraft_fd, signals, sizeof signals);
                for (ssize_t k = 0; k < got; ++k) {
                    loadNextAircraft();
                }
            }
            // New clients were appended after the polled ones.
            constexpr std::size_t kFirstClient = 3;
            for (std::size_t i = kFirstClient; i < fds.size(); ++i) {
                Client& c = *clients_[i - kFirstClient];
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

bool Server::listenerReadable() const {
    pollfd p{.fd = listen_fd_, .events = POLLIN, .revents = 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

void Server::acceptClients() {
    for (std::size_t n = 0; n < kMaxClients; ++n) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            // Every waiting connection taken: the episode is over. (A
            // success alone is not: each client that leaves frees one
            // descriptor, taken by the next connection in the queue.) With
            // the last descriptor just taken, accept says EMFILE even though
            // the queue is empty; only the listener's readiness tells.
            if (error == EAGAIN || error == EWOULDBLOCK || !listenerReadable()) {
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
        c.partial.erase(c.partial.begin(), c.partial.end() - static_cast<std::ptrdiff_t>(left - received.size()));
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

void Server::say(const std::string& text) {
    if (display_.live()) {
        display_.note(text);
    } else {
        std::fprintf(stderr, "sim-emulator: %s\n", text.c_str());
    }
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

void Server::closeClient(Client& c) { c.closing = true; }

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
            forgetClientData(c);
        }
        it = clients_.erase(it);
    }
    if (clients_.size() < kMaxClients) {
        refusing_clients_ = false;
    }
}

void Server::shutdown() {
    std::uint8_t quit[scproto::kRecvQuitSize];
    const auto n = scproto::encode(quit, version_, scproto::RecvQuit{});
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
