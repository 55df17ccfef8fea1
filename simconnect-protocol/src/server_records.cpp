// Server -> client records: a 12-byte header (size, version, record ID)
// followed by the record's fields, as the SIMCONNECT_RECV_* structs lay them.
#include "simconnect_protocol/protocol.h"

#include "wire.h"

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
