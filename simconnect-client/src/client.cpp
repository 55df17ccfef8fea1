// The functions of SimConnect.h over TCP. One Connection per handle, with
// every buffer it needs allocated at Open, so that requests and dispatch
// allocate nothing afterwards.
// On Windows SimConnect.h takes DWORD, HANDLE and HRESULT from <windows.h>,
// as the SDK's does.
#include "windows_headers.h"

#include "SimConnect.h"
#include "simconnect_net.h"

#include "config.h"
#include "last_error.h"
#include "socket.h"

#include "simconnect_protocol/protocol.h"

#include <array>
#include <atomic>
#include <cstring>
#include <new>

namespace scnet {
namespace {

// A name server's answer normally takes milliseconds; one that does not
// answer would hold Open for the resolver's own timeouts.
constexpr int kLookupTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 3000;
// How long Open waits for the simulator's RECV_OPEN, as node-simconnect does.
constexpr int kAnswerTimeoutMs = 5000;
// A simulator that takes longer than this to accept a few hundred bytes is
// treated as gone: the alternative is hanging the caller's loop.
constexpr int kSendTimeoutMs = 2000;
// Reads per CallDispatch; bounds the time spent when a peer floods us.
constexpr int kMaxReadsPerDispatch = 64;

constexpr HRESULT kRemoteDisconnect = SIMCONNECT_NET_REMOTE_DISCONNECT;
// What the variable-size packets can carry after their headers.
constexpr std::size_t kMaxSetDataBytes = scproto::kMaxPacketSize - scproto::kSetDataPacketHeaderSize;
constexpr std::size_t kMaxInputEventValueBytes = scproto::kMaxPacketSize - scproto::kSetInputEventPacketHeaderSize;

// Set by the program's main thread, read by whichever thread opens.
std::atomic<int (*)(void)> cancel_check{nullptr};

struct Connection {
    SocketHandle socket = kNoSocket;
    std::uint32_t next_send_id = 1;
    bool lost = false;
    // Lost by a failed send: what the simulator sent before it closed (a
    // QUIT, most often) may still wait here or in the socket, and the next
    // CallDispatch hands it over before it reports the loss.
    bool unread = false;
    bool dispatching = false;
    bool close_requested = false;
    char peer[128] = "";
    // Room for the largest packet: SetDataOnSimObject carries a whole block.
    std::array<std::uint8_t, scproto::kMaxPacketSize> send_buffer{};
    scproto::StreamReassembler receiver{scproto::kServerHeaderSize};
    // Each record is copied here before the callback sees it: aligned like
    // the real library's buffers, so callers may read doubles in place.
    alignas(8) std::array<std::uint8_t, scproto::kMaxPacketSize + 8> record{};
};

// Handles handed out and not yet closed. A handle that is not here (never
// opened or already closed) is refused instead of being dereferenced.
constexpr std::size_t kMaxConnections = 64;
Connection* live[kMaxConnections] = {};

bool registerConnection(Connection* c) {
    for (auto& slot : live) {
        if (!slot) {
            slot = c;
            return true;
        }
    }
    return false;
}

void unregisterConnection(Connection* c) {
    for (auto& slot : live) {
        if (slot == c) {
            slot = nullptr;
        }
    }
}

void destroy(Connection* c) {
    closeSocket(c->socket);
    delete c;
}

// The connection behind a handle, or the HRESULT to return.
HRESULT lookup(HANDLE h, Connection*& out, const char* call) {
    if (!h) {
        setLastError("%s: null handle", call);
        return E_INVALIDARG;
    }
    for (Connection* c : live) {
        if (c == h) {
            out = c;
            if (c->lost || c->close_requested) {
                return kRemoteDisconnect;
            }
            return S_OK;
        }
    }
    setLastError("%s: unknown or closed handle", call);
    return E_FAIL;
}

HRESULT markLost(Connection* c, const char* reason) {
    if (!c->lost) {
        c->lost = true;
        setLastError("connection to %s lost: %s", c->peer, reason);
    }
    return kRemoteDisconnect;
}

template <typename Packet>
HRESULT sendPacket(HANDLE h, const char* call, const Packet& packet) {
    Connection* c = nullptr;
    if (const HRESULT r = lookup(h, c, call); r != S_OK) {
        return r;
    }
    const std::size_t n = scproto::encode(c->send_buffer, scproto::kProtocolKittyHawk, c->next_send_id, packet);
    Reason why;
    const IoStatus status =
        sendAll(c->socket, std::span(c->send_buffer).first(n), patienceFor(kSendTimeoutMs, cancel_check.load()), why);
    if (status == IoStatus::Cancelled) {
        // Part of the packet may have gone: the stream cannot go on.
        c->lost = true;
        setLastError("sending to %s: cancelled", c->peer);
        return E_ABORT;
    }
    if (status != IoStatus::Ok) {
        c->unread = !c->lost;
        return markLost(c, why.text);
    }
    ++c->next_send_id;
    return S_OK;
}

const char* orEmpty(const char* s) { return s ? s : ""; }

// Takes the next whole record out of `from` into `record` (left empty when
// none has all arrived yet) and reads its header. False when the stream is
// corrupt: then `why` says how.
bool nextRecord(scproto::StreamReassembler& from, std::span<const std::uint8_t>& record, scproto::ServerHeader& header,
                Reason& why) {
    scproto::Error error;
    record = from.next(error);
    if (error) {
        std::snprintf(why.text, sizeof why.text, "corrupt stream from the simulator: %s",
                      scproto::describe(error).c_str());
        return false;
    }
    if (!record.empty()) {
        if (scproto::Error bad = scproto::decodeServerHeader(record, header)) {
            std::snprintf(why.text, sizeof why.text, "corrupt record from the simulator: %s",
                          scproto::describe(bad).c_str());
            return false;
        }
    }
    return true;
}

// Hands every whole record in the receiver to the callback. False when the
// stream turned out corrupt (the connection is then marked lost).
bool deliver(Connection* c, DispatchProc callback, void* context) {
    scproto::ServerHeader header;
    std::span<const std::uint8_t> record;
    Reason why;
    bool intact = true;
    while ((intact = nextRecord(c->receiver, record, header, why)) && !record.empty()) {
        std::memcpy(c->record.data(), record.data(), record.size());
        callback(reinterpret_cast<SIMCONNECT_RECV*>(c->record.data()), header.size, context);
        if (c->close_requested) {
            return true;
        }
    }
    if (!intact) {
        markLost(c, why.text);
    }
    return intact;
}

// Reads until the simulator's RECV_OPEN has come, leaving it and every
// record around it in the receiver for the first CallDispatch. A second
// reassembler cuts the same bytes, to look at the records without taking
// them out of the first. Ok, or TimedOut, Cancelled, Closed, Failed with
// `why` set.
IoStatus awaitAnswer(Connection* c, const Patience& patience, Reason& why) {
    scproto::StreamReassembler seen{scproto::kServerHeaderSize};
    for (;;) {
        if (const IoStatus waited = waitReadable(c->socket, patience, why); waited != IoStatus::Ok) {
            return waited;
        }
        const std::span<std::uint8_t> room = c->receiver.writable();
        if (room.empty()) {
            // Only reached when the simulator sends a buffer full of records
            // before its answer, which no simulator does.
            std::snprintf(why.text, sizeof why.text, "%zu bytes of records without RECV_OPEN among them",
                          c->receiver.buffered());
            return IoStatus::Failed;
        }
        std::size_t got = 0;
        const IoStatus status = receiveSome(c->socket, room, got, why);
        if (status == IoStatus::WouldBlock) {
            continue;
        }
        if (status != IoStatus::Ok) {
            return status;
        }
        c->receiver.commit(got);
        seen.feed(room.first(got));
        scproto::ServerHeader header;
        std::span<const std::uint8_t> record;
        bool intact = true;
        while ((intact = nextRecord(seen, record, header, why)) && !record.empty()) {
            if (header.id == static_cast<std::uint32_t>(scproto::RecvId::Open)) {
                return IoStatus::Ok;
            }
        }
        if (!intact) {
            return IoStatus::Failed;
        }
    }
}

}  // namespace
}  // namespace scnet

// The C entry points below are thin wrappers over the helpers above.
using namespace scnet;

SIMCONNECTAPI SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND, DWORD, HANDLE, DWORD ConfigIndex) {
    if (!phSimConnect) {
        setLastError("SimConnect_Open: null handle pointer");
        return E_INVALIDARG;
    }
    *phSimConnect = nullptr;
    const ConfigResult config = findServer(ConfigIndex, configSearchPath());
    if (config.status != ConfigStatus::Ok) {
        setLastError("%s", config.error.c_str());
        return config.status == ConfigStatus::MissingSection ? E_INVALIDARG : E_FAIL;
    }
    auto* c = new (std::nothrow) Connection;
    if (!c) {
        setLastError("SimConnect_Open: out of memory");
        return E_FAIL;
    }
    const char* origin = config.server.origin.c_str();
    int (*const cancelled)(void) = cancel_check.load();
    Reason why;
    IoStatus status = connectTcp(config.server.address.c_str(), config.server.port.c_str(), kLookupTimeoutMs,
                                 kConnectTimeoutMs, cancelled, c->socket, c->peer, why);
    if (status != IoStatus::Ok) {
        setLastError("%s (%s)", why.text, origin);
        destroy(c);
        return status == IoStatus::Cancelled ? E_ABORT : E_FAIL;
    }
    scproto::OpenPacket open;
    open.app_name = orEmpty(szName);
    const std::size_t n = scproto::encode(c->send_buffer, scproto::kProtocolKittyHawk, c->next_send_id, open);
    status = sendAll(c->socket, std::span(c->send_buffer).first(n), patienceFor(kSendTimeoutMs, cancelled), why);
    if (status == IoStatus::Cancelled) {
        setLastError("sending the Open to %s: cancelled (%s)", c->peer, origin);
        destroy(c);
        return E_ABORT;
    }
    if (status != IoStatus::Ok) {
        setLastError("connection to %s lost: %s (%s)", c->peer, why.text, origin);
        destroy(c);
        return E_FAIL;
    }
    ++c->next_send_id;
    // The simulator answers an accepted Open with RECV_OPEN: until then we
    // do not know that a SimConnect server, rather than anything listening
    // on the port, has the connection.
    status = awaitAnswer(c, patienceFor(kAnswerTimeoutMs, cancelled), why);
    if (status != IoStatus::Ok) {
        switch (status) {
        case IoStatus::TimedOut:
            setLastError("no answer from %s within %d s (%s)", c->peer, kAnswerTimeoutMs / 1000, origin);
            break;
        case IoStatus::Cancelled: setLastError("waiting for %s to answer: cancelled (%s)", c->peer, origin); break;
        case IoStatus::Closed: setLastError("%s closed the connection before answering (%s)", c->peer, origin); break;
        default: setLastError("no answer from %s: %s (%s)", c->peer, why.text, origin); break;
        }
        destroy(c);
        return status == IoStatus::Cancelled ? E_ABORT : E_FAIL;
    }
    if (!registerConnection(c)) {
        setLastError("SimConnect_Open: more than %zu connections open", kMaxConnections);
        destroy(c);
        return E_FAIL;
    }
    *phSimConnect = c;
    return S_OK;
}

SIMCONNECTAPI SimConnect_Close(HANDLE hSimConnect) {
    Connection* c = nullptr;
    const HRESULT r = lookup(hSimConnect, c, "SimConnect_Close");
    if (!c) {
        return r;
    }
    unregisterConnection(c);
    if (c->dispatching) {
        // Called from inside the callback: CallDispatch frees it on return.
        c->close_requested = true;
        return S_OK;
    }
    destroy(c);
    return S_OK;
}

SIMCONNECTAPI SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                  const char* EventName) {
    return sendPacket(hSimConnect, "SimConnect_MapClientEventToSimEvent",
                      scproto::MapClientEventPacket{.event_id = EventID, .event_name = orEmpty(EventName)});
}

SIMCONNECTAPI SimConnect_AddToDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                             const char* DatumName, const char* UnitsName,
                                             SIMCONNECT_DATATYPE DatumType, float fEpsilon, DWORD DatumID) {
    scproto::AddToDataDefinitionPacket p;
    p.define_id = DefineID;
    p.datum_name = orEmpty(DatumName);
    p.units_name = orEmpty(UnitsName);
    p.datum_type = static_cast<std::uint32_t>(DatumType);
    p.epsilon = fEpsilon;
    p.datum_id = DatumID;
    return sendPacket(hSimConnect, "SimConnect_AddToDataDefinition", p);
}

SIMCONNECTAPI SimConnect_RequestDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                                SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags,
                                                DWORD origin, DWORD interval, DWORD limit) {
    const scproto::RequestDataPacket p{.request_id = RequestID,
                                       .define_id = DefineID,
                                       .object_id = ObjectID,
                                       .period = static_cast<std::uint32_t>(Period),
                                       .flags = Flags,
                                       .origin = origin,
                                       .interval = interval,
                                       .limit = limit};
    return sendPacket(hSimConnect, "SimConnect_RequestDataOnSimObject", p);
}

SIMCONNECTAPI SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                             SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                             SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags) {
    return sendPacket(
        hSimConnect, "SimConnect_TransmitClientEvent",
        scproto::TransmitClientEventPacket{
            .object_id = ObjectID, .event_id = EventID, .data = dwData, .group_id = GroupID, .flags = Flags});
}

SIMCONNECTAPI SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext) {
    Connection* c = nullptr;
    if (const HRESULT r = lookup(hSimConnect, c, "SimConnect_CallDispatch");
        r != S_OK && !(r == kRemoteDisconnect && c->unread)) {
        return r;
    }
    if (!pfcnDispatch) {
        setLastError("SimConnect_CallDispatch: null callback");
        return E_INVALIDARG;
    }
    if (c->dispatching) {
        setLastError("SimConnect_CallDispatch: called from inside its own callback");
        return E_FAIL;
    }
    c->dispatching = true;
    // After a failed send, once: reading on is for what is left, not for
    // a session that goes on.
    const bool draining = c->unread;
    c->unread = false;
    // First what is already here: the records that came with Open's answer.
    bool ok = deliver(c, pfcnDispatch, pContext) && !c->close_requested;
    int reads = 0;
    for (; ok && reads < kMaxReadsPerDispatch; ++reads) {
        const std::span<std::uint8_t> room = c->receiver.writable();
        std::size_t got = 0;
        Reason why;
        const IoStatus status = room.empty() ? IoStatus::Ok : receiveSome(c->socket, room, got, why);
        if (status == IoStatus::WouldBlock) {
            break;
        }
        if (status != IoStatus::Ok) {
            // Records that arrived before the end still reach the caller.
            if (deliver(c, pfcnDispatch, pContext) && c->receiver.buffered() > 0) {
                std::snprintf(why.text, sizeof why.text, "closed by the simulator in the middle of a record");
            }
            markLost(c, why.text);
            ok = false;
            break;
        }
        c->receiver.commit(got);
        ok = deliver(c, pfcnDispatch, pContext) && !c->close_requested;
    }
    // Stopped by the bound with more perhaps to come: the next call goes on.
    c->unread = draining && ok && reads == kMaxReadsPerDispatch;
    c->dispatching = false;
    if (c->close_requested) {
        destroy(c);
        return S_OK;
    }
    return c->lost ? kRemoteDisconnect : S_OK;
}

SIMCONNECTAPI SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwError) {
    Connection* c = nullptr;
    if (const HRESULT r = lookup(hSimConnect, c, "SimConnect_GetLastSentPacketID"); r != S_OK) {
        return r;
    }
    if (!pdwError) {
        setLastError("SimConnect_GetLastSentPacketID: null result pointer");
        return E_INVALIDARG;
    }
    // Send IDs start at 1 with Open and rise by one per packet sent.
    *pdwError = c->next_send_id - 1;
    return S_OK;
}

extern "C" void SimConnectNet_SetCancelCheck(int (*cancelled)(void)) { cancel_check = cancelled; }

// --- Data definitions: clearing and setting

SIMCONNECTAPI SimConnect_ClearDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID) {
    return sendPacket(hSimConnect, "SimConnect_ClearDataDefinition",
                      scproto::ClearDataDefinitionPacket{.define_id = DefineID});
}

SIMCONNECTAPI SimConnect_SetDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                            SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG Flags,
                                            DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet) {
    // ArrayCount 0 means one unit, as in the SDK.
    const std::uint64_t total = std::uint64_t{ArrayCount == 0 ? 1u : ArrayCount} * cbUnitSize;
    if (total > kMaxSetDataBytes) {
        setLastError("SimConnect_SetDataOnSimObject: %llu bytes of data, more than the %zu a packet carries",
                     static_cast<unsigned long long>(total), kMaxSetDataBytes);
        return E_INVALIDARG;
    }
    if (total > 0 && !pDataSet) {
        setLastError("SimConnect_SetDataOnSimObject: null data");
        return E_INVALIDARG;
    }
    return sendPacket(hSimConnect, "SimConnect_SetDataOnSimObject",
                      scproto::SetDataPacket{.define_id = DefineID,
                                             .object_id = ObjectID,
                                             .flags = Flags,
                                             .array_count = ArrayCount == 0 ? 1u : ArrayCount,
                                             .unit_size = cbUnitSize,
                                             .data = std::span(static_cast<const std::uint8_t*>(pDataSet),
                                                               static_cast<std::size_t>(total))});
}

// --- System events and state

SIMCONNECTAPI SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                const char* SystemEventName) {
    return sendPacket(
        hSimConnect, "SimConnect_SubscribeToSystemEvent",
        scproto::SubscribeToSystemEventPacket{.event_id = EventID, .event_name = orEmpty(SystemEventName)});
}

SIMCONNECTAPI SimConnect_UnsubscribeFromSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID) {
    return sendPacket(hSimConnect, "SimConnect_UnsubscribeFromSystemEvent",
                      scproto::UnsubscribeFromSystemEventPacket{.event_id = EventID});
}

SIMCONNECTAPI SimConnect_RequestSystemState(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                            const char* szState) {
    return sendPacket(hSimConnect, "SimConnect_RequestSystemState",
                      scproto::RequestSystemStatePacket{.request_id = RequestID, .state = orEmpty(szState)});
}

// --- Input events

SIMCONNECTAPI SimConnect_EnumerateInputEvents(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID) {
    return sendPacket(hSimConnect, "SimConnect_EnumerateInputEvents",
                      scproto::EnumerateInputEventsPacket{.request_id = RequestID});
}

SIMCONNECTAPI SimConnect_SetInputEvent(HANDLE hSimConnect, UINT64 Hash, DWORD cbUnitSize, void* Value) {
    if (cbUnitSize > kMaxInputEventValueBytes) {
        setLastError("SimConnect_SetInputEvent: a value of %lu bytes, more than the %zu a packet carries",
                     static_cast<unsigned long>(cbUnitSize), kMaxInputEventValueBytes);
        return E_INVALIDARG;
    }
    if (cbUnitSize > 0 && !Value) {
        setLastError("SimConnect_SetInputEvent: null value");
        return E_INVALIDARG;
    }
    return sendPacket(hSimConnect, "SimConnect_SetInputEvent",
                      scproto::SetInputEventPacket{
                          .hash = Hash, .value = std::span(static_cast<const std::uint8_t*>(Value), cbUnitSize)});
}

// --- Client data

SIMCONNECTAPI SimConnect_MapClientDataNameToID(HANDLE hSimConnect, const char* szClientDataName,
                                               SIMCONNECT_CLIENT_DATA_ID ClientDataID) {
    return sendPacket(hSimConnect, "SimConnect_MapClientDataNameToID",
                      scproto::MapClientDataNamePacket{.name = orEmpty(szClientDataName), .area_id = ClientDataID});
}

SIMCONNECTAPI SimConnect_CreateClientData(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_ID ClientDataID, DWORD dwSize,
                                          SIMCONNECT_CREATE_CLIENT_DATA_FLAG Flags) {
    return sendPacket(hSimConnect, "SimConnect_CreateClientData",
                      scproto::CreateClientDataPacket{.area_id = ClientDataID, .size = dwSize, .flags = Flags});
}

SIMCONNECTAPI SimConnect_AddToClientDataDefinition(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                   DWORD dwOffset, DWORD dwSizeOrType, float fEpsilon, DWORD DatumID) {
    return sendPacket(hSimConnect, "SimConnect_AddToClientDataDefinition",
                      scproto::AddToClientDataDefinitionPacket{.define_id = DefineID,
                                                               .offset = dwOffset,
                                                               .size_or_type = dwSizeOrType,
                                                               .epsilon = fEpsilon,
                                                               .datum_id = DatumID});
}

SIMCONNECTAPI SimConnect_ClearClientDataDefinition(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID) {
    return sendPacket(hSimConnect, "SimConnect_ClearClientDataDefinition",
                      scproto::ClearClientDataDefinitionPacket{.define_id = DefineID});
}

SIMCONNECTAPI SimConnect_RequestClientData(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                           SIMCONNECT_DATA_REQUEST_ID RequestID,
                                           SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                           SIMCONNECT_CLIENT_DATA_PERIOD Period,
                                           SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags, DWORD origin, DWORD interval,
                                           DWORD limit) {
    return sendPacket(hSimConnect, "SimConnect_RequestClientData",
                      scproto::RequestClientDataPacket{.area_id = ClientDataID,
                                                       .request_id = RequestID,
                                                       .define_id = DefineID,
                                                       .period = static_cast<std::uint32_t>(Period),
                                                       .flags = Flags,
                                                       .origin = origin,
                                                       .interval = interval,
                                                       .limit = limit});
}

SIMCONNECTAPI SimConnect_SetClientData(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                       SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                       SIMCONNECT_CLIENT_DATA_SET_FLAG Flags, DWORD dwReserved, DWORD cbUnitSize,
                                       void* pDataSet) {
    // No area is larger, so no larger write can be right; refused here
    // rather than sent for the simulator to refuse.
    if (cbUnitSize > SIMCONNECT_CLIENTDATA_MAX_SIZE) {
        setLastError("SimConnect_SetClientData: %u bytes, more than an area holds (%u)",
                     static_cast<unsigned>(cbUnitSize), static_cast<unsigned>(SIMCONNECT_CLIENTDATA_MAX_SIZE));
        return E_INVALIDARG;
    }
    if (!pDataSet && cbUnitSize > 0) {
        setLastError("SimConnect_SetClientData: null data");
        return E_INVALIDARG;
    }
    const scproto::SetClientDataPacket p{
        .area_id = ClientDataID,
        .define_id = DefineID,
        .flags = Flags,
        .reserved = dwReserved,
        .data = std::span(static_cast<const std::uint8_t*>(pDataSet), pDataSet ? cbUnitSize : 0)};
    return sendPacket(hSimConnect, "SimConnect_SetClientData", p);
}
