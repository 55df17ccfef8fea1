// Server -> client records: a 12-byte header (size, version, record ID)
// followed by the record's fields, as the SIMCONNECT_RECV_* structs lay them.
#include "simconnect_protocol/protocol.h"

#include "wire.h"

#include <algorithm>
#include <cstring>

namespace scproto {
namespace {

using wire::get32;
using wire::put32;

std::uint8_t* begin(std::span<std::uint8_t> out, std::size_t size, std::uint32_t version, RecvId id) {
    if (out.size() < size) {
        return nullptr;
    }
    std::uint8_t* p = out.data();
    std::memset(p, 0, size);
    put32(p, static_cast<std::uint32_t>(size));
    put32(p + 4, version);
    put32(p + 8, static_cast<std::uint32_t>(id));
    return p;
}

// Smallest size a record of this kind can have; 0 for kinds we do not know.
std::size_t minimumSize(std::uint32_t id) {
    switch (static_cast<RecvId>(id)) {
    case RecvId::Exception: return kRecvExceptionSize;
    case RecvId::Open: return kRecvOpenSize;
    case RecvId::Quit: return kRecvQuitSize;
    case RecvId::Event: return kRecvEventSize;
    case RecvId::SimObjectData:
    case RecvId::ClientData: return kRecvSimObjectDataHeaderSize;
    case RecvId::EventFilename: return kRecvEventFilenameSize;
    case RecvId::SystemState: return kRecvSystemStateSize;
    case RecvId::EnumerateInputEvents: return kRecvListHeaderSize;
    }
    return 0;
}

Error expect(std::span<const std::uint8_t> record, RecvId id) {
    ServerHeader h;
    if (Error e = decodeServerHeader(record, h)) {
        return e;
    }
    if (h.id != static_cast<std::uint32_t>(id)) {
        return {ErrorCode::UnknownRecord, h.id};
    }
    return {};
}

// The fields of a record laid out as SIMOBJECT_DATA, its ID checked.
void readObjectData(std::span<const std::uint8_t> record, RecvSimObjectData& out) {
    const std::uint8_t* b = record.data();
    out.request_id = get32(b + 12);
    out.object_id = get32(b + 16);
    out.define_id = get32(b + 20);
    out.flags = get32(b + 24);
    out.entry_number = get32(b + 28);
    out.out_of = get32(b + 32);
    out.define_count = get32(b + 36);
    out.data = record.subspan(kRecvSimObjectDataHeaderSize);
}

}  // namespace

RecvOpen kittyHawkOpen() {
    RecvOpen r;
    r.application_name = "KittyHawk";
    r.application_version_major = 11;
    r.application_version_minor = 0;
    r.application_build_major = 282174;
    r.application_build_minor = 999;
    r.simconnect_version_major = 11;
    r.simconnect_version_minor = 0;
    r.simconnect_build_major = 62651;
    r.simconnect_build_minor = 3;
    return r;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvOpen& r) {
    std::uint8_t* b = begin(out, kRecvOpenSize, version, RecvId::Open);
    if (!b) {
        return 0;
    }
    wire::putName(b + 12, kNameFieldSize, r.application_name);
    const std::uint32_t fields[] = {r.application_version_major,
                                    r.application_version_minor,
                                    r.application_build_major,
                                    r.application_build_minor,
                                    r.simconnect_version_major,
                                    r.simconnect_version_minor,
                                    r.simconnect_build_major,
                                    r.simconnect_build_minor,
                                    r.reserved1,
                                    r.reserved2};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        put32(b + 268 + 4 * i, fields[i]);
    }
    return kRecvOpenSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvException& r) {
    std::uint8_t* b = begin(out, kRecvExceptionSize, version, RecvId::Exception);
    if (!b) {
        return 0;
    }
    put32(b + 12, r.exception);
    put32(b + 16, r.send_id);
    put32(b + 20, r.index);
    return kRecvExceptionSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvQuit&) {
    return begin(out, kRecvQuitSize, version, RecvId::Quit) ? kRecvQuitSize : 0;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvEvent& r) {
    std::uint8_t* b = begin(out, kRecvEventSize, version, RecvId::Event);
    if (!b) {
        return 0;
    }
    put32(b + 12, r.group_id);
    put32(b + 16, r.event_id);
    put32(b + 20, r.data);
    return kRecvEventSize;
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvSimObjectData& r) {
    const std::size_t size = kRecvSimObjectDataHeaderSize + r.data.size();
    if (size > kMaxPacketSize) {
        return 0;
    }
    std::uint8_t* b = begin(out, size, version, RecvId::SimObjectData);
    if (!b) {
        return 0;
    }
    const std::uint32_t fields[] = {r.request_id,   r.object_id, r.define_id,   r.flags,
                                    r.entry_number, r.out_of,    r.define_count};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        put32(b + 12 + 4 * i, fields[i]);
    }
    if (!r.data.empty()) {
        std::memcpy(b + kRecvSimObjectDataHeaderSize, r.data.data(), r.data.size());
    }
    return size;
}

Error decodeServerHeader(std::span<const std::uint8_t> record, ServerHeader& out) {
    std::uint32_t size = 0;
    if (Error e = wire::checkWholeMessage(record, kServerHeaderSize, size)) {
        return e;
    }
    const std::uint32_t id = get32(record.data() + 8);
    if (size < minimumSize(id)) {
        return {ErrorCode::WrongSize, size};
    }
    out.size = size;
    out.version = get32(record.data() + 4);
    out.id = id;
    return {};
}

Error decode(std::span<const std::uint8_t> record, RecvOpen& out) {
    if (Error e = expect(record, RecvId::Open)) {
        return e;
    }
    const std::uint8_t* b = record.data();
    out.application_name = wire::getName(b + 12, kNameFieldSize);
    std::uint32_t* fields[] = {&out.application_version_major,
                               &out.application_version_minor,
                               &out.application_build_major,
                               &out.application_build_minor,
                               &out.simconnect_version_major,
                               &out.simconnect_version_minor,
                               &out.simconnect_build_major,
                               &out.simconnect_build_minor,
                               &out.reserved1,
                               &out.reserved2};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        *fields[i] = get32(b + 268 + 4 * i);
    }
    return {};
}

Error decode(std::span<const std::uint8_t> record, RecvException& out) {
    if (Error e = expect(record, RecvId::Exception)) {
        return e;
    }
    const std::uint8_t* b = record.data();
    out.exception = get32(b + 12);
    out.send_id = get32(b + 16);
    out.index = get32(b + 20);
    return {};
}

Error decode(std::span<const std::uint8_t> record, RecvQuit&) { return expect(record, RecvId::Quit); }

Error decode(std::span<const std::uint8_t> record, RecvEvent& out) {
    if (Error e = expect(record, RecvId::Event)) {
        return e;
    }
    const std::uint8_t* b = record.data();
    out.group_id = get32(b + 12);
    out.event_id = get32(b + 16);
    out.data = get32(b + 20);
    return {};
}

Error decode(std::span<const std::uint8_t> record, RecvSimObjectData& out) {
    if (Error e = expect(record, RecvId::SimObjectData)) {
        return e;
    }
    readObjectData(record, out);
    return {};
}

// --- System events and state

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvEventFilename& r) {
    std::uint8_t* b = begin(out, kRecvEventFilenameSize, version, RecvId::EventFilename);
    if (!b) {
        return 0;
    }
    put32(b + 12, r.group_id);
    put32(b + 16, r.event_id);
    put32(b + 20, r.data);
    wire::putName(b + 24, kPathFieldSize, r.file_name);
    put32(b + 24 + kPathFieldSize, r.flags);
    return kRecvEventFilenameSize;
}

Error decode(std::span<const std::uint8_t> record, RecvEventFilename& out) {
    if (Error e = expect(record, RecvId::EventFilename)) {
        return e;
    }
    const std::uint8_t* b = record.data();
    out.group_id = get32(b + 12);
    out.event_id = get32(b + 16);
    out.data = get32(b + 20);
    out.file_name = wire::getName(b + 24, kPathFieldSize);
    out.flags = get32(b + 24 + kPathFieldSize);
    return {};
}

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvSystemState& r) {
    std::uint8_t* b = begin(out, kRecvSystemStateSize, version, RecvId::SystemState);
    if (!b) {
        return 0;
    }
    put32(b + 12, r.request_id);
    put32(b + 16, r.integer);
    wire::putFloat(b + 20, r.float_value);
    wire::putName(b + 24, kPathFieldSize, r.string);
    return kRecvSystemStateSize;
}

Error decode(std::span<const std::uint8_t> record, RecvSystemState& out) {
    if (Error e = expect(record, RecvId::SystemState)) {
        return e;
    }
    const std::uint8_t* b = record.data();
    out.request_id = get32(b + 12);
    out.integer = get32(b + 16);
    out.float_value = wire::getFloat(b + 20);
    out.string = wire::getName(b + 24, kPathFieldSize);
    return {};
}

// --- Input events

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvEnumerateInputEvents& r,
                   std::span<const InputEventDescriptor> descriptors) {
    if (descriptors.size() > kMaxInputEventsPerRecord) {
        return 0;
    }
    const std::size_t size = kRecvListHeaderSize + descriptors.size() * kInputEventDescriptorSize;
    std::uint8_t* b = begin(out, size, version, RecvId::EnumerateInputEvents);
    if (!b) {
        return 0;
    }
    put32(b + 12, r.request_id);
    put32(b + 16, static_cast<std::uint32_t>(descriptors.size()));
    put32(b + 20, r.entry_number);
    put32(b + 24, r.out_of);
    std::uint8_t* d = b + kRecvListHeaderSize;
    for (const InputEventDescriptor& e : descriptors) {
        wire::putName(d, kInputEventNameSize, e.name);
        wire::put64(d + kInputEventNameSize, e.hash);
        put32(d + kInputEventNameSize + 8, e.type);
        d += kInputEventDescriptorSize;
    }
    return size;
}

Error decode(std::span<const std::uint8_t> record, RecvEnumerateInputEvents& out) {
    if (Error e = expect(record, RecvId::EnumerateInputEvents)) {
        return e;
    }
    const std::uint8_t* b = record.data();
    const std::uint32_t count = get32(b + 16);
    // The size was checked against kMaxPacketSize, so this cannot overflow
    // for any count that could match it.
    if (count > kMaxInputEventsPerRecord || record.size() != kRecvListHeaderSize + count * kInputEventDescriptorSize) {
        return {ErrorCode::WrongSize, static_cast<std::uint32_t>(record.size())};
    }
    out.request_id = get32(b + 12);
    out.array_size = count;
    out.entry_number = get32(b + 20);
    out.out_of = get32(b + 24);
    out.entries = record.subspan(kRecvListHeaderSize);
    return {};
}

InputEventDescriptor inputEventAt(const RecvEnumerateInputEvents& r, std::size_t i) {
    const std::uint8_t* d = r.entries.data() + i * kInputEventDescriptorSize;
    return InputEventDescriptor{.name = wire::getName(d, kInputEventNameSize),
                                .hash = wire::get64(d + kInputEventNameSize),
                                .type = get32(d + kInputEventNameSize + 8)};
}

// --- Strings in data blocks

namespace {

// A StringV datum holds at most what a name field holds, then its NUL,
// padded to a multiple of 4 bytes.
std::size_t stringVText(std::string_view text) { return std::min(text.size(), kNameFieldSize - 1); }
std::size_t roundUp4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

}  // namespace

std::size_t stringDatumSize(DataType type, std::string_view text) {
    if (type == DataType::StringV) {
        return roundUp4(stringVText(text) + 1);
    }
    return stringTypeWidth(type);
}

std::size_t putStringDatum(std::span<std::uint8_t> out, DataType type, std::string_view text) {
    const std::size_t size = stringDatumSize(type, text);
    if (size == 0 || out.size() < size) {
        return 0;
    }
    const std::size_t field = type == DataType::StringV ? stringVText(text) + 1 : size;
    wire::putName(out.data(), field, text);
    std::memset(out.data() + field, 0, size - field);
    return size;
}

std::optional<std::string_view> getStringDatum(std::span<const std::uint8_t> data, DataType type, std::size_t& size) {
    const auto* c = reinterpret_cast<const char*>(data.data());
    if (type == DataType::StringV) {
        const void* nul = data.empty() ? nullptr : std::memchr(c, 0, data.size());
        if (!nul) {
            return std::nullopt;
        }
        const auto n = static_cast<std::size_t>(static_cast<const char*>(nul) - c);
        // The padding may be cut short only by the end of the block.
        size = std::min(roundUp4(n + 1), data.size());
        return std::string_view(c, n);
    }
    const std::size_t width = stringTypeWidth(type);
    if (width == 0 || data.size() < width) {
        return std::nullopt;
    }
    size = width;
    return wire::getName(data.data(), width);
}

// --- Client data ----------------------------------------------------------

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvClientData& r) {
    const std::size_t n = encode(out, version, static_cast<const RecvSimObjectData&>(r));
    if (n != 0) {
        put32(out.data() + 8, static_cast<std::uint32_t>(RecvId::ClientData));
    }
    return n;
}

Error decode(std::span<const std::uint8_t> record, RecvClientData& out) {
    if (Error e = expect(record, RecvId::ClientData)) {
        return e;
    }
    readObjectData(record, out);
    return {};
}

// --- MSFS 2024 -------------------------------------------------------------

RecvOpen sunRiseOpen() {
    RecvOpen r;
    r.application_name = "SunRise";
    r.application_version_major = 12;
    r.application_version_minor = 1;
    r.application_build_major = 282174;
    r.application_build_minor = 999;
    r.simconnect_version_major = 12;
    r.simconnect_version_minor = 1;
    return r;
}

}  // namespace scproto
