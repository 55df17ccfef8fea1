// Malformed and edge-case input: every decoder must answer with the right
// error and never read outside the span it was given.
#include "simconnect_protocol/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using scproto::ErrorCode;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

Bytes clientPacket(std::uint32_t size_field, std::size_t actual, std::uint32_t type) {
    Bytes b(actual, 0);
    if (actual >= 4) put32(b, 0, size_field);
    if (actual >= 8) put32(b, 4, scproto::kProtocolKittyHawk);
    if (actual >= 12) put32(b, 8, type);
    return b;
}

Bytes serverRecord(std::uint32_t size_field, std::size_t actual, std::uint32_t id) {
    Bytes b(actual, 0);
    if (actual >= 4) put32(b, 0, size_field);
    if (actual >= 8) put32(b, 4, 5);
    if (actual >= 12) put32(b, 8, id);
    return b;
}

struct HeaderCase {
    const char* what;
    std::uint32_t size_field;
    std::size_t actual;
    std::uint32_t kind;
    ErrorCode expected;
};

TEST(Malformed, ClientHeaders) {
    const std::uint32_t transmit = 0xF0000005;
    const HeaderCase cases[] = {
        {"empty span", 0, 0, transmit, ErrorCode::Truncated},
        {"length field cut", 36, 3, transmit, ErrorCode::Truncated},
        {"length 0", 0, 36, transmit, ErrorCode::LengthBelowHeader},
        {"length 15", 15, 36, transmit, ErrorCode::LengthBelowHeader},
        {"length 64 KiB + 1", 65537, 65537, transmit, ErrorCode::LengthTooLarge},
        {"length 0xFFFFFFFF", 0xFFFFFFFF, 36, transmit, ErrorCode::LengthTooLarge},
        {"fewer bytes than the length", 36, 35, transmit, ErrorCode::Truncated},
        {"more bytes than the length", 36, 40, transmit, ErrorCode::LengthMismatch},
        {"type without the marker", 36, 36, 0x00000005, ErrorCode::BadTypeField},
    };
    for (const auto& c : cases) {
        scproto::ClientHeader h;
        const Bytes b = clientPacket(c.size_field, c.actual, c.kind);
        EXPECT_EQ(scproto::decodeClientHeader(b, h).code, c.expected) << c.what;
        scproto::TransmitClientEventPacket p;
        EXPECT_EQ(scproto::decode(b, p).code, c.expected) << c.what;
    }
    // Exactly the header and a maximum-size packet are fine as headers.
    scproto::ClientHeader h;
    EXPECT_FALSE(scproto::decodeClientHeader(clientPacket(16, 16, 0xF0000099), h));
    EXPECT_FALSE(scproto::decodeClientHeader(clientPacket(65536, 65536, transmit), h));
}

TEST(Malformed, ClientPacketOfWrongSizeOrKind) {
    struct Case {
        std::uint32_t type;
        std::size_t right_size;
    };
    const Case kinds[] = {{0xF0000001, scproto::kOpenPacketSize},
                          {0xF0000004, scproto::kMapClientEventPacketSize},
                          {0xF0000005, scproto::kTransmitClientEventPacketSize},
                          {0xF000000C, scproto::kAddToDataDefinitionPacketSize},
                          {0xF000000E, scproto::kRequestDataPacketSize}};
    for (std::size_t kind = 0; kind < std::size(kinds); ++kind) {
        const Case& k = kinds[kind];
        SCOPED_TRACE(k.type);
        for (const std::size_t size : {std::size_t{16}, k.right_size - 4, k.right_size + 4}) {
            const Bytes b = clientPacket(static_cast<std::uint32_t>(size), size, k.type);
            scproto::OpenPacket open;
            scproto::MapClientEventPacket map;
            scproto::TransmitClientEventPacket transmit;
            scproto::AddToDataDefinitionPacket add;
            scproto::RequestDataPacket request;
            const scproto::Error errors[] = {scproto::decode(b, open), scproto::decode(b, map),
                                             scproto::decode(b, transmit), scproto::decode(b, add),
                                             scproto::decode(b, request)};
            for (std::size_t i = 0; i < std::size(errors); ++i) {
                EXPECT_EQ(errors[i].code, i == kind ? ErrorCode::WrongSize : ErrorCode::UnknownFunction)
                    << "size " << size << ", decoder " << i;
            }
        }
        // The right size but read as another kind.
        const Bytes b = clientPacket(static_cast<std::uint32_t>(k.right_size), k.right_size, k.type);
        scproto::RequestDataPacket request;
        scproto::TransmitClientEventPacket transmit;
        const scproto::Error e = k.type == 0xF000000E ? scproto::decode(b, transmit) : scproto::decode(b, request);
        EXPECT_EQ(e.code, ErrorCode::UnknownFunction);
    }
}

TEST(Malformed, ServerHeaders) {
    const HeaderCase cases[] = {
        {"length field cut", 24, 2, 4, ErrorCode::Truncated},
        {"length 11", 11, 24, 4, ErrorCode::LengthBelowHeader},
        {"length above 64 KiB", 65537, 65537, 8, ErrorCode::LengthTooLarge},
        {"fewer bytes than the length", 24, 23, 4, ErrorCode::Truncated},
        {"more bytes than the length", 24, 28, 4, ErrorCode::LengthMismatch},
        {"event record of 20 bytes", 20, 20, 4, ErrorCode::WrongSize},
        {"exception record of 12 bytes", 12, 12, 1, ErrorCode::WrongSize},
        {"open record of 307 bytes", 307, 307, 2, ErrorCode::WrongSize},
        {"data record of 39 bytes", 39, 39, 8, ErrorCode::WrongSize},
    };
    for (const auto& c : cases) {
        scproto::ServerHeader h;
        EXPECT_EQ(scproto::decodeServerHeader(serverRecord(c.size_field, c.actual, c.kind), h).code, c.expected)
            << c.what;
    }
    // Unknown kinds pass with the header alone; known ones at their minimum.
    scproto::ServerHeader h;
    EXPECT_FALSE(scproto::decodeServerHeader(serverRecord(12, 12, 27), h));
    EXPECT_EQ(h.id, 27u);
    scproto::RecvSimObjectData data;
    ASSERT_FALSE(scproto::decode(serverRecord(40, 40, 8), data));
    EXPECT_TRUE(data.data.empty());
    scproto::RecvEvent event;
    EXPECT_EQ(scproto::decode(serverRecord(24, 24, 1), event).code, ErrorCode::UnknownRecord);
    scproto::RecvQuit quit;
    EXPECT_EQ(scproto::decode(serverRecord(24, 24, 4), quit).code, ErrorCode::UnknownRecord);
}

TEST(Malformed, NamesAreTruncatedTo255BytesAndAlwaysTerminated) {
    const std::string long_name(300, 'N');
    Bytes out(scproto::kAddToDataDefinitionPacketSize);
    scproto::AddToDataDefinitionPacket add;
    add.datum_name = long_name;
    add.units_name = std::string_view(long_name).substr(0, 255);
    ASSERT_EQ(scproto::encode(out, 5, 1, add), scproto::kAddToDataDefinitionPacketSize);
    EXPECT_EQ(out[20 + 254], 'N');
    EXPECT_EQ(out[20 + 255], 0);  // the last byte of the field stays NUL
    EXPECT_EQ(out[276], 'N');     // and the next field starts clean
    EXPECT_EQ(out[276 + 255], 0);
    scproto::AddToDataDefinitionPacket back;
    ASSERT_FALSE(scproto::decode(out, back));
    EXPECT_EQ(back.datum_name, long_name.substr(0, 255));
    EXPECT_EQ(back.units_name, long_name.substr(0, 255));
    EXPECT_EQ(back.datum_type, add.datum_type);

    // A peer that fills a field without a NUL: the name ends with the field.
    Bytes map(scproto::kMapClientEventPacketSize);
    ASSERT_EQ(scproto::encode(map, 5, 2, scproto::MapClientEventPacket{7, ""}), map.size());
    std::fill(map.begin() + 20, map.end(), 'X');
    scproto::MapClientEventPacket p;
    ASSERT_FALSE(scproto::decode(map, p));
    EXPECT_EQ(p.event_name, std::string(256, 'X'));

    Bytes open(scproto::kRecvOpenSize);
    scproto::RecvOpen r;
    r.application_name = long_name;
    ASSERT_EQ(scproto::encode(open, 5, r), open.size());
    scproto::RecvOpen rb;
    ASSERT_FALSE(scproto::decode(open, rb));
    EXPECT_EQ(rb.application_name.size(), 255u);
}

TEST(Malformed, EncodersRefuseSmallBuffersWithoutWriting) {
    Bytes out(scproto::kOpenPacketSize - 1, 0xAA);
    EXPECT_EQ(scproto::encode(out, 5, 1, scproto::OpenPacket{}), 0u);
    EXPECT_EQ(scproto::encode(std::span(out).first(35), 5, 1, scproto::TransmitClientEventPacket{}), 0u);
    EXPECT_EQ(scproto::encode(std::span(out).first(23), 5, scproto::RecvEvent{}), 0u);
    const std::uint8_t data[8] = {};
    scproto::RecvSimObjectData r;
    r.data = data;
    EXPECT_EQ(scproto::encode(std::span(out).first(47), 5, r), 0u);
    EXPECT_EQ(scproto::encode(std::span(out).first(48), 5, r), 48u);
    for (std::size_t i = 48; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0xAA) << "byte " << i;
    }
    // A data block that would make the record exceed the maximum.
    Bytes big(scproto::kMaxPacketSize);
    Bytes huge(2 * scproto::kMaxPacketSize);
    r.data = std::span<const std::uint8_t>(big);
    EXPECT_EQ(scproto::encode(huge, 5, r), 0u);
}

TEST(Malformed, DescriptionsNameTheValue) {
    EXPECT_EQ(scproto::describe({ErrorCode::LengthTooLarge, 70000}), "length field 70000 above the 65536-byte maximum");
    EXPECT_NE(scproto::describe({ErrorCode::BadTypeField, 5}).find("0x5"), std::string::npos);
}

}  // namespace
