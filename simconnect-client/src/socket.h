// The only place that touches the socket API, so that a Winsock port is a
// second implementation of this header and nothing else changes.
//
// Failure reasons go into a caller's fixed buffer ("what(argument): reason")
// so that the steady-state send and receive paths never allocate.
#ifndef SIMCONNECT_NET_SOCKET_H
#define SIMCONNECT_NET_SOCKET_H

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

struct addrinfo;

namespace scnet {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct Reason {
    char text[256] = "";
};

enum class IoStatus { Ok, WouldBlock, Closed, Failed, TimedOut, Cancelled };

// How long a wait may last: until `deadline`, or until `cancelled` (when
// set) returns non-zero. Waits block in slices of at most kCancelSliceMs and
// call `cancelled` before each, so also at once after a signal cut one
// short; a signal never moves the deadline.
inline constexpr int kCancelSliceMs = 100;

struct Patience {
    std::chrono::steady_clock::time_point deadline;
    int (*cancelled)(void) = nullptr;
};

inline Patience patienceFor(int timeout_ms, int (*cancelled)(void) = nullptr) {
    return {std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms), cancelled};
}

// Before each slice of a wait: Ok with the slice's length in slice_ms, or
// why the wait is over (TimedOut, Cancelled).
inline IoStatus nextSlice(const Patience& patience, int& slice_ms) {
    if (patience.cancelled && patience.cancelled() != 0) {
        return IoStatus::Cancelled;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(patience.deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return IoStatus::TimedOut;
    }
    slice_ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), kCancelSliceMs));
    return IoStatus::Ok;
}

// A simulator's computer that drops off the network (power cut, cable,
// Wi-Fi) closes nothing: without these the connection would look alive for
// as long as nothing is sent, and for about 15 minutes of retransmissions
// when something is. Keepalive probes start after kKeepAliveIdleS without a
// word from the peer, one every kKeepAliveIntervalS, and kKeepAliveProbes
// unanswered ones end the connection (about 11 s in all); data sent and not
// acknowledged for kUnacknowledgedLimitMs ends it too. A simulator that is
// only frozen still has its kernel answer both, and stays connected.
inline constexpr int kKeepAliveIdleS = 5;
inline constexpr int kKeepAliveIntervalS = 2;
inline constexpr int kKeepAliveProbes = 3;
inline constexpr int kUnacknowledgedLimitMs = 10000;

// Looks `host` (name or dotted IPv4) up for TCP over IPv4 to `port`. A name
// is looked up on a helper thread, so that the wait ends at the patience's
// deadline (TimedOut) or when it is cancelled (Cancelled) even while a name
// server does not answer; a lookup given up on is taken over by the next
// call for the same name. Ok with `found` set (for freeaddrinfo), or Failed
// with getaddrinfo's error in `code`. In resolve.cpp, for both socket APIs;
// on Windows, Winsock must be started.
IoStatus lookUp(const char* host, const char* port, const Patience& patience, addrinfo*& found, int& code);

// Resolves `host` (name or dotted IPv4), waiting at most `lookup_ms` for it,
// and connects over TCP/IPv4 with TCP_NODELAY and the dead-peer limits above
// into `out`, trying each address it resolves to until one answers or
// `connect_ms` have passed. `cancelled` may end both waits (as in Patience).
// The socket is left non-blocking. `peer` receives "address:port" of the
// last address tried. Returns Ok, Cancelled or Failed (a timeout included),
// with `why` set unless Ok.
IoStatus connectTcp(const char* host, const char* port, int lookup_ms, int connect_ms, int (*cancelled)(void),
                    SocketHandle& out, char (&peer)[128], Reason& why);

// Sends all of `bytes` or fails: a partly sent packet would corrupt the
// stream, so a peer that stops reading until the deadline counts as lost.
// Returns Ok, Closed, Failed or Cancelled.
IoStatus sendAll(SocketHandle s, std::span<const std::uint8_t> bytes, const Patience& patience, Reason& why);

// Waits until `s` has something to read (bytes, or its end). Returns Ok,
// TimedOut, Cancelled or Failed.
IoStatus waitReadable(SocketHandle s, const Patience& patience, Reason& why);

// One non-blocking read into `into`; `got` is set when the result is Ok.
IoStatus receiveSome(SocketHandle s, std::span<std::uint8_t> into, std::size_t& got, Reason& why);

void closeSocket(SocketHandle s);

}  // namespace scnet

#endif
