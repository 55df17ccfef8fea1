// Little-endian field access for the codec. Byte by byte, so it neither
// depends on the host's byte order nor on the alignment of the buffer.
#ifndef SIMCONNECT_PROTOCOL_WIRE_H
#define SIMCONNECT_PROTOCOL_WIRE_H

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "simconnect_protocol/protocol.h"

namespace scproto::wire {

inline void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, static_cast<std::uint32_t>(v));
    put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

inline std::uint64_t get64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}

inline void putFloat(std::uint8_t* p, float v) { put32(p, std::bit_cast<std::uint32_t>(v)); }
inline float getFloat(const std::uint8_t* p) { return std::bit_cast<float>(get32(p)); }

// A fixed-size name field: at most size-1 bytes of the name, NUL-padded, so
// the receiver always finds a terminator inside the field.
inline void putName(std::uint8_t* p, std::size_t field, std::string_view name) {
    const std::size_t n = std::min(name.size(), field - 1);
    if (n > 0) {
        std::memcpy(p, name.data(), n);
    }
    std::memset(p + n, 0, field - n);
}

// Up to the first NUL, or the whole field when a peer filled it without one.
inline std::string_view getName(const std::uint8_t* p, std::size_t field) {
    const auto* c = reinterpret_cast<const char*>(p);
    const void* nul = std::memchr(c, 0, field);
    const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - c) : field;
    return std::string_view(c, n);
}

// A message's length field against the smallest (its header) and the
// largest message a peer may send.
inline Error checkLengthField(std::uint32_t size, std::size_t header_size, std::size_t max_size) {
    if (size < header_size) {
        return {ErrorCode::LengthBelowHeader, size};
    }
    if (size > max_size) {
        return {ErrorCode::LengthTooLarge, size};
    }
    return {};
}

// One whole message, as the reassembler cuts it: a length field in range
// that matches the bytes given. `size` receives the length field.
inline Error checkWholeMessage(std::span<const std::uint8_t> message, std::size_t header_size, std::uint32_t& size) {
    if (message.size() < 4) {
        return {ErrorCode::Truncated, static_cast<std::uint32_t>(message.size())};
    }
    size = get32(message.data());
    if (Error e = checkLengthField(size, header_size, kMaxPacketSize)) {
        return e;
    }
    if (message.size() < size) {
        return {ErrorCode::Truncated, static_cast<std::uint32_t>(message.size())};
    }
    if (message.size() != size) {
        return {ErrorCode::LengthMismatch, size};
    }
    return {};
}

}  // namespace scproto::wire

#endif
