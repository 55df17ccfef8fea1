#include "doubles/recording_simconnect.h"

#include <algorithm>
#include <cstring>

#include "json.h"
#include "simconnect_protocol/protocol.h"

namespace simconnect_double {

Recorder& recorder() {
    static Recorder instance;
    return instance;
}

void reset() { recorder() = Recorder{}; }

namespace {

// Every call but these puts one packet on the wire.
bool sendsPacket(Call call) { return call != Call::Dispatch && call != Call::Close; }

bool refused(Call call) { return recorder().refuse && recorder().refuse(call); }

template <typename T>
void put(std::vector<unsigned char>& bytes, T value) {
    unsigned char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

}  // namespace

std::vector<std::string> traceLines() {
    const Recorder& r = recorder();
    std::vector<std::string> lines;
    std::size_t maps = 0;
    std::size_t definitions = 0;
    std::size_t requests = 0;
    std::uint32_t sendId = 0;
    for (const Call call : r.calls) {
        if (!sendsPacket(call)) {
            continue;
        }
        simemu::JsonLine line;
        line.uint("send_id", ++sendId);
        if (call == Call::Open) {
            line.string("call", "Open").string("name", r.clientName).uint("protocol", scproto::kProtocolKittyHawk);
        } else if (call == Call::Map) {
            const Map& m = r.maps[maps++];
            line.string("call", "MapClientEventToSimEvent").uint("event", m.id).string("name", m.name);
        } else if (call == Call::Define) {
            const Definition& d = r.definitions[definitions++];
            line.string("call", "AddToDataDefinition")
                .uint("define", d.definition)
                .string("datum", d.variable)
                .string("units", d.unit)
                .uint("type", static_cast<std::uint32_t>(d.type))
                .number("epsilon", static_cast<double>(d.epsilon))
                .uint("datum_id", d.datum);
        } else if (call == Call::Request) {
            const Request& q = r.requests[requests++];
            line.string("call", "RequestDataOnSimObject")
                .uint("request", q.request)
                .uint("define", q.definition)
                .uint("object", q.object)
                .uint("period", static_cast<std::uint32_t>(q.period))
                .uint("flags", q.flags)
                .uint("origin", q.origin)
                .uint("interval", q.interval)
                .uint("limit", q.limit);
        } else {
            continue;
        }
        std::string text = line.finish();
        text.pop_back();  // the newline
        lines.push_back(std::move(text));
    }
    return lines;
}

std::vector<unsigned char> dataRecord(DWORD request, const std::vector<unsigned char>& block) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, static_cast<DWORD>(40 + block.size()));  // dwSize
    put<DWORD>(bytes, 4);                                      // dwVersion
    put<DWORD>(bytes, SIMCONNECT_RECV_ID_SIMOBJECT_DATA);
    put<DWORD>(bytes, request);
    put<DWORD>(bytes, 0);        // object: the user aircraft
    put<DWORD>(bytes, request);  // definition: same number as the request
    put<DWORD>(bytes, 0);        // flags
    put<DWORD>(bytes, 1);        // entry number
    put<DWORD>(bytes, 1);        // out of
    put<DWORD>(bytes, 0);        // define count (not looked at)
    bytes.insert(bytes.end(), block.begin(), block.end());
    return bytes;
}

std::vector<unsigned char> clientDataRecord(DWORD request, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> bytes = dataRecord(request, data);
    const DWORD kind = SIMCONNECT_RECV_ID_CLIENT_DATA;
    std::memcpy(bytes.data() + 8, &kind, sizeof kind);
    return bytes;
}

std::vector<unsigned char> responseRecord(DWORD request, const std::string& text) {
    std::vector<unsigned char> area(text.begin(), text.end());
    area.resize(1024, 0);
    return clientDataRecord(request, area);
}

std::vector<unsigned char> openRecord(const std::string& application, DWORD major, DWORD minor, DWORD simconnectMajor,
                                      DWORD simconnectMinor) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, static_cast<DWORD>(sizeof(SIMCONNECT_RECV_OPEN)));
    put<DWORD>(bytes, 4);
    put<DWORD>(bytes, SIMCONNECT_RECV_ID_OPEN);
    std::vector<unsigned char> name(256, 0);
    std::copy_n(application.begin(), std::min<std::size_t>(application.size(), 256), name.begin());
    bytes.insert(bytes.end(), name.begin(), name.end());
    for (const DWORD field : {major, minor, DWORD{282174}, DWORD{999}, simconnectMajor, simconnectMinor, DWORD{0},
                              DWORD{0}, DWORD{0}, DWORD{0}}) {
        put<DWORD>(bytes, field);
    }
    return bytes;
}

std::vector<unsigned char> plainRecord(DWORD kind, std::size_t size) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, static_cast<DWORD>(size));
    put<DWORD>(bytes, 4);
    put<DWORD>(bytes, kind);
    // Filler that would read as request 0 and a radio block of 0xAB bytes if
    // anyone took this for a data record.
    bytes.resize(size < 12 ? 12 : size, 0xAB);
    if (bytes.size() >= 16) {
        std::memset(bytes.data() + 12, 0, 4);
    }
    bytes.resize(size);
    return bytes;
}

std::vector<unsigned char> exceptionRecord(DWORD exception, DWORD sendId, DWORD index) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, 24);
    put<DWORD>(bytes, 4);
    put<DWORD>(bytes, SIMCONNECT_RECV_ID_EXCEPTION);
    put<DWORD>(bytes, exception);
    put<DWORD>(bytes, sendId);
    put<DWORD>(bytes, index);
    return bytes;
}

std::vector<unsigned char> eventFilenameRecord(DWORD event, const std::string& path) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, 0);  // dwSize, set below
    put<DWORD>(bytes, 4);
    put<DWORD>(bytes, SIMCONNECT_RECV_ID_EVENT_FILENAME);
    put<DWORD>(bytes, SIMCONNECT_RECV_EVENT::UNKNOWN_GROUP);
    put<DWORD>(bytes, event);
    put<DWORD>(bytes, 0);  // dwData
    std::vector<unsigned char> name(MAX_PATH, 0);
    std::memcpy(name.data(), path.data(), std::min<std::size_t>(path.size(), MAX_PATH - 1));
    bytes.insert(bytes.end(), name.begin(), name.end());
    put<DWORD>(bytes, 0);  // dwFlags
    const auto size = static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &size, sizeof size);
    return bytes;
}

std::vector<unsigned char> systemStateRecord(DWORD request, const std::string& text) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, 0);
    put<DWORD>(bytes, 4);
    put<DWORD>(bytes, SIMCONNECT_RECV_ID_SYSTEM_STATE);
    put<DWORD>(bytes, request);
    put<DWORD>(bytes, 0);     // dwInteger
    put<float>(bytes, 0.0F);  // fFloat
    std::vector<unsigned char> name(MAX_PATH, 0);
    std::memcpy(name.data(), text.data(), std::min<std::size_t>(text.size(), MAX_PATH - 1));
    bytes.insert(bytes.end(), name.begin(), name.end());
    const auto size = static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &size, sizeof size);
    return bytes;
}

std::vector<unsigned char> stringDataRecord(DWORD request, const std::string& text) {
    std::vector<unsigned char> block(256, 0);
    std::memcpy(block.data(), text.data(), std::min<std::size_t>(text.size(), 255));
    return dataRecord(request, block);
}

std::vector<unsigned char> numberDataRecord(DWORD request, double value) {
    std::vector<unsigned char> block;
    put(block, value);
    return dataRecord(request, block);
}

std::vector<unsigned char> inputEventsRecord(DWORD request, const std::vector<InputEvent>& events, DWORD entry,
                                             DWORD outOf) {
    std::vector<unsigned char> bytes;
    put<DWORD>(bytes, 0);
    put<DWORD>(bytes, 4);
    put<DWORD>(bytes, SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENTS);
    put<DWORD>(bytes, request);
    put<DWORD>(bytes, static_cast<DWORD>(events.size()));
    put<DWORD>(bytes, entry);
    put<DWORD>(bytes, outOf);
    for (const InputEvent& event : events) {
        std::vector<unsigned char> name(64, 0);
        std::memcpy(name.data(), event.name.data(), std::min<std::size_t>(event.name.size(), 63));
        bytes.insert(bytes.end(), name.begin(), name.end());
        put<std::uint64_t>(bytes, event.hash);
        put<DWORD>(bytes, SIMCONNECT_DATATYPE_FLOAT64);
    }
    const auto size = static_cast<DWORD>(bytes.size());
    std::memcpy(bytes.data(), &size, sizeof size);
    return bytes;
}

std::vector<unsigned char> radioBlock(const double (&values)[7]) {
    std::vector<unsigned char> bytes;
    for (double value : values) {
        put(bytes, value);
    }
    return bytes;
}

std::vector<unsigned char> autopilotBlock(double altitude, double verticalSpeed, std::uint32_t code,
                                          const std::int32_t (&states)[6]) {
    std::vector<unsigned char> bytes;
    put(bytes, altitude);
    put(bytes, verticalSpeed);
    put(bytes, code);
    for (std::int32_t state : states) {
        put(bytes, state);
    }
    return bytes;
}

}  // namespace simconnect_double

using simconnect_double::Call;
using simconnect_double::recorder;

SIMCONNECTAPI SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND /*hWnd*/, DWORD /*UserEventWin32*/,
                              HANDLE /*hEventHandle*/, DWORD /*ConfigIndex*/) {
    recorder().calls.push_back(Call::Open);
    recorder().clientName = szName;
    if (recorder().duringOpen) {
        recorder().duringOpen();
    }
    if (recorder().openResult >= 0) {
        *phSimConnect = simconnect_double::kFakeHandle;
    }
    return recorder().openResult;
}

SIMCONNECTAPI SimConnect_Close(HANDLE /*hSimConnect*/) {
    recorder().calls.push_back(Call::Close);
    ++recorder().closes;
    return S_OK;
}

SIMCONNECTAPI SimConnect_MapClientEventToSimEvent(HANDLE /*hSimConnect*/, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                  const char* EventName) {
    if (simconnect_double::refused(Call::Map)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::Map);
    recorder().maps.push_back({EventID, EventName});
    return S_OK;
}

SIMCONNECTAPI SimConnect_AddToDataDefinition(HANDLE /*hSimConnect*/, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                             const char* DatumName, const char* UnitsName,
                                             SIMCONNECT_DATATYPE DatumType, float fEpsilon, DWORD DatumID) {
    if (simconnect_double::refused(Call::Define)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::Define);
    recorder().definitions.push_back(
        {DefineID, DatumName, UnitsName != nullptr ? UnitsName : "", DatumType, fEpsilon, DatumID});
    return S_OK;
}

SIMCONNECTAPI SimConnect_RequestDataOnSimObject(HANDLE /*hSimConnect*/, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                                SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags,
                                                DWORD origin, DWORD interval, DWORD limit) {
    if (simconnect_double::refused(Call::Request)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::Request);
    recorder().requests.push_back({RequestID, DefineID, ObjectID, Period, Flags, origin, interval, limit});
    return S_OK;
}

SIMCONNECTAPI SimConnect_CallDispatch(HANDLE /*hSimConnect*/, DispatchProc pfcnDispatch, void* pContext) {
    recorder().calls.push_back(Call::Dispatch);
    if (recorder().batches.empty()) {
        return recorder().resultWhenDrained;
    }
    // Moved out first, so that the records outlive any change the handler
    // makes to the queue.
    std::vector<std::vector<unsigned char>> batch = std::move(recorder().batches.front());
    recorder().batches.pop_front();
    for (std::vector<unsigned char>& record : batch) {
        pfcnDispatch(reinterpret_cast<SIMCONNECT_RECV*>(record.data()), static_cast<DWORD>(record.size()), pContext);
    }
    return S_OK;
}

SIMCONNECTAPI SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                             SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                             SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags) {
    recorder().calls.push_back(Call::Transmit);
    recorder().events.push_back({hSimConnect, ObjectID, EventID, dwData, GroupID, Flags});
    return S_OK;
}

SIMCONNECTAPI SimConnect_GetLastSentPacketID(HANDLE /*hSimConnect*/, DWORD* pdwError) {
    // Open is ID 1.
    DWORD sent = 0;
    for (const Call call : recorder().calls) {
        sent += simconnect_double::sendsPacket(call) ? 1 : 0;
    }
    *pdwError = sent;
    return S_OK;
}

SIMCONNECTAPI SimConnect_MapClientDataNameToID(HANDLE /*hSimConnect*/, const char* szClientDataName,
                                               SIMCONNECT_CLIENT_DATA_ID ClientDataID) {
    if (simconnect_double::refused(Call::MapClientData)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::MapClientData);
    recorder().clientDataMaps.push_back({szClientDataName, ClientDataID});
    return S_OK;
}

SIMCONNECTAPI SimConnect_CreateClientData(HANDLE /*hSimConnect*/, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                          DWORD /*dwSize*/, SIMCONNECT_CREATE_CLIENT_DATA_FLAG /*Flags*/) {
    if (simconnect_double::refused(Call::CreateClientData)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::CreateClientData);
    recorder().clientDataCreates.push_back(ClientDataID);
    return S_OK;
}

SIMCONNECTAPI SimConnect_AddToClientDataDefinition(HANDLE /*hSimConnect*/,
                                                   SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID, DWORD dwOffset,
                                                   DWORD dwSizeOrType, float fEpsilon, DWORD DatumID) {
    if (simconnect_double::refused(Call::DefineClientData)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::DefineClientData);
    recorder().clientDataDefinitions.push_back({DefineID, dwOffset, dwSizeOrType, fEpsilon, DatumID});
    return S_OK;
}

SIMCONNECTAPI SimConnect_RequestClientData(HANDLE /*hSimConnect*/, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                           SIMCONNECT_DATA_REQUEST_ID RequestID,
                                           SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                           SIMCONNECT_CLIENT_DATA_PERIOD Period,
                                           SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags, DWORD origin, DWORD interval,
                                           DWORD limit) {
    if (simconnect_double::refused(Call::RequestClientData)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::RequestClientData);
    recorder().clientDataRequests.push_back(
        {ClientDataID, RequestID, DefineID, static_cast<DWORD>(Period), Flags, origin, interval, limit});
    return S_OK;
}

SIMCONNECTAPI SimConnect_SetClientData(HANDLE /*hSimConnect*/, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                       SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                       SIMCONNECT_CLIENT_DATA_SET_FLAG Flags, DWORD dwReserved, DWORD cbUnitSize,
                                       void* pDataSet) {
    recorder().calls.push_back(Call::SetClientData);
    if (recorder().setClientDataResult < 0) {
        return recorder().setClientDataResult;
    }
    const char* bytes = static_cast<const char*>(pDataSet);
    recorder().clientDataSets.push_back(
        {ClientDataID, DefineID, Flags, dwReserved, cbUnitSize, std::string(bytes, strnlen(bytes, cbUnitSize))});
    return S_OK;
}

SIMCONNECTAPI SimConnect_SetDataOnSimObject(HANDLE /*hSimConnect*/, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                            SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG /*Flags*/,
                                            DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet) {
    recorder().calls.push_back(Call::SetData);
    const auto* bytes = static_cast<const unsigned char*>(pDataSet);
    const std::size_t length = std::size_t{ArrayCount == 0 ? 1U : ArrayCount} * cbUnitSize;
    recorder().dataSets.push_back({DefineID, ObjectID, std::vector<unsigned char>(bytes, bytes + length)});
    return S_OK;
}

SIMCONNECTAPI SimConnect_ClearDataDefinition(HANDLE /*hSimConnect*/, SIMCONNECT_DATA_DEFINITION_ID DefineID) {
    recorder().calls.push_back(Call::ClearDefinition);
    recorder().cleared.push_back(DefineID);
    return S_OK;
}

SIMCONNECTAPI SimConnect_SubscribeToSystemEvent(HANDLE /*hSimConnect*/, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                const char* SystemEventName) {
    if (simconnect_double::refused(Call::Subscribe)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::Subscribe);
    recorder().subscriptions.push_back({EventID, SystemEventName});
    return S_OK;
}

SIMCONNECTAPI SimConnect_RequestSystemState(HANDLE /*hSimConnect*/, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                            const char* szState) {
    if (simconnect_double::refused(Call::SystemState)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::SystemState);
    recorder().stateRequests.push_back({RequestID, szState});
    return S_OK;
}

SIMCONNECTAPI SimConnect_EnumerateInputEvents(HANDLE /*hSimConnect*/, SIMCONNECT_DATA_REQUEST_ID RequestID) {
    if (simconnect_double::refused(Call::EnumerateInputs)) {
        return E_FAIL;
    }
    recorder().calls.push_back(Call::EnumerateInputs);
    recorder().enumerations.push_back(RequestID);
    return S_OK;
}

SIMCONNECTAPI SimConnect_SetInputEvent(HANDLE /*hSimConnect*/, UINT64 Hash, DWORD cbUnitSize, void* Value) {
    recorder().calls.push_back(Call::SetInput);
    const auto* bytes = static_cast<const unsigned char*>(Value);
    recorder().inputSets.push_back({Hash, std::vector<unsigned char>(bytes, bytes + cbUnitSize)});
    return S_OK;
}
