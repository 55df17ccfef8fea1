// The contract between libhidapi-virtual.so (inside the program under test)
// and the virtual-panel process.
//
// The program finds the panel through the environment variable
// VIRTUAL_PANEL_SOCKET, the path of a Unix socket of type SOCK_SEQPACKET, so
// every message below is exactly one packet and needs no framing. The client
// sends one request and waits for its one reply; the panel never speaks first.
//
//   request                        reply
//   kHello  kWireVersion           kOk, or the connection is closed: no device
//   kAttach kWireVersion           the same, for a second connection of a
//                                  device already opened (not an open itself)
//   kQuery                         kOk if plugged, kGone if not (no open)
//   kRead                          kReport + report bytes, or kNone
//   kReadWait  + int32 ms, LE      kReport + report bytes as soon as one is
//              (-1: for ever)      queued, or kNone once ms have passed
//   kWrite  + report bytes         kOk once the report was taken, kRefused
//                                  when the script makes writes fail
//
// kHello is the program opening the device; kQuery only asks (enumeration).
// An open device has two connections, one for its reads and one for the
// rest, so that a read waiting in one thread holds up no other thread.
// An unplug closes every connection, so afterwards a request (or a waiting
// read) fails with end-of-file or a reset, and a new kHello is answered by a
// closed connection until the device is plugged again. A request the panel
// does not understand, or one sent before the last was answered, also closes
// the connection.
#ifndef VIRTUAL_PANEL_WIRE_H
#define VIRTUAL_PANEL_WIRE_H

#include <cstddef>
#include <cstdint>

namespace vpanel::wire {

inline constexpr const char* kSocketVariable = "VIRTUAL_PANEL_SOCKET";
inline constexpr std::uint8_t kWireVersion = 2;

inline constexpr std::uint8_t kHello = 'O';
inline constexpr std::uint8_t kQuery = 'Q';
inline constexpr std::uint8_t kAttach = 'A';
inline constexpr std::uint8_t kRead = 'R';
inline constexpr std::uint8_t kReadWait = 'T';
inline constexpr std::uint8_t kWrite = 'W';

inline constexpr std::uint8_t kOk = 'K';
inline constexpr std::uint8_t kGone = 'G';
inline constexpr std::uint8_t kReport = 'D';
inline constexpr std::uint8_t kNone = 'N';
inline constexpr std::uint8_t kRefused = 'F';

// Input reports are at most 64 bytes (a full-speed interrupt packet); output
// reports may be as long as Linux hidraw accepts.
inline constexpr std::size_t kMaxInputReport = 64;
inline constexpr std::size_t kMaxOutputReport = 4096;
inline constexpr std::size_t kMaxPacket = 1 + kMaxOutputReport;
inline constexpr std::size_t kReadWaitPacket = 1 + 4;

}  // namespace vpanel::wire

#endif
