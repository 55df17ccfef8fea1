// Arbitrary bytes, cut at arbitrary points, through the stream reassembler
// for both directions and every decoder on every packet that comes out.
// Whatever the input, nothing may read out of bounds, and what the codec
// accepts must be self-consistent.
#include "simconnect_protocol/protocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

template <typename Record>
void serverRoundTrip(std::span<const std::uint8_t> packet, std::uint32_t version) {
    Record r;
    if (!scproto::decode(packet, r)) {
        static std::uint8_t again[scproto::kMaxPacketSize];
        // Longer records of a kind are accepted; apart from the length field
        // their known part must match.
        const std::size_t n = scproto::encode(again, version, r);
        check(n > 0 && n <= packet.size() && std::memcmp(again + 4, packet.data() + 4, n - 4) == 0);
    }
}

// --- System events and state, input events, strings in data blocks
void profileRecords(std::span<const std::uint8_t> packet) {
    scproto::RecvEventFilename file;
    if (!scproto::decode(packet, file)) {
        check(file.file_name.size() <= scproto::kPathFieldSize);
    }
    scproto::RecvSystemState state;
    if (!scproto::decode(packet, state)) {
        check(state.string.size() <= scproto::kPathFieldSize);
    }
    scproto::RecvEnumerateInputEvents list;
    if (!scproto::decode(packet, list)) {
        check(list.entries.size() == list.array_size * scproto::kInputEventDescriptorSize);
        for (std::size_t i = 0; i < list.array_size; ++i) {
            check(scproto::inputEventAt(list, i).name.size() <= scproto::kInputEventNameSize);
        }
    }
    // Any record's tail read as string datums of every type.
    for (auto type = static_cast<std::uint32_t>(scproto::DataType::String8);
         type <= static_cast<std::uint32_t>(scproto::DataType::StringV); ++type) {
        std::span<const std::uint8_t> data = packet.subspan(std::min<std::size_t>(packet.size(), 12));
        std::size_t size = 0;
        while (const auto text = scproto::getStringDatum(data, static_cast<scproto::DataType>(type), size)) {
            check(size > 0 && size <= data.size() && text->size() < size + 1);
            data = data.subspan(size);
        }
    }
}

void serverPacket(std::span<const std::uint8_t> packet) {
    scproto::ServerHeader h;
    const scproto::Error e = scproto::decodeServerHeader(packet, h);
    // The reassembler cut it by the same length field, so only a size too
    // small for the record's kind can be wrong.
    check(!e || e.code == scproto::ErrorCode::WrongSize);
    (void)scproto::describe(e);
    if (e) {
        return;
    }
    scproto::RecvOpen open;
    if (!scproto::decode(packet, open)) {
        check(open.application_name.size() <= scproto::kNameFieldSize);
        check(h.id == static_cast<std::uint32_t>(scproto::RecvId::Open));
    }
    serverRoundTrip<scproto::RecvException>(packet, h.version);
    serverRoundTrip<scproto::RecvEvent>(packet, h.version);
    serverRoundTrip<scproto::RecvQuit>(packet, h.version);
    serverRoundTrip<scproto::RecvSimObjectData>(packet, h.version);
    serverRoundTrip<scproto::RecvClientData>(packet, h.version);
    profileRecords(packet);
}

template <typename Packet>
void clientRoundTrip(std::span<const std::uint8_t> packet, const scproto::ClientHeader& h) {
    Packet p;
    if (!scproto::decode(packet, p)) {
        static std::uint8_t again[scproto::kMaxPacketSize];
        const std::size_t n = scproto::encode(again, h.protocol, h.send_id, p);
        check(n == packet.size() && std::memcmp(again, packet.data(), n) == 0);
    }
}

void clientPacket(std::span<const std::uint8_t> packet) {
    scproto::ClientHeader h;
    if (scproto::decodeClientHeader(packet, h)) {
        return;  // e.g. a type without the marker: the per-kind decoders refuse it too
    }
    scproto::OpenPacket open;
    scproto::MapClientEventPacket map;
    scproto::AddToDataDefinitionPacket add;
    if (!scproto::decode(packet, open)) {
        check(open.app_name.size() <= scproto::kNameFieldSize);
    }
    if (!scproto::decode(packet, map)) {
        check(map.event_name.size() <= scproto::kNameFieldSize);
    }
    if (!scproto::decode(packet, add)) {
        check(add.datum_name.size() <= scproto::kNameFieldSize && add.units_name.size() <= scproto::kNameFieldSize);
    }
    clientRoundTrip<scproto::TransmitClientEventPacket>(packet, h);
    clientRoundTrip<scproto::RequestDataPacket>(packet, h);
    // Client data.
    scproto::MapClientDataNamePacket map_area;
    if (!scproto::decode(packet, map_area)) {
        check(map_area.name.size() <= scproto::kNameFieldSize);
    }
    clientRoundTrip<scproto::CreateClientDataPacket>(packet, h);
    clientRoundTrip<scproto::AddToClientDataDefinitionPacket>(packet, h);
    clientRoundTrip<scproto::ClearClientDataDefinitionPacket>(packet, h);
    clientRoundTrip<scproto::RequestClientDataPacket>(packet, h);
    clientRoundTrip<scproto::SetClientDataPacket>(packet, h);
    // --- Data definitions, system events and state, input events
    clientRoundTrip<scproto::ClearDataDefinitionPacket>(packet, h);
    clientRoundTrip<scproto::SetDataPacket>(packet, h);
    clientRoundTrip<scproto::UnsubscribeFromSystemEventPacket>(packet, h);
    clientRoundTrip<scproto::EnumerateInputEventsPacket>(packet, h);
    clientRoundTrip<scproto::SetInputEventPacket>(packet, h);
    scproto::SubscribeToSystemEventPacket subscribe;
    if (!scproto::decode(packet, subscribe)) {
        check(subscribe.event_name.size() < scproto::kNameFieldSize + 1);
    }
    scproto::RequestSystemStatePacket state;
    if (!scproto::decode(packet, state)) {
        check(state.state.size() < scproto::kNameFieldSize + 1);
    }
}

// Feeds `data` in chunks whose sizes come from a small LCG started from the
// input's first bytes, alternating feed() and writable()/commit().
template <typename OnPacket>
void run(scproto::StreamReassembler& r, std::span<const std::uint8_t> data, std::uint32_t rng, OnPacket on_packet) {
    std::size_t at = 0;
    std::size_t total = 0;
    bool use_feed = true;
    while (at < data.size()) {
        rng = rng * 1664525u + 1013904223u;
        std::size_t chunk = 1 + (rng >> 16) % 97;
        chunk = std::min(chunk, data.size() - at);
        if (use_feed) {
            at += r.feed(data.subspan(at, chunk));
        } else {
            auto room = r.writable();
            const std::size_t n = std::min(room.size(), chunk);
            std::memcpy(room.data(), data.data() + at, n);
            r.commit(n);
            at += n;
        }
        use_feed = !use_feed;
        scproto::Error e;
        for (auto p = r.next(e); !p.empty(); p = r.next(e)) {
            total += p.size();
            on_packet(p);
        }
        if (e) {
            check(r.failed());
            return;
        }
        if (r.buffered() == 0 && at < data.size() && r.writable().empty()) {
            std::abort();  // no progress possible
        }
    }
    check(total + r.buffered() == data.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint32_t rng = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8);
    const std::span<const std::uint8_t> data(bytes + 2, size - 2);

    // Built once and reset per input: a fresh 128 KiB buffer per run would
    // spend most of the time in the sanitizer's allocator.
    static scproto::StreamReassembler server_side(scproto::kClientHeaderSize);
    server_side.reset();
    run(server_side, data, rng, clientPacket);

    static scproto::StreamReassembler client_side(scproto::kServerHeaderSize);
    client_side.reset();
    run(client_side, data, rng, serverPacket);

    // A small maximum makes the buffer wrap and compact on short inputs too.
    static scproto::StreamReassembler small(scproto::kServerHeaderSize, 320);
    small.reset();
    run(small, data, rng ^ 0xA5A5, [](std::span<const std::uint8_t> p) {
        check(p.size() <= 320);
        serverPacket(p);
    });
    return 0;
}
