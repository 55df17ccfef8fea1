#include "test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace {

constexpr int kWaitMs = 5000;

int listenOn(int port, int backlog = 8) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int boundPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

}  // namespace

TestServer::TestServer(int port) : listener_(listenOn(port)) {
    if (listener_ < 0) {
        if (port == 0) {
            throw std::runtime_error("TestServer: cannot listen on 127.0.0.1");
        }
        return;
    }
    port_ = boundPort(listener_);
}

TestServer::~TestServer() {
    if (opener_.joinable()) {
        opener_.join();
    }
    closeClient();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

void TestServer::serveOpen(OnOpen reply, Bytes then, std::chrono::milliseconds delay) {
    opener_ = std::thread([this, reply, then = std::move(then), delay] {
        if (!acceptNow()) {
            return;
        }
        opener_accepted_ = true;
        pending_ = receiveNow(scproto::kOpenPacketSize);
        std::this_thread::sleep_for(delay);
        if (reply == OnOpen::Close) {
            closeClient();
            return;
        }
        Bytes answer = reply == OnOpen::Answer ? record(scproto::kittyHawkOpen()) : Bytes{};
        answer.insert(answer.end(), then.begin(), then.end());
        // One send: what follows the answer arrives with it. A client that
        // has gone by then is for the test to notice, not this thread.
        try {
            send(answer);
        } catch (const std::runtime_error&) {
        }
    });
}

bool TestServer::accept() {
    if (opener_.joinable()) {
        opener_.join();
        return opener_accepted_;
    }
    return acceptNow();
}

bool TestServer::acceptNow() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) != 1) {
        return false;
    }
    client_ = ::accept(listener_, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return client_ >= 0;
}

Bytes TestServer::receive(std::size_t n) {
    Bytes out;
    const std::size_t early = std::min(n, pending_.size());
    out.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(early));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(early));
    const Bytes rest = receiveNow(n - early);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

Bytes TestServer::receiveNow(std::size_t n) {
    Bytes out;
    std::uint8_t buf[4096];
    while (out.size() < n) {
        pollfd p{client_, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1) {
            break;
        }
        const ssize_t got = ::recv(client_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

bool TestServer::clientClosed() {
    pollfd p{client_, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) != 1) {
        return false;
    }
    std::uint8_t byte;
    return ::recv(client_, &byte, 1, 0) == 0;
}

void TestServer::send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("TestServer: send failed");
        }
        done += static_cast<std::size_t>(n);
    }
}

void TestServer::sendByteByByte(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        send(bytes.subspan(i, 1));
        // Let each byte leave as its own segment now and then.
        if (i % 16 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

void TestServer::closeClient() {
    if (client_ >= 0) {
        ::close(client_);
        client_ = -1;
    }
}

int unusedPort() {
    const int fd = listenOn(0);
    const int port = boundPort(fd);
    ::close(fd);
    return port;
}

FullListener::FullListener() : listener_(listenOn(0, 0)) {
    if (listener_ < 0) {
        throw std::runtime_error("FullListener: cannot listen on 127.0.0.1");
    }
    port_ = boundPort(listener_);
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port_));
    if (::connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(filler_);
        filler_ = -1;
    }
}

FullListener::~FullListener() {
    if (filler_ >= 0) {
        ::close(filler_);
    }
    ::close(listener_);
}

namespace {

extern "C" void ignoreSignal(int) {}

}  // namespace

SignalStorm::SignalStorm(std::chrono::milliseconds every, std::chrono::milliseconds lasting)
    : target_(::pthread_self()) {
    struct sigaction action {};
    action.sa_handler = ignoreSignal;
    action.sa_flags = 0;  // no SA_RESTART
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    sender_ = std::thread([this, every, lasting] {
        const auto end = std::chrono::steady_clock::now() + lasting;
        while (!stop_.load() && std::chrono::steady_clock::now() + every < end) {
            std::this_thread::sleep_for(every);
            ::pthread_kill(target_, SIGALRM);
            ++delivered_;
        }
    });
}

SignalStorm::~SignalStorm() {
    stop_ = true;
    sender_.join();
    // The handler stays: a signal still on its way must not end the tests.
}

Bytes concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

namespace {

template <typename R>
Bytes encoded(const R& r) {
    Bytes out(scproto::kMaxPacketSize);
    out.resize(scproto::encode(out, 5, r));
    return out;
}

}  // namespace

Bytes record(const scproto::RecvOpen& r) { return encoded(r); }
Bytes record(const scproto::RecvException& r) { return encoded(r); }
Bytes record(const scproto::RecvEvent& r) { return encoded(r); }
Bytes record(const scproto::RecvQuit& r) { return encoded(r); }

Bytes dataRecord(std::uint32_t request_id, std::uint32_t define_count, std::size_t data_bytes, std::uint8_t fill) {
    const Bytes data(data_bytes, fill);
    scproto::RecvSimObjectData r;
    r.request_id = request_id;
    r.object_id = 1;
    r.define_id = request_id;
    r.define_count = define_count;
    r.data = data;
    return encoded(r);
}
