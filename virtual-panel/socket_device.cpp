#include "socket_device.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vpanel {

namespace {

// More programs than this holding the panel at once is a fault of theirs.
constexpr std::size_t kMaxClients = 16;

std::runtime_error systemError(const std::string& what, const std::string& argument) {
    return std::runtime_error(what + "(" + argument + "): " + std::strerror(errno));
}

void reply(int fd, const std::uint8_t* data, std::size_t length) {
    // A client that vanished mid-request is noticed on its next poll.
    (void)::send(fd, data, length, MSG_NOSIGNAL);
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
    listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw systemError("socket", path_);
    }
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        const auto error = systemError("bind", path_);
        ::close(listenFd_);
        throw error;
    }
    clients_.reserve(kMaxClients);
}

SocketDevice::~SocketDevice() {
    closeClients();
    ::close(listenFd_);
    ::unlink(path_.c_str());
}

InputResult SocketDevice::sendInput(std::span<const std::uint8_t> report) {
    if (!plugged_) {
        return InputResult::DroppedUnplugged;
    }
    return queue_.push(report) ? InputResult::Queued : InputResult::DroppedFull;
}

void SocketDevice::unplug() {
    plugged_ = false;
    queue_.clear();
    closeClients();
}

void SocketDevice::plug() { plugged_ = true; }

void SocketDevice::closeClients() {
    for (int fd : clients_) {
        ::close(fd);
    }
    clients_.clear();
}

void SocketDevice::addPollFds(std::vector<pollfd>& fds) {
    fds.push_back({listenFd_, POLLIN, 0});
    for (int fd : clients_) {
        fds.push_back({fd, POLLIN, 0});
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
        // An earlier request in this pass may have unplugged and closed it.
        const auto it = std::find(clients_.begin(), clients_.end(), p.fd);
        if (it == clients_.end()) {
            continue;
        }
        if (!serveClient(p.fd)) {
            ::close(p.fd);
            clients_.erase(it);
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
        // While unplugged, or when too many are open, the connection is
        // refused by closing it: the client's hello then reads end-of-file.
        if (clients_.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        clients_.push_back(fd);
    }
}

bool SocketDevice::serveClient(int fd) {
    const ssize_t n = ::recv(fd, packet_.data(), packet_.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0 || static_cast<std::size_t>(n) > wire::kMaxPacket) {
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
    if (kind == wire::kHello && length == 2 && packet_[1] == wire::kWireVersion) {
        reply(fd, wire::kOk);
        listener_.deviceOpened();
        return true;
    }
    if (kind == wire::kRead && length == 1) {
        std::array<std::uint8_t, 1 + wire::kMaxInputReport> out{};
        const std::size_t got = queue_.pop(std::span<std::uint8_t, wire::kMaxInputReport>(out.data() + 1,
                                                                                           wire::kMaxInputReport));
        if (got == 0) {
            reply(fd, wire::kNone);
        } else {
            out[0] = wire::kReport;
            reply(fd, out.data(), 1 + got);
        }
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
