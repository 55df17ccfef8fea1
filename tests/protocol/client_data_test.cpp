// Client data and MSFS 2024 records against node-simconnect 4.2.0: its
// encoder's bytes for every client-data packet (our encoders must produce
// them, our decoders must read them back to the same fields), and records
// crafted and read by its decoder (CLIENT_DATA, and MSFS 2024's RECV_OPEN
// with version 6 in the header). The vectors come from
// tests/interop/capture_client_data_vectors.js.
#include "mini_json.h"
#include "simconnect_protocol/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace {

using Bytes = std::vector<std::uint8_t>;
using scproto::ErrorCode;

const minijson::Value& vectors() {
    static const minijson::Value root = minijson::parseFile(CLIENT_DATA_VECTORS_FILE);
    return root;
}

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::uint32_t u32(const minijson::Value& v) {
    if (v.kind == minijson::Value::Kind::String) {
        return static_cast<std::uint32_t>(std::stoul(v.text, nullptr, 0));
    }
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(v.number));
}

// Per function: encode the vector's fields, and decode a packet into the
// same field names for comparison.
struct Codec {
    std::function<std::size_t(Bytes&, std::uint32_t, std::uint32_t, const minijson::Value&)> encode;
    std::function<scproto::Error(const Bytes&, std::map<std::string, std::string>&)> decode;
};

std::string text(std::uint32_t v) { return std::to_string(v); }
std::string text(float v) { return std::to_string(static_cast<double>(v)); }
std::string text(std::string_view v) { return std::string(v); }
std::string text(std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
}

const std::map<std::string, Codec>& codecs() {
    static const std::map<std::string, Codec> table{
        {"MapClientDataNameToID",
         {[](Bytes& out, std::uint32_t protocol, std::uint32_t id, const minijson::Value& f) {
              return scproto::encode(
                  out, protocol, id,
                  scproto::MapClientDataNamePacket{.name = f.str("name"), .area_id = u32(f["area"])});
          },
          [](const Bytes& b, std::map<std::string, std::string>& m) {
              scproto::MapClientDataNamePacket p;
              const auto e = scproto::decode(b, p);
              m = {{"name", text(p.name)}, {"area", text(p.area_id)}};
              return e;
          }}},
        {"CreateClientData",
         {[](Bytes& out, std::uint32_t protocol, std::uint32_t id, const minijson::Value& f) {
              return scproto::encode(out, protocol, id,
                                     scproto::CreateClientDataPacket{
                                         .area_id = u32(f["area"]), .size = u32(f["size"]), .flags = u32(f["flags"])});
          },
          [](const Bytes& b, std::map<std::string, std::string>& m) {
              scproto::CreateClientDataPacket p;
              const auto e = scproto::decode(b, p);
              m = {{"area", text(p.area_id)}, {"size", text(p.size)}, {"flags", text(p.flags)}};
              return e;
          }}},
        {"AddToClientDataDefinition",
         {[](Bytes& out, std::uint32_t protocol, std::uint32_t id, const minijson::Value& f) {
              return scproto::encode(
                  out, protocol, id,
                  scproto::AddToClientDataDefinitionPacket{.define_id = u32(f["define"]),
                                                           .offset = u32(f["offset"]),
                                                           .size_or_type = u32(f["sizeOrType"]),
                                                           .epsilon = static_cast<float>(f["epsilon"].number),
                                                           .datum_id = u32(f["datum"])});
          },
          [](const Bytes& b, std::map<std::string, std::string>& m) {
              scproto::AddToClientDataDefinitionPacket p;
              const auto e = scproto::decode(b, p);
              m = {{"define", text(p.define_id)},
                   {"offset", text(p.offset)},
                   {"sizeOrType", text(p.size_or_type)},
                   {"epsilon", text(p.epsilon)},
                   {"datum", text(p.datum_id)}};
              return e;
          }}},
        {"ClearClientDataDefinition",
         {[](Bytes& out, std::uint32_t protocol, std::uint32_t id, const minijson::Value& f) {
              return scproto::encode(out, protocol, id,
                                     scproto::ClearClientDataDefinitionPacket{.define_id = u32(f["define"])});
          },
          [](const Bytes& b, std::map<std::string, std::string>& m) {
              scproto::ClearClientDataDefinitionPacket p;
              const auto e = scproto::decode(b, p);
              m = {{"define", text(p.define_id)}};
              return e;
          }}},
        {"RequestClientData",
         {[](Bytes& out, std::uint32_t protocol, std::uint32_t id, const minijson::Value& f) {
              return scproto::encode(out, protocol, id,
                                     scproto::RequestClientDataPacket{.area_id = u32(f["area"]),
                                                                      .request_id = u32(f["request"]),
                                                                      .define_id = u32(f["define"]),
                                                                      .period = u32(f["period"]),
                                                                      .flags = u32(f["flags"]),
                                                                      .origin = u32(f["origin"]),
                                                                      .interval = u32(f["interval"]),
                                                                      .limit = u32(f["limit"])});
          },
          [](const Bytes& b, std::map<std::string, std::string>& m) {
              scproto::RequestClientDataPacket p;
              const auto e = scproto::decode(b, p);
              m = {{"area", text(p.area_id)},      {"request", text(p.request_id)}, {"define", text(p.define_id)},
                   {"period", text(p.period)},     {"flags", text(p.flags)},        {"origin", text(p.origin)},
                   {"interval", text(p.interval)}, {"limit", text(p.limit)}};
              return e;
          }}},
        {"SetClientData",
         {[](Bytes& out, std::uint32_t protocol, std::uint32_t id, const minijson::Value& f) {
              const Bytes data = fromHex(f.str("data"));
              EXPECT_EQ(data.size(), u32(f["size"]));
              return scproto::encode(out, protocol, id,
                                     scproto::SetClientDataPacket{.area_id = u32(f["area"]),
                                                                  .define_id = u32(f["define"]),
                                                                  .flags = u32(f["flags"]),
                                                                  .reserved = u32(f["reserved"]),
                                                                  .data = data});
          },
          [](const Bytes& b, std::map<std::string, std::string>& m) {
              scproto::SetClientDataPacket p;
              const auto e = scproto::decode(b, p);
              m = {{"area", text(p.area_id)},
                   {"define", text(p.define_id)},
                   {"flags", text(p.flags)},
                   {"reserved", text(p.reserved)},
                   {"size", text(static_cast<std::uint32_t>(p.data.size()))},
                   {"data", text(p.data)}};
              return e;
          }}},
    };
    return table;
}

// The vector's fields as the decoder's text form writes them.
std::map<std::string, std::string> expectedFields(const minijson::Value& fields) {
    std::map<std::string, std::string> out;
    for (const auto& [name, value] : fields.members) {
        if (value.kind == minijson::Value::Kind::String) {
            out[name] = value.text;
        } else if (name == "epsilon") {
            out[name] = text(static_cast<float>(value.number));
        } else {
            out[name] = text(u32(value));
        }
    }
    return out;
}

TEST(ClientDataVectors, EncodersProduceAndDecodersReadNodeSimconnectsBytes) {
    const auto& packets = vectors()["clientToServer"].items;
    ASSERT_EQ(packets.size(), 9u);
    std::set<std::string> seen;
    for (const auto& vec : packets) {
        const std::string function = vec.str("function");
        SCOPED_TRACE(function + " send ID " + std::to_string(u32(vec["header"]["sendId"])));
        seen.insert(function);
        const Bytes expected = fromHex(vec.str("hex"));
        ASSERT_EQ(expected.size(), u32(vec["length"]));
        const Codec& codec = codecs().at(function);
        Bytes out(scproto::kMaxPacketSize);
        out.resize(codec.encode(out, u32(vec["header"]["protocol"]), u32(vec["header"]["sendId"]), vec["fields"]));
        EXPECT_EQ(out, expected);

        scproto::ClientHeader h;
        ASSERT_FALSE(scproto::decodeClientHeader(expected, h));
        EXPECT_EQ(h.type, u32(vec["header"]["type"]));
        std::map<std::string, std::string> decoded;
        ASSERT_FALSE(codec.decode(expected, decoded));
        EXPECT_EQ(decoded, expectedFields(vec["fields"]));
    }
    EXPECT_EQ(seen.size(), codecs().size()) << "a client-data function without a vector";
}

TEST(ClientDataVectors, RecordsDecodeAsNodeSimconnectReadThemAndReencode) {
    const auto& records = vectors()["serverToClient"].items;
    ASSERT_EQ(records.size(), 3u);
    std::set<std::uint32_t> versions;
    for (const auto& vec : records) {
        SCOPED_TRACE(vec.str("record"));
        const Bytes bytes = fromHex(vec.str("hex"));
        const auto& node = vec["nodeSimconnectDecoded"];
        ASSERT_EQ(bytes.size(), u32(vec["length"]));
        scproto::ServerHeader h;
        ASSERT_FALSE(scproto::decodeServerHeader(bytes, h));
        versions.insert(h.version);
        Bytes again(scproto::kMaxPacketSize);
        if (h.id == static_cast<std::uint32_t>(scproto::RecvId::Open)) {
            scproto::RecvOpen r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.application_name, node.str("applicationName"));
            EXPECT_EQ(r.application_version_major, u32(node["applicationVersionMajor"]));
            EXPECT_EQ(r.application_version_minor, u32(node["applicationVersionMinor"]));
            EXPECT_EQ(r.application_build_major, u32(node["applicationBuildMajor"]));
            EXPECT_EQ(r.application_build_minor, u32(node["applicationBuildMinor"]));
            EXPECT_EQ(r.simconnect_version_major, u32(node["simConnectVersionMajor"]));
            EXPECT_EQ(r.simconnect_version_minor, u32(node["simConnectVersionMinor"]));
            EXPECT_EQ(r.simconnect_build_major, u32(node["simConnectBuildMajor"]));
            EXPECT_EQ(r.simconnect_build_minor, u32(node["simConnectBuildMinor"]));
            // What the emulator sends as MSFS 2024.
            EXPECT_EQ(h.version, scproto::kProtocolSunRise);
            again.resize(scproto::encode(again, scproto::kProtocolSunRise, scproto::sunRiseOpen()));
        } else {
            ASSERT_EQ(h.id, static_cast<std::uint32_t>(scproto::RecvId::ClientData));
            scproto::RecvClientData r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.request_id, u32(node["requestID"]));
            EXPECT_EQ(r.object_id, u32(node["objectID"]));
            EXPECT_EQ(r.define_id, u32(node["defineID"]));
            EXPECT_EQ(r.flags, u32(node["flags"]));
            EXPECT_EQ(r.entry_number, u32(node["entryNumber"]));
            EXPECT_EQ(r.out_of, u32(node["outOf"]));
            EXPECT_EQ(r.define_count, u32(node["defineCount"]));
            const auto& value = node["value"];
            if (value.kind == minijson::Value::Kind::String) {
                ASSERT_GE(r.data.size(), value.text.size() + 1);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data.data())), value.text);
            } else {
                ASSERT_EQ(r.data.size(), 4u);
                float f;
                std::memcpy(&f, r.data.data(), 4);
                EXPECT_EQ(f, static_cast<float>(value.number));
            }
            // Not a SIMOBJECT_DATA record, although laid out as one.
            scproto::RecvSimObjectData as_object;
            EXPECT_EQ(scproto::decode(bytes, as_object).code, ErrorCode::UnknownRecord);
            again.resize(scproto::encode(again, h.version, r));
        }
        EXPECT_EQ(again, bytes);
    }
    EXPECT_EQ(versions, (std::set<std::uint32_t>{5, 6})) << "records of both simulators";
}

Bytes clientPacket(std::uint32_t function, std::size_t size) {
    Bytes b(size, 0);
    const std::uint32_t words[] = {static_cast<std::uint32_t>(size), 5, 0xF0000000 | function, 1};
    for (std::size_t i = 0; i < 4 && 4 * i + 4 <= size; ++i) {
        for (std::size_t k = 0; k < 4; ++k) {
            b[4 * i + k] = static_cast<std::uint8_t>(words[i] >> (8 * k));
        }
    }
    return b;
}

TEST(ClientDataMalformed, FixedSizePacketsOfAnotherSizeAreRefused) {
    struct Case {
        scproto::FunctionId function;
        std::size_t size;
        std::function<scproto::Error(const Bytes&)> decode;
    };
    const Case cases[] = {
        {scproto::FunctionId::MapClientDataNameToID, scproto::kMapClientDataNamePacketSize,
         [](const Bytes& b) {
             scproto::MapClientDataNamePacket p;
             return scproto::decode(b, p);
         }},
        {scproto::FunctionId::CreateClientData, scproto::kCreateClientDataPacketSize,
         [](const Bytes& b) {
             scproto::CreateClientDataPacket p;
             return scproto::decode(b, p);
         }},
        {scproto::FunctionId::AddToClientDataDefinition, scproto::kAddToClientDataDefinitionPacketSize,
         [](const Bytes& b) {
             scproto::AddToClientDataDefinitionPacket p;
             return scproto::decode(b, p);
         }},
        {scproto::FunctionId::ClearClientDataDefinition, scproto::kClearClientDataDefinitionPacketSize,
         [](const Bytes& b) {
             scproto::ClearClientDataDefinitionPacket p;
             return scproto::decode(b, p);
         }},
        {scproto::FunctionId::RequestClientData, scproto::kRequestClientDataPacketSize,
         [](const Bytes& b) {
             scproto::RequestClientDataPacket p;
             return scproto::decode(b, p);
         }},
    };
    for (const auto& c : cases) {
        const auto function = static_cast<std::uint32_t>(c.function);
        SCOPED_TRACE(function);
        EXPECT_FALSE(c.decode(clientPacket(function, c.size)));
        for (const std::size_t size : {std::size_t{16}, c.size - 4, c.size + 4}) {
            EXPECT_EQ(c.decode(clientPacket(function, size)).code, ErrorCode::WrongSize) << size;
        }
        // Another function's packet of the right size.
        EXPECT_EQ(c.decode(clientPacket(0x05, c.size)).code, ErrorCode::UnknownFunction);
    }
}

TEST(ClientDataMalformed, SetClientDataSizeFieldMustMatchTheBytesAfterIt) {
    const Bytes data(10, 0x41);
    Bytes good(scproto::kSetClientDataHeaderSize + data.size());
    ASSERT_EQ(scproto::encode(good, 5, 3, scproto::SetClientDataPacket{.area_id = 1, .define_id = 2, .data = data}),
              good.size());
    scproto::SetClientDataPacket p;
    ASSERT_FALSE(scproto::decode(good, p));
    EXPECT_EQ(p.data.size(), 10u);
    EXPECT_EQ(p.data.data(), good.data() + scproto::kSetClientDataHeaderSize) << "a view into the packet";

    const auto withSizeField = [&](std::uint32_t size) {
        Bytes b = good;
        for (std::size_t k = 0; k < 4; ++k) {
            b[32 + k] = static_cast<std::uint8_t>(size >> (8 * k));
        }
        return b;
    };
    for (const std::uint32_t lie : {9u, 11u, 0u, 0xFFFFFFFFu, 0xFFFFFFF6u}) {
        EXPECT_EQ(scproto::decode(withSizeField(lie), p).code, ErrorCode::WrongSize) << lie;
    }
    // No room for the size field at all.
    EXPECT_EQ(scproto::decode(clientPacket(0x3C, 32), p).code, ErrorCode::WrongSize);
    EXPECT_EQ(scproto::decode(clientPacket(0x3B, 36), p).code, ErrorCode::UnknownFunction);
    // Empty data is a valid packet.
    EXPECT_FALSE(scproto::decode(clientPacket(0x3C, 36), p));
    EXPECT_TRUE(p.data.empty());
}

TEST(ClientDataMalformed, EncodersRefuseSmallBuffersAndOversizedData) {
    Bytes out(scproto::kMaxPacketSize + 64, 0xAA);
    const Bytes data(100, 1);
    const scproto::SetClientDataPacket set{.data = data};
    EXPECT_EQ(scproto::encode(std::span(out).first(135), 5, 1, set), 0u);
    EXPECT_EQ(out[0], 0xAA) << "nothing written";
    EXPECT_EQ(scproto::encode(std::span(out).first(136), 5, 1, set), 136u);
    EXPECT_EQ(scproto::encode(std::span(out).first(27), 5, 1, scproto::CreateClientDataPacket{}), 0u);
    const Bytes too_big(scproto::kMaxPacketSize - scproto::kSetClientDataHeaderSize + 1);
    EXPECT_EQ(scproto::encode(out, 5, 1, scproto::SetClientDataPacket{.data = too_big}), 0u);

    // A CLIENT_DATA record shorter than its fixed part.
    Bytes record(39, 0);
    record[0] = 39;
    record[4] = 6;
    record[8] = 16;
    scproto::ServerHeader h;
    EXPECT_EQ(scproto::decodeServerHeader(record, h).code, ErrorCode::WrongSize);
}

}  // namespace
