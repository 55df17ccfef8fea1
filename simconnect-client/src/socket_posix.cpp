#include "socket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace scnet {
namespace {

// poll() that resumes after signals with the time that is left.
int waitFor(int fd, short events, int timeout_ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeout_ms);
        if (r >= 0 || errno != EINTR) {
            return r;
        }
    }
}

int connectOne(const addrinfo& ai, int timeout_ms, Reason& why, const char* peer) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        std::snprintf(why.text, sizeof why.text, "socket(%s): %s", peer, std::strerror(errno));
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    int err = 0;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            const int r = waitFor(fd, POLLOUT, timeout_ms);
            if (r == 0) {
                err = ETIMEDOUT;
            } else if (r < 0) {
                err = errno;
            } else {
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
        }
    }
    if (err != 0) {
        std::snprintf(why.text, sizeof why.text, "connect(%s): %s", peer, std::strerror(err));
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

SocketHandle connectTcp(const char* host, const char* port, int timeout_ms, char (&peer)[128], Reason& why) {
    std::snprintf(peer, sizeof peer, "%s:%s", host, port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int r = ::getaddrinfo(host, port, &hints, &found); r != 0) {
        std::snprintf(why.text, sizeof why.text, "getaddrinfo(%s): %s", peer, ::gai_strerror(r));
        return kNoSocket;
    }
    int fd = -1;
    for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
        char ip[INET_ADDRSTRLEN] = "?";
        const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        ::inet_ntop(AF_INET, &in->sin_addr, ip, sizeof ip);
        std::snprintf(peer, sizeof peer, "%s:%u", ip, static_cast<unsigned>(ntohs(in->sin_port)));
        fd = connectOne(*ai, timeout_ms, why, peer);
    }
    ::freeaddrinfo(found);
    return fd < 0 ? kNoSocket : fd;
}

IoStatus sendAll(SocketHandle s, std::span<const std::uint8_t> bytes, int timeout_ms, Reason& why) {
    const int fd = static_cast<int>(s);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int r = waitFor(fd, POLLOUT, timeout_ms);
            if (r > 0) {
                continue;
            }
            std::snprintf(why.text, sizeof why.text, "send: %s",
                          r == 0 ? "the simulator stopped reading" : std::strerror(errno));
            return IoStatus::Failed;
        }
        const int err = n < 0 ? errno : EPIPE;
        std::snprintf(why.text, sizeof why.text, "send: %s", std::strerror(err));
        return err == EPIPE || err == ECONNRESET ? IoStatus::Closed : IoStatus::Failed;
    }
    return IoStatus::Ok;
}

IoStatus receiveSome(SocketHandle s, std::span<std::uint8_t> into, std::size_t& got, Reason& why) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(s), into.data(), into.size(), MSG_DONTWAIT);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return IoStatus::Ok;
        }
        if (n == 0) {
            std::snprintf(why.text, sizeof why.text, "closed by the simulator");
            return IoStatus::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return IoStatus::WouldBlock;
        }
        std::snprintf(why.text, sizeof why.text, "recv: %s", std::strerror(errno));
        return IoStatus::Failed;
    }
}

void closeSocket(SocketHandle s) {
    if (s != kNoSocket) {
        ::close(static_cast<int>(s));
    }
}

}  // namespace scnet
