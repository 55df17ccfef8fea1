// The packets and records aircraft profiles need, against node-simconnect
// 4.2.0 (tests/interop/profile_vectors.js writes the file and checks it
// stays node's): each captured client packet is what our encoder writes for
// the same call and decodes back to it; each crafted record decodes to what
// node-simconnect read from it and encodes back to the same bytes.
#include "mini_json.h"
#include "simconnect_protocol/protocol.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <map>

namespace {

using Bytes = std::vector<std::uint8_t>;
using scproto::DataType;

const minijson::Value& vectors() {
    static const minijson::Value root = minijson::parseFile(PROFILE_VECTORS_FILE);
    return root;
}

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::uint64_t u64(const minijson::Value& v) {
    if (v.kind == minijson::Value::Kind::String) {
        return std::stoull(v.text, nullptr, 0);
    }
    return static_cast<std::uint64_t>(v.number);
}

template <typename T>
Bytes bytesOf(const T& value) {
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

const Bytes kSetDataBlock = [] {
    Bytes b = bytesOf(12300.0);
    const Bytes minus3 = bytesOf(std::int32_t{-3});
    b.insert(b.end(), minus3.begin(), minus3.end());
    return b;
}();
const Bytes kOne = bytesOf(1.0);
const Bytes kOn{'O', 'N'};

// How each captured call is encoded with our codec, and checked decoded.
struct ClientCase {
    std::function<std::size_t(std::span<std::uint8_t>, std::uint32_t send_id)> encode;
    std::function<void(std::span<const std::uint8_t>)> checkDecoded;
};

template <typename Packet>
ClientCase clientCase(Packet p, std::function<void(const Packet&, const Packet&)> same) {
    return {
        [p](std::span<std::uint8_t> out, std::uint32_t send_id) {
            return scproto::encode(out, scproto::kProtocolKittyHawk, send_id, p);
        },
        [p, same](std::span<const std::uint8_t> bytes) {
            Packet got;
            const scproto::Error e = scproto::decode(bytes, got);
            ASSERT_FALSE(e) << scproto::describe(e);
            same(got, p);
        },
    };
}

const std::map<std::string, ClientCase>& clientCases() {
    using namespace scproto;
    static const std::map<std::string, ClientCase> cases{
        {R"(subscribeToSystemEvent(1, "AircraftLoaded"))",
         clientCase<SubscribeToSystemEventPacket>({.event_id = 1, .event_name = "AircraftLoaded"},
                                                  [](const auto& a, const auto& b) {
                                                      EXPECT_EQ(a.event_id, b.event_id);
                                                      EXPECT_EQ(a.event_name, b.event_name);
                                                  })},
        {"unsubscribeFromSystemEvent(1)",
         clientCase<UnsubscribeFromSystemEventPacket>(
             {.event_id = 1}, [](const auto& a, const auto& b) { EXPECT_EQ(a.event_id, b.event_id); })},
        {R"(requestSystemState(7, "AircraftLoaded"))",
         clientCase<RequestSystemStatePacket>({.request_id = 7, .state = "AircraftLoaded"},
                                              [](const auto& a, const auto& b) {
                                                  EXPECT_EQ(a.request_id, b.request_id);
                                                  EXPECT_EQ(a.state, b.state);
                                              })},
        {R"(addToDataDefinition(3, "TITLE", null, STRING256))",
         clientCase<AddToDataDefinitionPacket>(
             {.define_id = 3, .datum_name = "TITLE", .units_name = "", .datum_type = 9},
             [](const auto& a, const auto& b) {
                 EXPECT_EQ(a.datum_name, b.datum_name);
                 EXPECT_EQ(a.units_name, b.units_name);
                 EXPECT_EQ(a.datum_type, static_cast<std::uint32_t>(DataType::String256));
                 EXPECT_EQ(a.datum_id, b.datum_id);
             })},
        {R"(addToDataDefinition(3, "L:E_FCU_ALTITUDE", "number", FLOAT64))",
         clientCase<AddToDataDefinitionPacket>(
             {.define_id = 3, .datum_name = "L:E_FCU_ALTITUDE", .units_name = "number", .datum_type = 4},
             [](const auto& a, const auto& b) {
                 EXPECT_EQ(a.datum_name, b.datum_name);
                 EXPECT_EQ(a.units_name, b.units_name);
                 EXPECT_EQ(a.datum_type, b.datum_type);
             })},
        {R"(addToDataDefinition(3, "ATC MODEL", null, STRINGV))",
         clientCase<AddToDataDefinitionPacket>(
             {.define_id = 3, .datum_name = "ATC MODEL", .units_name = "", .datum_type = 11},
             [](const auto& a, const auto& b) {
                 EXPECT_EQ(a.datum_name, b.datum_name);
                 EXPECT_EQ(a.datum_type, static_cast<std::uint32_t>(DataType::StringV));
                 EXPECT_EQ(a.datum_type, b.datum_type);
             })},
        {"requestDataOnSimObject(4, 3, 0, ONCE, CHANGED)",
         clientCase<RequestDataPacket>({.request_id = 4, .define_id = 3, .period = 1, .flags = kRequestFlagChanged},
                                       [](const auto& a, const auto& b) {
                                           EXPECT_EQ(a.period, static_cast<std::uint32_t>(Period::Once));
                                           EXPECT_EQ(a.flags, b.flags);
                                       })},
        {"requestDataOnSimObject(4, 3, 0, NEVER)",
         clientCase<RequestDataPacket>(
             {.request_id = 4, .define_id = 3, .period = 0},
             [](const auto& a, const auto&) { EXPECT_EQ(a.period, static_cast<std::uint32_t>(Period::Never)); })},
        {"setDataOnSimObject(5, 0, [float64 12300, int32 -3])",
         clientCase<SetDataPacket>({.define_id = 5,
                                    .object_id = 0,
                                    .flags = 0,
                                    .array_count = 1,
                                    .unit_size = static_cast<std::uint32_t>(kSetDataBlock.size()),
                                    .data = kSetDataBlock},
                                   [](const auto& a, const auto& b) {
                                       EXPECT_EQ(a.define_id, b.define_id);
                                       EXPECT_EQ(a.object_id, b.object_id);
                                       EXPECT_EQ(a.flags, b.flags);
                                       EXPECT_EQ(a.array_count, b.array_count);
                                       EXPECT_EQ(a.unit_size, b.unit_size);
                                       EXPECT_TRUE(std::ranges::equal(a.data, b.data));
                                   })},
        {"clearDataDefinition(5)",
         clientCase<ClearDataDefinitionPacket>(
             {.define_id = 5}, [](const auto& a, const auto& b) { EXPECT_EQ(a.define_id, b.define_id); })},
        {"enumerateInputEvents(9)",
         clientCase<EnumerateInputEventsPacket>(
             {.request_id = 9}, [](const auto& a, const auto& b) { EXPECT_EQ(a.request_id, b.request_id); })},
        {"setInputEvent(0x9E3779B97F4A7C15, 1)",
         clientCase<SetInputEventPacket>({.hash = 0x9E3779B97F4A7C15, .value = kOne},
                                         [](const auto& a, const auto& b) {
                                             EXPECT_EQ(a.hash, b.hash);
                                             EXPECT_TRUE(std::ranges::equal(a.value, b.value));
                                         })},
        {R"(setInputEvent(0x100000002, "ON"))", clientCase<SetInputEventPacket>({.hash = 0x100000002, .value = kOn},
                                                                                [](const auto& a, const auto& b) {
                                                                                    EXPECT_EQ(a.hash, b.hash);
                                                                                    EXPECT_TRUE(std::ranges::equal(
                                                                                        a.value, b.value));
                                                                                })},
    };
    return cases;
}

TEST(ProfileVectors, EncodersWriteWhatNodeSimconnectWritesAndDecodersReadIt) {
    const auto& packets = vectors()["clientToServer"].items;
    ASSERT_EQ(packets.size(), clientCases().size());
    for (const auto& vec : packets) {
        const std::string call = vec["call"].text;
        SCOPED_TRACE(call);
        const auto it = clientCases().find(call);
        ASSERT_NE(it, clientCases().end()) << "no case for this vector";
        const Bytes expected = fromHex(vec["hex"].text);
        Bytes out(scproto::kMaxPacketSize);
        out.resize(it->second.encode(out, static_cast<std::uint32_t>(vec["header"]["sendId"].number)));
        EXPECT_EQ(out, expected);
        it->second.checkDecoded(expected);
        // One byte short of what the header says: refused, never read past.
        Bytes cut = expected;
        cut.pop_back();
        scproto::ClientHeader h;
        EXPECT_TRUE(scproto::decodeClientHeader(cut, h));
    }
}

TEST(ProfileVectors, RecordsDecodeAsNodeSimconnectReadsThemAndEncodeBack) {
    const auto& records = vectors()["serverToClient"].items;
    ASSERT_EQ(records.size(), 4u);
    for (const auto& vec : records) {
        const std::string name = vec["record"].text;
        SCOPED_TRACE(name);
        const Bytes bytes = fromHex(vec["hex"].text);
        const auto& node = vec["nodeSimconnectDecoded"];
        Bytes again(scproto::kMaxPacketSize);
        std::size_t n = 0;
        scproto::ServerHeader h;
        ASSERT_FALSE(scproto::decodeServerHeader(bytes, h));
        if (name.starts_with("RECV_EVENT_FILENAME")) {
            scproto::RecvEventFilename r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.group_id, u64(node["groupID"]));
            EXPECT_EQ(r.event_id, u64(node["clientEventId"]));
            EXPECT_EQ(r.data, u64(node["data"]));
            EXPECT_EQ(r.file_name, node["fileName"].text);
            EXPECT_EQ(r.flags, u64(node["flags"]));
            n = scproto::encode(again, h.version, r);
        } else if (name.starts_with("RECV_SYSTEM_STATE")) {
            scproto::RecvSystemState r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.request_id, u64(node["requestID"]));
            EXPECT_EQ(r.integer, u64(node["dataInteger"]));
            EXPECT_EQ(r.float_value, static_cast<float>(node["dataFloat"].number));
            EXPECT_EQ(r.string, node["dataString"].text);
            n = scproto::encode(again, h.version, r);
        } else if (name.starts_with("RECV_ENUMERATE_INPUT_EVENTS")) {
            scproto::RecvEnumerateInputEvents r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.request_id, u64(node["requestID"]));
            EXPECT_EQ(r.entry_number, u64(node["entryNumber"]));
            EXPECT_EQ(r.out_of, u64(node["outOf"]));
            const auto& expected = node["descriptors"].items;
            ASSERT_EQ(r.array_size, expected.size());
            std::vector<scproto::InputEventDescriptor> descriptors;
            for (std::size_t i = 0; i < r.array_size; ++i) {
                descriptors.push_back(scproto::inputEventAt(r, i));
                EXPECT_EQ(descriptors[i].name, expected[i]["name"].text);
                EXPECT_EQ(descriptors[i].hash, u64(expected[i]["hash"]));
                EXPECT_EQ(descriptors[i].type, u64(expected[i]["type"]));
            }
            n = scproto::encode(again, h.version, r, descriptors);
        } else if (name.starts_with("RECV_SIMOBJECT_DATA")) {
            scproto::RecvSimObjectData r;
            ASSERT_FALSE(scproto::decode(bytes, r));
            EXPECT_EQ(r.request_id, u64(node["requestID"]));
            EXPECT_EQ(r.define_count, u64(node["defineCount"]));
            // The string datums as our helpers read them, then written again.
            const auto& values = node["values"].items;
            std::span<const std::uint8_t> data = r.data;
            std::size_t size = 0;
            const auto title = scproto::getStringDatum(data, DataType::String256, size);
            ASSERT_TRUE(title.has_value());
            EXPECT_EQ(*title, values[0].text);
            EXPECT_EQ(scproto::stringDatumSize(DataType::String256, *title), size);
            data = data.subspan(size);
            double altitude = 0;
            std::memcpy(&altitude, data.data(), 8);
            EXPECT_EQ(altitude, values[1].number);
            data = data.subspan(8);
            const auto model = scproto::getStringDatum(data, DataType::StringV, size);
            ASSERT_TRUE(model.has_value());
            EXPECT_EQ(*model, values[2].text);
            EXPECT_EQ(size, data.size());  // the padding ends the block, as node found (nothing left)
            EXPECT_EQ(u64(node["left"]), 0u);
            Bytes block(r.data.size());
            std::size_t at = scproto::putStringDatum(block, DataType::String256, *title);
            std::memcpy(block.data() + at, &altitude, 8);
            at += 8;
            at += scproto::putStringDatum(std::span(block).subspan(at), DataType::StringV, *model);
            EXPECT_EQ(at, block.size());
            EXPECT_TRUE(std::ranges::equal(block, r.data));
            n = scproto::encode(again, h.version, r);
        } else {
            ADD_FAILURE() << "vector with unhandled record";
        }
        again.resize(n);
        EXPECT_EQ(again, bytes);
    }
}

// What the decoders refuse: sizes that disagree with the fields that give
// them, so that nothing is read outside the record or the packet.
TEST(ProfileVectors, DecodersRefuseInconsistentSizes) {
    Bytes out(scproto::kMaxPacketSize);
    // A SetInputEvent whose value size says more than the packet holds.
    const Bytes value = bytesOf(1.0);
    Bytes packet(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(scproto::encode(
                                                out, 5, 1, scproto::SetInputEventPacket{.hash = 7, .value = value})));
    packet[24] = 9;
    scproto::SetInputEventPacket input;
    EXPECT_EQ(scproto::decode(packet, input).code, scproto::ErrorCode::WrongSize);
    // A SetDataOnSimObject shorter than its header.
    packet.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(
                                                 scproto::encode(out, 5, 1, scproto::ClearDataDefinitionPacket{})));
    packet[0] = 20;
    packet[8] = 0x10;  // the ClearDataDefinition's 20 bytes as a SetDataOnSimObject
    scproto::SetDataPacket set;
    EXPECT_EQ(scproto::decode(packet, set).code, scproto::ErrorCode::WrongSize);

    // An input event list whose count disagrees with its size, either way.
    const scproto::InputEventDescriptor two[] = {{.name = "A", .hash = 1, .type = 4}, {.name = "B", .hash = 2}};
    Bytes list(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(
                                              scproto::encode(out, 5, scproto::RecvEnumerateInputEvents{}, two)));
    scproto::RecvEnumerateInputEvents r;
    ASSERT_FALSE(scproto::decode(list, r));
    for (const std::uint8_t count : {1, 3, 0xFF}) {
        Bytes bad = list;
        bad[16] = count;
        bad[19] = count == 0xFF ? 0xFF : 0;
        EXPECT_EQ(scproto::decode(bad, r).code, scproto::ErrorCode::WrongSize) << int(count);
    }
    // Record sizes below their kind's are refused by the header check.
    Bytes state(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(
                                               scproto::encode(out, 5, scproto::RecvSystemState{.string = "x"})));
    state.resize(100);
    state[0] = 100;
    state[1] = 0;
    scproto::ServerHeader h;
    EXPECT_EQ(scproto::decodeServerHeader(state, h).code, scproto::ErrorCode::WrongSize);
    // More descriptors than a record holds are not encoded.
    const std::vector<scproto::InputEventDescriptor> many(scproto::kMaxInputEventsPerRecord + 1);
    EXPECT_EQ(scproto::encode(out, 5, scproto::RecvEnumerateInputEvents{}, many), 0u);
}

TEST(ProfileVectors, StringDatumsAreCutToFitAndReadWithinTheBlock) {
    Bytes out(300, 0xEE);
    const std::string long_text(300, 'x');
    // Fixed widths: cut to width - 1 and NUL-ended; StringV to 255 bytes.
    EXPECT_EQ(scproto::putStringDatum(out, DataType::String8, long_text), 8u);
    EXPECT_EQ(out[7], 0);
    EXPECT_EQ(scproto::stringDatumSize(DataType::StringV, long_text), 256u);
    EXPECT_EQ(scproto::putStringDatum(out, DataType::StringV, long_text), 256u);
    EXPECT_EQ(out[255], 0);
    EXPECT_EQ(scproto::stringDatumSize(DataType::StringV, ""), 4u);
    EXPECT_EQ(scproto::stringDatumSize(DataType::StringV, "abc"), 4u);
    EXPECT_EQ(scproto::stringDatumSize(DataType::StringV, "abcd"), 8u);
    EXPECT_EQ(scproto::putStringDatum(std::span(out).first(7), DataType::String8, "a"), 0u);
    EXPECT_EQ(scproto::putStringDatum(out, DataType::Float64, "a"), 0u);

    std::size_t size = 0;
    const Bytes unterminated(12, 'y');
    EXPECT_FALSE(scproto::getStringDatum(unterminated, DataType::StringV, size).has_value());
    EXPECT_FALSE(scproto::getStringDatum(std::span(unterminated).first(7), DataType::String8, size).has_value());
    EXPECT_EQ(scproto::getStringDatum(unterminated, DataType::String8, size), "yyyyyyyy");  // full width, no NUL
    EXPECT_FALSE(scproto::getStringDatum(unterminated, DataType::Int32, size).has_value());
    EXPECT_FALSE(scproto::getStringDatum({}, DataType::StringV, size).has_value());
}

}  // namespace
