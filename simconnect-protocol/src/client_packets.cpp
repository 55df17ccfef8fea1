// Client -> server packets: a 16-byte header (size, protocol,
// 0xF0000000 | function, send ID) and a fixed-size payload per function.
#include "simconnect_protocol/protocol.h"

#include "wire.h"

#include <cstring>

namespace scproto {
namespace {

using wire::get32;
using wire::put32;

// Clears the packet and writes its header; nullptr when `out` is too small.
std::uint8_t* begin(std::span<std::uint8_t> out, std::size_t size, std::uint32_t protocol, std::uint32_t send_id,
                    FunctionId function) {
    if (out.size() < size) {
        return nullptr;
    }
    std::uint8_t* p = out.data();
    std::memset(p, 0, size);
    put32(p, static_cast<std::uint32_t>(size));
    put32(p + 4, protocol);
    put32(p + 8, kFunctionTypeBase | static_cast<std::uint32_t>(function));
    put32(p + 12, send_id);
    return p;
}

// Header checks plus: the packet is of `function` and exactly `size` bytes.
Error expect(std::span<const std::uint8_t> packet, FunctionId function, std::size_t size) {
    ClientHeader h;
    if (Error e = decodeClientHeader(packet, h)) {
        return e;
    }
    const std::uint32_t id = h.type & ~kFunctionTypeBase;
    if (id != static_cast<std::uint32_t>(function)) {
        return {ErrorCode::UnknownFunction, id};
    }
    if (h.size != size) {
        return {ErrorCode::WrongSize, h.size};
    }
    return {};
}

// Header checks plus: the packet is of `function` and at least `size`
// bytes (a header with a variable part after it).
Error expectAtLeast(std::span<const std::uint8_t> packet, FunctionId function, std::size_t size) {
    ClientHeader h;
    if (Error e = decodeClientHeader(packet, h)) {
        return e;
    }
    const std::uint32_t id = h.type & ~kFunctionTypeBase;
    if (id != static_cast<std::uint32_t>(function)) {
        return {ErrorCode::UnknownFunction, id};
    }
    if (h.size < size) {
        return {ErrorCode::WrongSize, h.size};
    }
    return {};
}

// A packet of the header and one u32.
std::size_t encodeOneWord(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                          FunctionId function, std::uint32_t word) {
    std::uint8_t* b = begin(out, kClientHeaderSize + 4, protocol, send_id, function);
    if (!b) {
        return 0;
    }
    put32(b + 16, word);
    return kClientHeaderSize + 4;
}

Error decodeOneWord(std::span<const std::uint8_t> packet, FunctionId function, std::uint32_t& word) {
    if (Error e = expect(packet, function, kClientHeaderSize + 4)) {
        return e;
    }
    word = get32(packet.data() + 16);
    return {};
}

// A packet of the header, one u32 and a 256-byte name.
std::size_t encodeWordAndName(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                              FunctionId function, std::uint32_t word, std::string_view name) {
    constexpr std::size_t kSize = kClientHeaderSize + 4 + kNameFieldSize;
    std::uint8_t* b = begin(out, kSize, protocol, send_id, function);
    if (!b) {
        return 0;
    }
    put32(b + 16, word);
    wire::putName(b + 20, kNameFieldSize, name);
    return kSize;
}

Error decodeWordAndName(std::span<const std::uint8_t> packet, FunctionId function, std::uint32_t& word,
                        std::string_view& name) {
    if (Error e = expect(packet, function, kClientHeaderSize + 4 + kNameFieldSize)) {
        return e;
    }
    word = get32(packet.data() + 16);
    name = wire::getName(packet.data() + 20, kNameFieldSize);
    return {};
}

}  // namespace

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id, const OpenPacket& p) {
    std::uint8_t* b = begin(out, kOpenPacketSize, protocol, send_id, FunctionId::Open);
    if (!b) {
        return 0;
    }
    wire::putName(b + 16, kNameFieldSize, p.app_name);
    // b + 272: a reserved u32, always 0.
    std::memcpy(b + 276, p.alias.data(), p.alias.size());
    put32(b + 280, p.version_major);
    put32(b + 284, p.version_minor);
    put32(b + 288, p.build_major);
    put32(b + 292, p.build_minor);
    return kOpenPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const MapClientEventPacket& p) {
    std::uint8_t* b = begin(out, kMapClientEventPacketSize, protocol, send_id, FunctionId::MapClientEventToSimEvent);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.event_id);
    wire::putName(b + 20, kNameFieldSize, p.event_name);
    return kMapClientEventPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const TransmitClientEventPacket& p) {
    std::uint8_t* b = begin(out, kTransmitClientEventPacketSize, protocol, send_id, FunctionId::TransmitClientEvent);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.object_id);
    put32(b + 20, p.event_id);
    put32(b + 24, p.data);
    put32(b + 28, p.group_id);
    put32(b + 32, p.flags);
    return kTransmitClientEventPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const AddToDataDefinitionPacket& p) {
    std::uint8_t* b = begin(out, kAddToDataDefinitionPacketSize, protocol, send_id, FunctionId::AddToDataDefinition);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.define_id);
    wire::putName(b + 20, kNameFieldSize, p.datum_name);
    wire::putName(b + 276, kNameFieldSize, p.units_name);
    put32(b + 532, p.datum_type);
    wire::putFloat(b + 536, p.epsilon);
    put32(b + 540, p.datum_id);
    return kAddToDataDefinitionPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const RequestDataPacket& p) {
    std::uint8_t* b = begin(out, kRequestDataPacketSize, protocol, send_id, FunctionId::RequestDataOnSimObject);
    if (!b) {
        return 0;
    }
    const std::uint32_t fields[] = {p.request_id, p.define_id, p.object_id, p.period,
                                    p.flags,      p.origin,    p.interval,  p.limit};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        put32(b + 16 + 4 * i, fields[i]);
    }
    return kRequestDataPacketSize;
}

Error decodeClientHeader(std::span<const std::uint8_t> packet, ClientHeader& out) {
    std::uint32_t size = 0;
    if (Error e = wire::checkWholeMessage(packet, kClientHeaderSize, size)) {
        return e;
    }
    const std::uint8_t* p = packet.data();
    const std::uint32_t type = get32(p + 8);
    if ((type & kFunctionTypeBase) != kFunctionTypeBase) {
        return {ErrorCode::BadTypeField, type};
    }
    out.size = size;
    out.protocol = get32(p + 4);
    out.type = type;
    out.send_id = get32(p + 12);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, OpenPacket& out) {
    if (Error e = expect(packet, FunctionId::Open, kOpenPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.app_name = wire::getName(b + 16, kNameFieldSize);
    std::memcpy(out.alias.data(), b + 276, out.alias.size());
    out.version_major = get32(b + 280);
    out.version_minor = get32(b + 284);
    out.build_major = get32(b + 288);
    out.build_minor = get32(b + 292);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, MapClientEventPacket& out) {
    if (Error e = expect(packet, FunctionId::MapClientEventToSimEvent, kMapClientEventPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.event_id = get32(b + 16);
    out.event_name = wire::getName(b + 20, kNameFieldSize);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, TransmitClientEventPacket& out) {
    if (Error e = expect(packet, FunctionId::TransmitClientEvent, kTransmitClientEventPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.object_id = get32(b + 16);
    out.event_id = get32(b + 20);
    out.data = get32(b + 24);
    out.group_id = get32(b + 28);
    out.flags = get32(b + 32);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, AddToDataDefinitionPacket& out) {
    if (Error e = expect(packet, FunctionId::AddToDataDefinition, kAddToDataDefinitionPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.define_id = get32(b + 16);
    out.datum_name = wire::getName(b + 20, kNameFieldSize);
    out.units_name = wire::getName(b + 276, kNameFieldSize);
    out.datum_type = get32(b + 532);
    out.epsilon = wire::getFloat(b + 536);
    out.datum_id = get32(b + 540);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, RequestDataPacket& out) {
    if (Error e = expect(packet, FunctionId::RequestDataOnSimObject, kRequestDataPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.request_id = get32(b + 16);
    out.define_id = get32(b + 20);
    out.object_id = get32(b + 24);
    out.period = get32(b + 28);
    out.flags = get32(b + 32);
    out.origin = get32(b + 36);
    out.interval = get32(b + 40);
    out.limit = get32(b + 44);
    return {};
}

// --- Data definitions: clearing and setting

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const ClearDataDefinitionPacket& p) {
    return encodeOneWord(out, protocol, send_id, FunctionId::ClearDataDefinition, p.define_id);
}

Error decode(std::span<const std::uint8_t> packet, ClearDataDefinitionPacket& out) {
    return decodeOneWord(packet, FunctionId::ClearDataDefinition, out.define_id);
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id, const SetDataPacket& p) {
    const std::size_t size = kSetDataPacketHeaderSize + p.data.size();
    if (size > kMaxPacketSize) {
        return 0;
    }
    std::uint8_t* b = begin(out, size, protocol, send_id, FunctionId::SetDataOnSimObject);
    if (!b) {
        return 0;
    }
    const std::uint32_t fields[] = {p.define_id, p.object_id, p.flags, p.array_count, p.unit_size};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        put32(b + 16 + 4 * i, fields[i]);
    }
    if (!p.data.empty()) {
        std::memcpy(b + kSetDataPacketHeaderSize, p.data.data(), p.data.size());
    }
    return size;
}

Error decode(std::span<const std::uint8_t> packet, SetDataPacket& out) {
    if (Error e = expectAtLeast(packet, FunctionId::SetDataOnSimObject, kSetDataPacketHeaderSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.define_id = get32(b + 16);
    out.object_id = get32(b + 20);
    out.flags = get32(b + 24);
    out.array_count = get32(b + 28);
    out.unit_size = get32(b + 32);
    out.data = packet.subspan(kSetDataPacketHeaderSize);
    return {};
}

// --- System events and state

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const SubscribeToSystemEventPacket& p) {
    return encodeWordAndName(out, protocol, send_id, FunctionId::SubscribeToSystemEvent, p.event_id, p.event_name);
}

Error decode(std::span<const std::uint8_t> packet, SubscribeToSystemEventPacket& out) {
    return decodeWordAndName(packet, FunctionId::SubscribeToSystemEvent, out.event_id, out.event_name);
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const UnsubscribeFromSystemEventPacket& p) {
    return encodeOneWord(out, protocol, send_id, FunctionId::UnsubscribeFromSystemEvent, p.event_id);
}

Error decode(std::span<const std::uint8_t> packet, UnsubscribeFromSystemEventPacket& out) {
    return decodeOneWord(packet, FunctionId::UnsubscribeFromSystemEvent, out.event_id);
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const RequestSystemStatePacket& p) {
    return encodeWordAndName(out, protocol, send_id, FunctionId::RequestSystemState, p.request_id, p.state);
}

Error decode(std::span<const std::uint8_t> packet, RequestSystemStatePacket& out) {
    return decodeWordAndName(packet, FunctionId::RequestSystemState, out.request_id, out.state);
}

// --- Input events

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const EnumerateInputEventsPacket& p) {
    return encodeOneWord(out, protocol, send_id, FunctionId::EnumerateInputEvents, p.request_id);
}

Error decode(std::span<const std::uint8_t> packet, EnumerateInputEventsPacket& out) {
    return decodeOneWord(packet, FunctionId::EnumerateInputEvents, out.request_id);
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const SetInputEventPacket& p) {
    const std::size_t size = kSetInputEventPacketHeaderSize + p.value.size();
    if (size > kMaxPacketSize) {
        return 0;
    }
    std::uint8_t* b = begin(out, size, protocol, send_id, FunctionId::SetInputEvent);
    if (!b) {
        return 0;
    }
    wire::put64(b + 16, p.hash);
    put32(b + 24, static_cast<std::uint32_t>(p.value.size()));
    if (!p.value.empty()) {
        std::memcpy(b + kSetInputEventPacketHeaderSize, p.value.data(), p.value.size());
    }
    return size;
}

Error decode(std::span<const std::uint8_t> packet, SetInputEventPacket& out) {
    if (Error e = expectAtLeast(packet, FunctionId::SetInputEvent, kSetInputEventPacketHeaderSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    // The value's size field must cover exactly the bytes after it.
    const std::uint32_t value_size = get32(b + 24);
    if (value_size != packet.size() - kSetInputEventPacketHeaderSize) {
        return {ErrorCode::WrongSize, value_size};
    }
    out.hash = wire::get64(b + 16);
    out.value = packet.subspan(kSetInputEventPacketHeaderSize);
    return {};
}

// --- Client data ----------------------------------------------------------

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const MapClientDataNamePacket& p) {
    std::uint8_t* b = begin(out, kMapClientDataNamePacketSize, protocol, send_id, FunctionId::MapClientDataNameToID);
    if (!b) {
        return 0;
    }
    wire::putName(b + 16, kNameFieldSize, p.name);
    put32(b + 272, p.area_id);
    return kMapClientDataNamePacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const CreateClientDataPacket& p) {
    std::uint8_t* b = begin(out, kCreateClientDataPacketSize, protocol, send_id, FunctionId::CreateClientData);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.area_id);
    put32(b + 20, p.size);
    put32(b + 24, p.flags);
    return kCreateClientDataPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const AddToClientDataDefinitionPacket& p) {
    std::uint8_t* b =
        begin(out, kAddToClientDataDefinitionPacketSize, protocol, send_id, FunctionId::AddToClientDataDefinition);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.define_id);
    put32(b + 20, p.offset);
    put32(b + 24, p.size_or_type);
    wire::putFloat(b + 28, p.epsilon);
    put32(b + 32, p.datum_id);
    return kAddToClientDataDefinitionPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const ClearClientDataDefinitionPacket& p) {
    std::uint8_t* b =
        begin(out, kClearClientDataDefinitionPacketSize, protocol, send_id, FunctionId::ClearClientDataDefinition);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.define_id);
    return kClearClientDataDefinitionPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const RequestClientDataPacket& p) {
    std::uint8_t* b = begin(out, kRequestClientDataPacketSize, protocol, send_id, FunctionId::RequestClientData);
    if (!b) {
        return 0;
    }
    const std::uint32_t fields[] = {p.area_id, p.request_id, p.define_id, p.period,
                                    p.flags,   p.origin,     p.interval,  p.limit};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        put32(b + 16 + 4 * i, fields[i]);
    }
    return kRequestClientDataPacketSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const SetClientDataPacket& p) {
    if (p.data.size() > kMaxPacketSize - kSetClientDataHeaderSize) {
        return 0;
    }
    const std::size_t size = kSetClientDataHeaderSize + p.data.size();
    std::uint8_t* b = begin(out, size, protocol, send_id, FunctionId::SetClientData);
    if (!b) {
        return 0;
    }
    put32(b + 16, p.area_id);
    put32(b + 20, p.define_id);
    put32(b + 24, p.flags);
    put32(b + 28, p.reserved);
    put32(b + 32, static_cast<std::uint32_t>(p.data.size()));
    if (!p.data.empty()) {
        std::memcpy(b + kSetClientDataHeaderSize, p.data.data(), p.data.size());
    }
    return size;
}

Error decode(std::span<const std::uint8_t> packet, MapClientDataNamePacket& out) {
    if (Error e = expect(packet, FunctionId::MapClientDataNameToID, kMapClientDataNamePacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.name = wire::getName(b + 16, kNameFieldSize);
    out.area_id = get32(b + 272);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, CreateClientDataPacket& out) {
    if (Error e = expect(packet, FunctionId::CreateClientData, kCreateClientDataPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.area_id = get32(b + 16);
    out.size = get32(b + 20);
    out.flags = get32(b + 24);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, AddToClientDataDefinitionPacket& out) {
    if (Error e = expect(packet, FunctionId::AddToClientDataDefinition, kAddToClientDataDefinitionPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    out.define_id = get32(b + 16);
    out.offset = get32(b + 20);
    out.size_or_type = get32(b + 24);
    out.epsilon = wire::getFloat(b + 28);
    out.datum_id = get32(b + 32);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, ClearClientDataDefinitionPacket& out) {
    if (Error e = expect(packet, FunctionId::ClearClientDataDefinition, kClearClientDataDefinitionPacketSize)) {
        return e;
    }
    out.define_id = get32(packet.data() + 16);
    return {};
}

Error decode(std::span<const std::uint8_t> packet, RequestClientDataPacket& out) {
    if (Error e = expect(packet, FunctionId::RequestClientData, kRequestClientDataPacketSize)) {
        return e;
    }
    const std::uint8_t* b = packet.data();
    std::uint32_t* fields[] = {&out.area_id, &out.request_id, &out.define_id, &out.period,
                               &out.flags,   &out.origin,     &out.interval,  &out.limit};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        *fields[i] = get32(b + 16 + 4 * i);
    }
    return {};
}

Error decode(std::span<const std::uint8_t> packet, SetClientDataPacket& out) {
    ClientHeader h;
    if (Error e = decodeClientHeader(packet, h)) {
        return e;
    }
    const std::uint32_t id = h.type & ~kFunctionTypeBase;
    if (id != static_cast<std::uint32_t>(FunctionId::SetClientData)) {
        return {ErrorCode::UnknownFunction, id};
    }
    if (h.size < kSetClientDataHeaderSize) {
        return {ErrorCode::WrongSize, h.size};
    }
    const std::uint8_t* b = packet.data();
    // The size field must account for exactly the bytes after it.
    if (get32(b + 32) != h.size - kSetClientDataHeaderSize) {
        return {ErrorCode::WrongSize, h.size};
    }
    out.area_id = get32(b + 16);
    out.define_id = get32(b + 20);
    out.flags = get32(b + 24);
    out.reserved = get32(b + 28);
    out.data = packet.subspan(kSetClientDataHeaderSize);
    return {};
}

}  // namespace scproto
