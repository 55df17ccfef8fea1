// Golden bytes captured from node-simconnect 4.2.0 (an implementation no one
// here wrote): our encoders must produce them exactly, our decoders must read
// the server records to the values node-simconnect read.
#include "mini_json.h"
#include "simconnect_protocol/protocol.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace {

using Bytes = std::vector<std::uint8_t>;

const minijson::Value& vectors() {
    static const minijson::Value root = minijson::parseFile(VECTORS_FILE);
    return root;
}

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// Fields appear as plain numbers or as "0x..." strings.
std::uint32_t u32(const minijson::Value& v) {
    if (v.kind == minijson::Value::Kind::String) {
        return static_cast<std::uint32_t>(std::stoul(v.text, nullptr, 0));
    }
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(v.number));
}

Bytes encodeClient(const minijson::Value& vec) {
    const auto& header = vec["decoded"]["header"];
    const auto& payload = vec["decoded"]["payload"];
    const std::string function = vec["decoded"]["function"].text;
    const std::uint32_t protocol = u32(header["protocol"]);
    const std::uint32_t send_id = u32(header["sendId"]);
    Bytes out(scproto::kMaxPacketSize);
    std::size_t n = 0;
    if (function == "Open") {
        scproto::OpenPacket p;
        p.app_name = payload["16 appName[256]"].text;
        const Bytes alias = fromHex(payload["277 alias[3]"].text.substr(0, 6));
        p.alias = {0, alias.at(0), alias.at(1), alias.at(2)};
        p.version_major = u32(payload["280 versionMajor u32"]);
        p.version_minor = u32(payload["284 versionMinor u32"]);
        p.build_major = u32(payload["288 buildMajor u32"]);
        p.build_minor = u32(payload["292 buildMinor u32"]);
        n = scproto::encode(out, protocol, send_id, p);
    } else if (function == "MapClientEventToSimEvent") {
        n = scproto::encode(out, protocol, send_id,
                            scproto::MapClientEventPacket{.event_id = u32(payload["16 eventId u32"]),
                                                          .event_name = payload["20 eventName[256]"].text});
    } else if (function == "AddToDataDefinition") {
        scproto::AddToDataDefinitionPacket p;
        p.define_id = u32(payload["16 defineId u32"]);
        p.datum_name = payload["20 datumName[256]"].text;
        p.units_name = payload["276 unitsName[256]"].text;
        p.datum_type = u32(payload["532 datumType u32"]);
        p.epsilon = static_cast<float>(payload["536 epsilon f32"].number);
        p.datum_id = u32(payload["540 datumId u32"]);
        n = scproto::encode(out, protocol, send_id, p);
    } else if (function == "RequestDataOnSimObject") {
        scproto::RequestDataPacket p;
        p.request_id = u32(payload["16 requestId u32"]);
        p.define_id = u32(payload["20 defineId u32"]);
        p.object_id = u32(payload["24 objectId u32"]);
        p.period = u32(payload["28 period u32"]);
        p.flags = u32(payload["32 flags u32"]);
        p.origin = u32(payload["36 origin u32"]);
        p.interval = u32(payload["40 interval u32"]);
        p.limit = u32(payload["44 limit u32"]);
        n = scproto::encode(out, protocol, send_id, p);
    } else if (function == "TransmitClientEvent") {
        scproto::TransmitClientEventPacket p;
        p.object_id = u32(payload["16 objectId u32"]);
        p.event_id = u32(payload["20 eventId u32"]);
        p.data = u32(payload["24 data u32"]);
        p.group_id = u32(payload["28 groupId u32"]);
        p.flags = u32(payload["32 flags u32"]);
        n = scproto::encode(out, protocol, send_id, p);
    } else {
        ADD_FAILURE() << "vector with unhandled function " << function;
    }
    out.resize(n);
    return out;
}

// Every captured client packet, the three Open variants included.
std::vector<const minijson::Value*> clientVectors() {
    std::vector<const minijson::Value*> all;
    for (const auto& v : vectors()["clientToServer"].items) {
        all.push_back(&v);
    }
    for (const auto& v : vectors()["openVariants"].items) {
        all.push_back(&v);
    }
    return all;
}

TEST(Vectors, EncodersProduceTheCapturedBytes) {
    const auto all = clientVectors();
    ASSERT_EQ(all.size(), 11u);
    for (const auto* vec : all) {
        const Bytes expected = fromHex((*vec)["hex"].text);
        SCOPED_TRACE((*vec)["decoded"]["function"].text + " send ID " +
                     std::to_string(u32((*vec)["decoded"]["header"]["sendId"])));
        ASSERT_EQ(expected.size(), u32((*vec)["length"]));
        EXPECT_EQ(encodeClient(*vec), expected);
    }
}

TEST(Vectors, ClientDecodersReadTheCapturedPackets) {
    for (const auto* vec : clientVectors()) {
        const Bytes bytes = fromHex((*vec)["hex"].text);
        const auto& header = (*vec)["decoded"]["header"];
        const auto& payload = (*vec)["decoded"]["payload"];
        const std::string function = (*vec)["decoded"]["function"].text;
        SCOPED_TRACE(function);
        scproto::ClientHeader h;
        ASSERT_FALSE(scproto::decodeClientHeader(bytes, h));
        EXPECT_EQ(h.size, u32(header["size"]));
        EXPECT_EQ(h.protocol, u32(header["protocol"]));
        EXPECT_EQ(h.type, u32(header["type"]));
        EXPECT_EQ(h.send_id, u32(header["sendId"]));
        if (function == "Open") {
            scproto::OpenPacket p;
            ASSERT_FALSE(scproto::decode(bytes, p));
            EXPECT_EQ(p.app_name, payload["16 appName[256]"].text);
            EXPECT_EQ(p.version_major, u32(payload["280 versionMajor u32"]));
            EXPECT_EQ(p.build_major, u32(payload["288 buildMajor u32"]));
            EXPECT_EQ(p.build_minor, u32(payload["292 buildMinor u32"]));
            std::uint32_t alias = 0;
            for (int i = 3; i >= 0; --i) {
                alias = (alias << 8) | p.alias[static_cast<std::size_t>(i)];
            }
            EXPECT_EQ(alias, u32(payload["276..279 as u32 LE"]));
        } else if (function == "MapClientEventToSimEvent") {
            scproto::MapClientEventPacket p;
            ASSERT_FALSE(scproto::decode(bytes, p));
            EXPECT_EQ(p.event_id, u32(payload["16 eventId u32"]));
            EXPECT_EQ(p.event_name, payload["20 eventName[256]"].text);
        } else if (function == "AddToDataDefinition") {
            scproto::AddToDataDefinitionPacket p;
            ASSERT_FALSE(scproto::decode(bytes, p));
            EXPECT_EQ(p.define_id, u32(payload["16 defineId u32"]));
            EXPECT_EQ(p.datum_name, payload["20 datumName[256]"].text);
            EXPECT_EQ(p.units_name, payload["276 unitsName[256]"].text);
            EXPECT_EQ(p.datum_type, u32(payload["532 datumType u32"]));
            EXPECT_EQ(p.epsilon, static_cast<float>(payload["536 epsilon f32"].number));
            EXPECT_EQ(p.datum_id, u32(payload["540 datumId u32"]));
        } else if (function == "RequestDataOnSimObject") {
            scproto::RequestDataPacket p;
            ASSERT_FALSE(scproto::decode(bytes, p));
            EXPECT_EQ(p.request_id, u32(payload["16 requestId u32"]));
            EXPECT_EQ(p.period, u32(payload["28 period u32"]));
            EXPECT_EQ(p.flags, u32(payload["32 flags u32"]));
        } else if (function == "TransmitClientEvent") {
            scproto::TransmitClientEventPacket p;
            ASSERT_FALSE(scproto::decode(bytes, p));
            EXPECT_EQ(p.object_id, u32(payload["16 objectId u32"]));
            EXPECT_EQ(p.event_id, u32(payload["20 eventId u32"]));
            EXPECT_EQ(p.data, u32(payload["24 data u32"]));
            EXPECT_EQ(static_cast<std::int32_t>(p.data), static_cast<std::int32_t>(payload["24 data as i32"].number));
            EXPECT_EQ(p.group_id, u32(payload["28 groupId u32"]));
            EXPECT_EQ(p.flags, u32(payload["32 flags u32"]));
        }
    }
}

// Each server record: decode it and compare with what node-simconnect read,
// then encode the decoded values and compare with the bytes.
TEST(Vectors, ServerRecordsDecodeAndReencode) {
    const auto& records = vectors()["serverToClient"].items;
    ASSERT_EQ(records.size(), 7u);
    for (const auto& vec : records) {
        const Bytes bytes = fromHex(vec["hex"].text);
        const auto& fields = vec["fields"];
        const auto& node = vec["nodeSimconnectDecoded"];
        const std::string kind = fields["record"].text;
        SCOPED_TRACE(vec["record"].text);
        scproto::ServerHeader h;
        ASSERT_FALSE(scproto::decodeServerHeader(bytes, h));
        EXPECT_EQ(h.size, u32(fields["header"]["size"]));
        EXPECT_EQ(h.version, u32(fields["header"]["version"]));
        EXPECT_EQ(h.id, u32(fields["header"]["recvId"]));
        Bytes again(scproto::kMaxPacketSize);
        std::size_t n = 0;
        if (kind == "RECV_OPEN") {
            scproto::RecvOpen r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.application_name, node["applicationName"].text);
            EXPECT_EQ(r.application_version_major, u32(node["applicationVersionMajor"]));
            EXPECT_EQ(r.application_version_minor, u32(node["applicationVersionMinor"]));
            EXPECT_EQ(r.application_build_major, u32(node["applicationBuildMajor"]));
            EXPECT_EQ(r.application_build_minor, u32(node["applicationBuildMinor"]));
            EXPECT_EQ(r.simconnect_version_major, u32(node["simConnectVersionMajor"]));
            EXPECT_EQ(r.simconnect_version_minor, u32(node["simConnectVersionMinor"]));
            EXPECT_EQ(r.simconnect_build_major, u32(node["simConnectBuildMajor"]));
            EXPECT_EQ(r.simconnect_build_minor, u32(node["simConnectBuildMinor"]));
            EXPECT_EQ(r.reserved1, u32(node["reserved1"]));
            EXPECT_EQ(r.reserved2, u32(node["reserved2"]));
            // What the emulator sends is what a real MSFS 2020 reports.
            Bytes ours(scproto::kRecvOpenSize);
            ASSERT_EQ(scproto::encode(ours, h.version, scproto::kittyHawkOpen()), scproto::kRecvOpenSize);
            EXPECT_EQ(ours, bytes);
            n = scproto::encode(again, h.version, r);
        } else if (kind == "RECV_SIMOBJECT_DATA") {
            scproto::RecvSimObjectData r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.request_id, u32(node["requestID"]));
            EXPECT_EQ(r.object_id, u32(node["objectID"]));
            EXPECT_EQ(r.define_id, u32(node["defineID"]));
            EXPECT_EQ(r.flags, u32(node["flags"]));
            EXPECT_EQ(r.entry_number, u32(node["entryNumber"]));
            EXPECT_EQ(r.out_of, u32(node["outOf"]));
            EXPECT_EQ(r.define_count, u32(node["defineCount"]));
            ASSERT_EQ(r.data.size(), u32(fields["payload"]["40.. data bytes"]));
            // Float64 datums first, then int32 ones: their counts follow from
            // the byte count and the datum count.
            const auto& values = node["values"].items;
            ASSERT_EQ(values.size(), r.define_count);
            const std::size_t doubles = r.data.size() / 4 - r.define_count;
            std::size_t at = 0;
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i < doubles) {
                    double d;
                    std::memcpy(&d, r.data.data() + at, 8);
                    EXPECT_EQ(d, values[i].number) << "datum " << i;
                    at += 8;
                } else {
                    std::int32_t v;
                    std::memcpy(&v, r.data.data() + at, 4);
                    EXPECT_EQ(v, static_cast<std::int32_t>(values[i].number)) << "datum " << i;
                    at += 4;
                }
            }
            EXPECT_EQ(at, r.data.size());
            n = scproto::encode(again, h.version, r);
        } else if (kind == "RECV_EXCEPTION") {
            scproto::RecvException r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.exception, u32(node["exception"]));
            EXPECT_EQ(r.send_id, u32(node["sendId"]));
            EXPECT_EQ(r.index, u32(node["index"]));
            n = scproto::encode(again, h.version, r);
        } else if (kind == "RECV_EVENT") {
            scproto::RecvEvent r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.group_id, u32(node["groupID"]));
            EXPECT_EQ(r.event_id, u32(node["clientEventId"]));
            EXPECT_EQ(r.data, u32(node["data"]));
            n = scproto::encode(again, h.version, r);
        } else if (kind == "RECV_QUIT") {
            scproto::RecvQuit r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(node["kind"].text, "quit");
            n = scproto::encode(again, h.version, r);
        } else {
            ADD_FAILURE() << "vector with unhandled record " << kind;
        }
        again.resize(n);
        EXPECT_EQ(again, bytes);
    }
}

}  // namespace
