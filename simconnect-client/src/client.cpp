// The seven SimConnect functions over TCP. One Connection per handle, with
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
#include <cstring>
#include <new>

namespace scnet {
namespace {

constexpr int kConnectTimeoutMs = 3000;
// A simulator that takes longer than this to accept a few hundred bytes is
// treated as gone: the alternative is hanging the caller's loop.
constexpr int kSendTimeoutMs = 2000;
// Reads per CallDispatch; bounds the time spent when a peer floods us.
constexpr int kMaxReadsPerDispatch = 64;

constexpr HRESULT kRemoteDisconnect = SIMCONNECT_NET_REMOTE_DISCONNECT;

struct Connection {
    SocketHandle socket = kNoSocket;
    std::uint32_t next_send_id = 1;
    bool lost = false;
    bool dispatching = false;
    bool close_requested = false;
    char peer[128] = "";
    std::array<std::uint8_t, 1024> send_buffer{};
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
    const IoStatus status = sendAll(c->socket, std::span(c->send_buffer).first(n), kSendTimeoutMs, why);
    if (status != IoStatus::Ok) {
        return markLost(c, why.text);
    }
    ++c->next_send_id;
    return S_OK;
}

const char* orEmpty(const char* s) { return s ? s : ""; }

// Hands every whole record in the receiver to the callback. False when the
// stream turned out corrupt (the connection is then marked lost).
bool deliver(Connection* c, DispatchProc callback, void* context) {
    scproto::Error error;
    for (auto packet = c->receiver.next(error); !packet.empty(); packet = c->receiver.next(error)) {
        scproto::ServerHeader header;
        if (scproto::Error bad = scproto::decodeServerHeader(packet, header)) {
            char reason[160];
            std::snprintf(reason, sizeof reason, "corrupt record from the simulator: %s",
                          scproto::describe(bad).c_str());
            markLost(c, reason);
            return false;
        }
        std::memcpy(c->record.data(), packet.data(), packet.size());
        callback(reinterpret_cast<SIMCONNECT_RECV*>(c->record.data()), header.size, context);
        if (c->close_requested) {
            return true;
        }
    }
    if (error) {
        char reason[160];
        std::snprintf(reason, sizeof reason, "corrupt stream from the simulator: %s",
                      scproto::describe(error).c_str());
        markLost(c, reason);
        return false;
    }
    return true;
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
    Reason why;
    c->socket = connectTcp(config.server.address.c_str(), config.server.port.c_str(), kConnectTimeoutMs, c->peer,
                           why);
    if (c->socket == kNoSocket) {
        setLastError("%s (%s)", why.text, config.server.origin.c_str());
        destroy(c);
        return E_FAIL;
    }
    scproto::OpenPacket open;
    open.app_name = orEmpty(szName);
    const std::size_t n = scproto::encode(c->send_buffer, scproto::kProtocolKittyHawk, c->next_send_id, open);
    if (sendAll(c->socket, std::span(c->send_buffer).first(n), kSendTimeoutMs, why) != IoStatus::Ok) {
        setLastError("connection to %s lost: %s (%s)", c->peer, why.text, config.server.origin.c_str());
        destroy(c);
        return kRemoteDisconnect;
    }
    ++c->next_send_id;
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
                      scproto::MapClientEventPacket{EventID, orEmpty(EventName)});
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
    const scproto::RequestDataPacket p{RequestID, DefineID, ObjectID, static_cast<std::uint32_t>(Period),
                                       Flags,     origin,   interval, limit};
    return sendPacket(hSimConnect, "SimConnect_RequestDataOnSimObject", p);
}

SIMCONNECTAPI SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                             SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                             SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags) {
    return sendPacket(hSimConnect, "SimConnect_TransmitClientEvent",
                      scproto::TransmitClientEventPacket{ObjectID, EventID, dwData, GroupID, Flags});
}

SIMCONNECTAPI SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext) {
    Connection* c = nullptr;
    if (const HRESULT r = lookup(hSimConnect, c, "SimConnect_CallDispatch"); r != S_OK) {
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
    bool ok = true;
    for (int reads = 0; ok && reads < kMaxReadsPerDispatch; ++reads) {
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
