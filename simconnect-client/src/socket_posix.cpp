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

// poll() in slices, checking for cancellation before each one; a signal
// (EINTR) only starts the next slice early. Ok when ready; TimedOut,
// Cancelled, or Failed with errno set.
IoStatus waitFor(int fd, short events, const Patience& patience) {
    pollfd p{fd, events, 0};
    for (;;) {
        int slice_ms = 0;
        if (const IoStatus end = nextSlice(patience, slice_ms); end != IoStatus::Ok) {
            return end;
        }
        const int r = ::poll(&p, 1, slice_ms);
        if (r > 0) {
            return IoStatus::Ok;
        }
        if (r < 0 && errno != EINTR) {
            return IoStatus::Failed;
        }
    }
}

// Keepalive and the limit on unacknowledged data (see socket.h). Best
// effort: a system without one of these options keeps the others.
void watchForVanishedPeer(int fd) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#if defined(TCP_KEEPIDLE)
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof kKeepAliveIdleS);
#endif
#if defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS, sizeof kKeepAliveIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
#endif
#if defined(TCP_USER_TIMEOUT)
    const unsigned int limit_ms = kUnacknowledgedLimitMs;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &limit_ms, sizeof limit_ms);
#endif
}

// What a failed send or receive says: the errors of a peer that stopped
// answering (the limits above ran out, or the network says it is
// unreachable) name that first.
void failure(Reason& why, const char* what, int err) {
    if (err == ETIMEDOUT || err == EHOSTUNREACH || err == ENETUNREACH || err == EHOSTDOWN) {
        std::snprintf(why.text, sizeof why.text, "the simulator's computer stopped answering (%s: %s)", what,
                      std::strerror(err));
    } else {
        std::snprintf(why.text, sizeof why.text, "%s: %s", what, std::strerror(err));
    }
}

IoStatus connectOne(const addrinfo& ai, const Patience& patience, int& out, Reason& why, const char* peer) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        std::snprintf(why.text, sizeof why.text, "socket(%s): %s", peer, std::strerror(errno));
        return IoStatus::Failed;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    int err = 0;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            const IoStatus waited = waitFor(fd, POLLOUT, patience);
            if (waited == IoStatus::Cancelled) {
                std::snprintf(why.text, sizeof why.text, "connect(%s): cancelled", peer);
                ::close(fd);
                return IoStatus::Cancelled;
            }
            if (waited == IoStatus::TimedOut) {
                err = ETIMEDOUT;
            } else if (waited == IoStatus::Failed) {
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
        return IoStatus::Failed;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    watchForVanishedPeer(fd);
    out = fd;
    return IoStatus::Ok;
}

}  // namespace

IoStatus connectTcp(const char* host, const char* port, int lookup_ms, int connect_ms, int (*cancelled)(void),
                    SocketHandle& out, char (&peer)[128], Reason& why) {
    out = kNoSocket;
    std::snprintf(peer, sizeof peer, "%s:%s", host, port);
    addrinfo* found = nullptr;
    int code = 0;
    switch (lookUp(host, port, patienceFor(lookup_ms, cancelled), found, code)) {
    case IoStatus::Ok: break;
    case IoStatus::Cancelled:
        std::snprintf(why.text, sizeof why.text, "getaddrinfo(%s): cancelled", peer);
        return IoStatus::Cancelled;
    case IoStatus::TimedOut:
        std::snprintf(why.text, sizeof why.text, "getaddrinfo(%s): no answer within %d s", peer, lookup_ms / 1000);
        return IoStatus::Failed;
    default:
        std::snprintf(why.text, sizeof why.text, "getaddrinfo(%s): %s", peer, ::gai_strerror(code));
        return IoStatus::Failed;
    }
    const Patience patience = patienceFor(connect_ms, cancelled);
    IoStatus status = IoStatus::Failed;
    for (const addrinfo* ai = found; ai && status == IoStatus::Failed; ai = ai->ai_next) {
        char ip[INET_ADDRSTRLEN] = "?";
        const auto* in = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        ::inet_ntop(AF_INET, &in->sin_addr, ip, sizeof ip);
        std::snprintf(peer, sizeof peer, "%s:%u", ip, static_cast<unsigned>(ntohs(in->sin_port)));
        int fd = -1;
        status = connectOne(*ai, patience, fd, why, peer);
        if (status == IoStatus::Ok) {
            out = fd;
        }
    }
    ::freeaddrinfo(found);
    return status;
}

IoStatus sendAll(SocketHandle s, std::span<const std::uint8_t> bytes, const Patience& patience, Reason& why) {
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
            const IoStatus waited = waitFor(fd, POLLOUT, patience);
            if (waited == IoStatus::Ok) {
                continue;
            }
            std::snprintf(why.text, sizeof why.text, "send: %s",
                          waited == IoStatus::TimedOut    ? "the simulator stopped reading"
                          : waited == IoStatus::Cancelled ? "cancelled"
                                                          : std::strerror(errno));
            return waited == IoStatus::Cancelled ? IoStatus::Cancelled : IoStatus::Failed;
        }
        const int err = n < 0 ? errno : EPIPE;
        failure(why, "send", err);
        return err == EPIPE || err == ECONNRESET ? IoStatus::Closed : IoStatus::Failed;
    }
    return IoStatus::Ok;
}

IoStatus waitReadable(SocketHandle s, const Patience& patience, Reason& why) {
    const IoStatus waited = waitFor(static_cast<int>(s), POLLIN, patience);
    if (waited == IoStatus::Failed) {
        std::snprintf(why.text, sizeof why.text, "poll: %s", std::strerror(errno));
    }
    return waited;
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
        failure(why, "recv", errno);
        return IoStatus::Failed;
    }
}

void closeSocket(SocketHandle s) {
    if (s != kNoSocket) {
        ::close(static_cast<int>(s));
    }
}

}  // namespace scnet
