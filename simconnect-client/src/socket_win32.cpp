// Winsock implementation of socket.h. Same behaviour as the POSIX one:
// IPv4 only, TCP_NODELAY, non-blocking after connect, bounded waits.
#include "socket.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// winsock2.h must come before anything that pulls in windows.h, whose
// default would be the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>

// Options of Windows' TCP that older mingw-w64 headers lack, with the
// values of Microsoft's ws2ipdef.h.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif

namespace scnet {
namespace {

// WSAStartup once per process, before the first socket call; the matching
// WSACleanup runs at exit.
struct Winsock {
    int status = WSANOTINITIALISED;
    Winsock() {
        WSADATA data;
        status = ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() {
        if (status == 0) {
            ::WSACleanup();
        }
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
};

int startWinsock() {
    static const Winsock winsock;
    return winsock.status;
}

// The system's text for a Winsock or Win32 error code, without the trailing
// full stop and line break that FormatMessage appends.
void describe(int code, char (&out)[160]) {
    const DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                         MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), out, sizeof out, nullptr);
    std::size_t len = n;
    while (len > 0 && (out[len - 1] == '\r' || out[len - 1] == '\n' || out[len - 1] == '.' || out[len - 1] == ' ')) {
        --len;
    }
    if (len == 0) {
        std::snprintf(out, sizeof out, "Winsock error %d", code);
        return;
    }
    out[len] = '\0';
}

void fail(Reason& why, const char* what, const char* argument, int code) {
    char text[160];
    describe(code, text);
    if (argument) {
        std::snprintf(why.text, sizeof why.text, "%s(%s): %s", what, argument, text);
    } else {
        std::snprintf(why.text, sizeof why.text, "%s: %s", what, text);
    }
}

// select() for one socket, in slices, checking for cancellation before each
// one: Windows' console handler sets the program's flag from another thread
// and does not interrupt select. Ok when ready, with `failed` set when the
// socket landed in the except set (where a failed non-blocking connect is
// reported); TimedOut, Cancelled, or Failed with WSAGetLastError() set.
IoStatus waitFor(SOCKET s, bool forWrite, const Patience& patience, bool& failed) {
    failed = false;
    for (;;) {
        int slice_ms = 0;
        if (const IoStatus end = nextSlice(patience, slice_ms); end != IoStatus::Ok) {
            return end;
        }
        // A Winsock fd_set is a count and an array of sockets; filled
        // directly, as the FD_SET macro's do-while(0) draws a
        // constant-condition warning from some MSVC versions. select()
        // rewrites the sets, so they are filled again for every slice.
        fd_set ready{};
        ready.fd_count = 1;
        ready.fd_array[0] = s;
        fd_set broken = ready;
        timeval limit{0, static_cast<long>(slice_ms) * 1000};
        // The first argument is ignored by Winsock.
        const int r =
            forWrite ? ::select(0, nullptr, &ready, &broken, &limit) : ::select(0, &ready, nullptr, &broken, &limit);
        if (r > 0) {
            failed = FD_ISSET(s, &broken) != 0;
            return IoStatus::Ok;
        }
        if (r == SOCKET_ERROR && ::WSAGetLastError() != WSAEINTR) {
            return IoStatus::Failed;
        }
    }
}

// Keepalive and the limit on unacknowledged data (see socket.h), best
// effort. Windows takes a probe count from Windows 10 1703 on; before, it
// sends ten, so the probes then come every second to end in about 15 s.
// TCP_MAXRT bounds retransmissions in whole seconds.
void watchForVanishedPeer(SOCKET s) {
    auto keepAlive = [s](ULONG interval_ms) {
        tcp_keepalive values{};
        values.onoff = 1;
        values.keepalivetime = kKeepAliveIdleS * 1000;
        values.keepaliveinterval = interval_ms;
        DWORD returned = 0;
        ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
    };
    keepAlive(kKeepAliveIntervalS * 1000);
    const DWORD probes = kKeepAliveProbes;
    if (::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&probes), sizeof probes) != 0) {
        keepAlive(1000);
    }
    const DWORD limit_s = kUnacknowledgedLimitMs / 1000;
    ::setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&limit_s), sizeof limit_s);
}

// fail() for a send or receive: the errors of a peer that stopped answering
// (keepalive or retransmissions ran out, or the network says it is
// unreachable) name that first.
void failTalking(Reason& why, const char* what, int code) {
    if (code == WSAETIMEDOUT || code == WSAENETRESET || code == WSAECONNABORTED || code == WSAEHOSTUNREACH ||
        code == WSAENETUNREACH || code == WSAEHOSTDOWN) {
        char text[160];
        describe(code, text);
        std::snprintf(why.text, sizeof why.text, "the simulator's computer stopped answering (%s: %s)", what, text);
        return;
    }
    fail(why, what, nullptr, code);
}

IoStatus connectOne(const addrinfo& ai, const Patience& patience, SOCKET& out, Reason& why, const char* peer) {
    const SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
    if (s == INVALID_SOCKET) {
        fail(why, "socket", peer, ::WSAGetLastError());
        return IoStatus::Failed;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        fail(why, "ioctlsocket", peer, ::WSAGetLastError());
        ::closesocket(s);
        return IoStatus::Failed;
    }
    int err = 0;
    if (::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
        err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            bool failed = false;
            const IoStatus waited = waitFor(s, true, patience, failed);
            if (waited == IoStatus::Cancelled) {
                std::snprintf(why.text, sizeof why.text, "connect(%s): cancelled", peer);
                ::closesocket(s);
                return IoStatus::Cancelled;
            }
            if (waited == IoStatus::TimedOut) {
                err = WSAETIMEDOUT;
            } else if (waited == IoStatus::Failed) {
                err = ::WSAGetLastError();
            } else {
                int len = sizeof err;
                err = 0;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
                if (failed && err == 0) {
                    err = WSAECONNREFUSED;
                }
            }
        }
    }
    if (err != 0) {
        fail(why, "connect", peer, err);
        ::closesocket(s);
        return IoStatus::Failed;
    }
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    watchForVanishedPeer(s);
    out = s;
    return IoStatus::Ok;
}

SOCKET native(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

IoStatus connectTcp(const char* host, const char* port, int lookup_ms, int connect_ms, int (*cancelled)(void),
                    SocketHandle& out, char (&peer)[128], Reason& why) {
    out = kNoSocket;
    std::snprintf(peer, sizeof peer, "%s:%s", host, port);
    if (const int r = startWinsock(); r != 0) {
        fail(why, "WSAStartup", nullptr, r);
        return IoStatus::Failed;
    }
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
    default: fail(why, "getaddrinfo", peer, code); return IoStatus::Failed;
    }
    const Patience patience = patienceFor(connect_ms, cancelled);
    IoStatus status = IoStatus::Failed;
    for (const addrinfo* ai = found; ai && status == IoStatus::Failed; ai = ai->ai_next) {
        char ip[INET_ADDRSTRLEN] = "?";
        auto* in = reinterpret_cast<sockaddr_in*>(ai->ai_addr);
        ::inet_ntop(AF_INET, &in->sin_addr, ip, sizeof ip);
        std::snprintf(peer, sizeof peer, "%s:%u", ip, static_cast<unsigned>(ntohs(in->sin_port)));
        SOCKET s = INVALID_SOCKET;
        status = connectOne(*ai, patience, s, why, peer);
        if (status == IoStatus::Ok) {
            out = static_cast<SocketHandle>(s);
        }
    }
    ::freeaddrinfo(found);
    return status;
}

IoStatus sendAll(SocketHandle handle, std::span<const std::uint8_t> bytes, const Patience& patience, Reason& why) {
    const SOCKET s = native(handle);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const int chunk = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        const int n = ::send(s, reinterpret_cast<const char*>(bytes.data() + done), chunk, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int err = n == 0 ? WSAECONNRESET : ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            bool failed = false;
            const IoStatus waited = waitFor(s, true, patience, failed);
            if (waited == IoStatus::Ok && !failed) {
                continue;
            }
            if (waited == IoStatus::TimedOut) {
                std::snprintf(why.text, sizeof why.text, "send: the simulator stopped reading");
            } else if (waited == IoStatus::Cancelled) {
                std::snprintf(why.text, sizeof why.text, "send: cancelled");
                return IoStatus::Cancelled;
            } else {
                failTalking(why, "send", waited == IoStatus::Failed ? ::WSAGetLastError() : WSAECONNRESET);
            }
            return IoStatus::Failed;
        }
        failTalking(why, "send", err);
        return err == WSAECONNRESET || err == WSAECONNABORTED || err == WSAESHUTDOWN ? IoStatus::Closed
                                                                                     : IoStatus::Failed;
    }
    return IoStatus::Ok;
}

IoStatus waitReadable(SocketHandle handle, const Patience& patience, Reason& why) {
    bool failed = false;
    const IoStatus waited = waitFor(native(handle), false, patience, failed);
    if (waited == IoStatus::Failed) {
        fail(why, "select", nullptr, ::WSAGetLastError());
    }
    return waited;
}

IoStatus receiveSome(SocketHandle handle, std::span<std::uint8_t> into, std::size_t& got, Reason& why) {
    const int room = into.size() > INT_MAX ? INT_MAX : static_cast<int>(into.size());
    // The socket is non-blocking since connectTcp, so this never waits.
    const int n = ::recv(native(handle), reinterpret_cast<char*>(into.data()), room, 0);
    if (n > 0) {
        got = static_cast<std::size_t>(n);
        return IoStatus::Ok;
    }
    if (n == 0) {
        std::snprintf(why.text, sizeof why.text, "closed by the simulator");
        return IoStatus::Closed;
    }
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
        return IoStatus::WouldBlock;
    }
    failTalking(why, "recv", err);
    return IoStatus::Failed;
}

void closeSocket(SocketHandle s) {
    if (s != kNoSocket) {
        ::closesocket(native(s));
    }
}

}  // namespace scnet
