#include "socket_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

namespace vpanel {

namespace {

// More connections than this at once is a fault of the programs holding
// them (each open device holds two).
constexpr std::size_t kMaxClients = 32;

std::runtime_error systemError(const std::string& what, const std::string& argument) {
    return std::runtime_error(what + "(" + argument + "): " + std::strerror(errno));
}

// A client that vanished mid-request is noticed on its next poll.
bool reply(int fd, const std::uint8_t* data, std::size_t length) {
    return ::send(fd, data, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

void reply(int fd, std::uint8_t code) { reply(fd, &code, 1); }

}  // namespace

SocketDevice::SocketDevice(std::string path, DeviceListener& listener)
    : path_(std::move(path)), listener_(listener), packet_(wire::kMaxPacket + 1) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        throw systemError("bind", path_);
    }
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        throw systemError("timerfd_create", path_);
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        const auto error = systemError("socket", path_);
        ::close(timerFd_);
        throw error;
    }
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
        const auto error = systemError("bind", path_);
        ::close(listenFd_);
        ::close(timerFd_);
        throw error;
    }
    clients_.reserve(kMaxClients);
}

SocketDevice::~SocketDevice() {
    closeClients();
    ::close(listenFd_);
    ::close(timerFd_);
    ::unlink(path_.c_str());
}

bool SocketDevice::sendReport(int fd, std::span<const std::uint8_t> report) {
    std::array<std::uint8_t, 1 + wire::kMaxInputReport> out{};
    out[0] = wire::kReport;
    std::copy(report.begin(), report.end(), out.begin() + 1);
    return reply(fd, out.data(), 1 + report.size());
}

InputResult SocketDevice::sendInput(std::span<const std::uint8_t> report) {
    if (!plugged_) {
        return InputResult::DroppedUnplugged;
    }
    // A waiting read means an empty queue: the report skips it, and the
    // reader wakes now rather than at its next look.
    bool woken = false;
    while (!report.empty() && report.size() <= wire::kMaxInputReport) {
        const auto oldest = std::min_element(clients_.begin(), clients_.end(), [](const Client& a, const Client& b) {
            return a.waiting != b.waiting ? a.waiting : a.waitOrder < b.waitOrder;
        });
        if (oldest == clients_.end() || !oldest->waiting) {
            break;
        }
        oldest->waiting = false;
        woken = true;
        if (sendReport(oldest->fd, report)) {
            armTimer();
            return InputResult::Queued;
        }
        // Gone meanwhile: closed on its next poll; the next reader, or the
        // queue, gets the report.
    }
    if (woken) {
        armTimer();
    }
    return queue_.push(report) ? InputResult::Queued : InputResult::DroppedFull;
}

void SocketDevice::unplug() {
    plugged_ = false;
    queue_.clear();
    closeClients();
    armTimer();
}

void SocketDevice::plug() { plugged_ = true; }

void SocketDevice::closeClients() {
    for (const Client& client : clients_) {
        ::close(client.fd);
    }
    clients_.clear();
}

void SocketDevice::armTimer() {
    std::optional<Clock::time_point> due;
    for (const Client& client : clients_) {
        if (client.waiting && client.deadline && (!due || *client.deadline < *due)) {
            due = client.deadline;
        }
    }
    itimerspec when{};
    if (due) {
        const auto ns = std::max<std::int64_t>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(*due - Clock::now()).count());
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    ::timerfd_settime(timerFd_, 0, &when, nullptr);
}

void SocketDevice::expireWaits() {
    std::uint64_t expirations = 0;
    (void)!::read(timerFd_, &expirations, sizeof expirations);
    const Clock::time_point now = Clock::now();
    for (Client& client : clients_) {
        if (client.waiting && client.deadline && *client.deadline <= now) {
            client.waiting = false;
            reply(client.fd, wire::kNone);
        }
    }
    armTimer();
}

void SocketDevice::addPollFds(std::vector<pollfd>& fds) {
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({timerFd_, POLLIN, 0});
    for (const Client& client : clients_) {
        fds.push_back({client.fd, POLLIN, 0});
    }
}

void SocketDevice::handlePoll(std::span<const pollfd> fds) {
    // Listener events: connections are taken after the requests of those
    // already connected, so the descriptors in `fds` stay valid meanwhile.
    bool pendingAccept = false;
    for (const pollfd& p : fds) {
        if (p.revents == 0) {
            continue;
        }
        if (p.fd == listenFd_) {
            pendingAccept = true;
            continue;
        }
        if (p.fd == timerFd_) {
            expireWaits();
            continue;
        }
        // An earlier request in this pass may have unplugged and closed it.
        const auto it = std::find_if(clients_.begin(), clients_.end(), [&p](const Client& c) { return c.fd == p.fd; });
        if (it == clients_.end()) {
            continue;
        }
        if (!serveClient(*it)) {
            const bool waited = it->waiting;
            ::close(it->fd);
            clients_.erase(it);
            if (waited) {
                armTimer();
            }
        }
    }
    if (pendingAccept) {
        acceptClient();
    }
}

void SocketDevice::acceptClient() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        // When too many are open, the connection is refused by closing it:
        // the client's hello then reads end-of-file.
        if (clients_.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        clients_.push_back(Client{fd, false, 0, std::nullopt});
    }
}

bool SocketDevice::serveClient(Client& client) {
    const int fd = client.fd;
    const ssize_t n = ::recv(fd, packet_.data(), packet_.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0 || static_cast<std::size_t>(n) > wire::kMaxPacket || client.waiting) {
        return false;
    }
    const std::uint8_t kind = packet_[0];
    const std::size_t length = static_cast<std::size_t>(n);

    if (kind == wire::kQuery && length == 1) {
        reply(fd, plugged_ ? wire::kOk : wire::kGone);
        return true;
    }
    if (!plugged_) {
        return false;
    }
    if ((kind == wire::kHello || kind == wire::kAttach) && length == 2 && packet_[1] == wire::kWireVersion) {
        reply(fd, wire::kOk);
        if (kind == wire::kHello) {
            listener_.deviceOpened();
        }
        return true;
    }
    if ((kind == wire::kRead && length == 1) || (kind == wire::kReadWait && length == wire::kReadWaitPacket)) {
        std::array<std::uint8_t, wire::kMaxInputReport> report{};
        const std::size_t got = queue_.pop(report);
        if (got > 0) {
            sendReport(fd, std::span<const std::uint8_t>(report.data(), got));
            return true;
        }
        std::int32_t ms = 0;
        if (kind == wire::kReadWait) {
            std::uint32_t raw = 0;
            for (int i = 0; i < 4; ++i) {
                raw |= static_cast<std::uint32_t>(packet_[1 + i]) << (8 * i);
            }
            ms = static_cast<std::int32_t>(raw);
        }
        if (ms == 0) {
            reply(fd, wire::kNone);
            return true;
        }
        client.waiting = true;
        client.waitOrder = ++waits_;
        client.deadline.reset();
        if (ms > 0) {
            client.deadline = Clock::now() + std::chrono::milliseconds(ms);
        }
        armTimer();
        return true;
    }
    if (kind == wire::kWrite && length >= 2) {
        const std::span<const std::uint8_t> report(packet_.data() + 1, length - 1);
        if (failWrites_) {
            reply(fd, wire::kRefused);
            listener_.outputRefused(report);
        } else {
            reply(fd, wire::kOk);
            listener_.outputReport(report);
        }
        return true;
    }
    return false;
}

}  // namespace vpanel
