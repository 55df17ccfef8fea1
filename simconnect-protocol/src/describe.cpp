#include "simconnect_protocol/protocol.h"

#include <cstdio>
#include <string>

namespace scproto {
namespace {

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
    return text;
}

}  // namespace

std::string describe(const Error& error) {
    const std::string v = std::to_string(error.value);
    switch (error.code) {
    case ErrorCode::Ok: return "no error";
    case ErrorCode::Truncated: return "truncated: only " + v + " bytes present";
    case ErrorCode::LengthBelowHeader: return "length field " + v + " below the header size";
    case ErrorCode::LengthTooLarge:
        return "length field " + v + " above the " + std::to_string(kMaxPacketSize) + "-byte maximum";
    case ErrorCode::LengthMismatch: return "length field " + v + " disagrees with the bytes given";
    case ErrorCode::WrongSize: return "size " + v + " wrong for its kind";
    case ErrorCode::UnknownFunction: return "function " + hex(error.value) + " is not the one expected";
    case ErrorCode::UnknownRecord: return "record ID " + v + " is not the one expected";
    case ErrorCode::BadTypeField: return "type field " + hex(error.value) + " lacks the 0xF0000000 marker";
    case ErrorCode::BufferTooSmall: return "output buffer too small";
    }
    return "unknown error " + v;
}

std::string printable(std::string_view text, std::size_t max_bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text.substr(0, max_bytes)) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    if (text.size() > max_bytes) {
        out += "...";
    }
    return out;
}

}  // namespace scproto
