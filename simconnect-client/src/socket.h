// The only place that touches the socket API, so that a Winsock port is a
// second implementation of this header and nothing else changes.
//
// Failure reasons go into a caller's fixed buffer ("what(argument): reason")
// so that the steady-state send and receive paths never allocate.
#ifndef SIMCONNECT_NET_SOCKET_H
#define SIMCONNECT_NET_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace scnet {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct Reason {
    char text[256] = "";
};

// Resolves `host` (name or dotted IPv4) and connects over TCP/IPv4 with
// TCP_NODELAY, giving up after timeout_ms. The socket is left non-blocking.
// `peer` receives "address:port" of the last address tried.
SocketHandle connectTcp(const char* host, const char* port, int timeout_ms, char (&peer)[128], Reason& why);

enum class IoStatus { Ok, WouldBlock, Closed, Failed };

// Sends all of `bytes` or fails: a partly sent packet would corrupt the
// stream, so a peer that stops reading for timeout_ms counts as lost.
IoStatus sendAll(SocketHandle s, std::span<const std::uint8_t> bytes, int timeout_ms, Reason& why);

// One non-blocking read into `into`; `got` is set when the result is Ok.
IoStatus receiveSome(SocketHandle s, std::span<std::uint8_t> into, std::size_t& got, Reason& why);

void closeSocket(SocketHandle s);

}  // namespace scnet

#endif
