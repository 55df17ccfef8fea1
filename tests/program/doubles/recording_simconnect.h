// A SimConnect implementation that records every call the program makes and
// lets a test queue records for SimConnect_CallDispatch to deliver. It stands
// in for the library where no simulator server is running.
#ifndef TEST_RECORDING_SIMCONNECT_H
#define TEST_RECORDING_SIMCONNECT_H

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "simconnect/simconnect_api.h"

namespace simconnect_double {

enum class Call {
    Open,
    Map,
    Define,
    Request,
    Dispatch,
    Transmit,
    Close,
    MapClientData,
    CreateClientData,
    DefineClientData,
    RequestClientData,
    SetClientData,
    SetData,
    ClearDefinition,
    Subscribe,
    SystemState,
    EnumerateInputs,
    SetInput,
};

struct Map {
    DWORD id;
    std::string name;
};

struct Definition {
    DWORD definition;
    std::string variable;
    std::string unit;
    SIMCONNECT_DATATYPE type;
    float epsilon;
    DWORD datum;
};

struct Request {
    DWORD request;
    DWORD definition;
    DWORD object;
    SIMCONNECT_PERIOD period;
    DWORD flags, origin, interval, limit;
};

struct Event {
    HANDLE connection;
    DWORD object;
    DWORD event;
    DWORD data;
    DWORD group;
    DWORD flags;
};

struct ClientDataMap {
    std::string name;
    DWORD area;
};

struct ClientDataDefinition {
    DWORD definition, offset, size_or_type;
    float epsilon;
    DWORD datum;
};

struct ClientDataRequest {
    DWORD area, request, definition, period, flags, origin, interval, limit;
};

struct ClientDataSet {
    DWORD area, definition, flags, reserved, size;
    std::string text;  // the bytes up to the first NUL
};

struct DataSet {
    DWORD definition;
    DWORD object;
    std::vector<unsigned char> bytes;  // ArrayCount x cbUnitSize
};

struct Named {  // a subscription (event ID) or a state request (request ID)
    DWORD id;
    std::string name;
};

struct InputSet {
    std::uint64_t hash;
    std::vector<unsigned char> bytes;
};

struct Recorder {
    HRESULT openResult = S_OK;
    std::function<void()> duringOpen;  // runs inside SimConnect_Open, e.g. a Ctrl+C
    std::string clientName;
    std::vector<Call> calls;
    std::vector<Map> maps;
    std::vector<Definition> definitions;
    std::vector<Request> requests;
    std::vector<Event> events;
    std::vector<ClientDataMap> clientDataMaps;
    std::vector<DWORD> clientDataCreates;
    std::vector<ClientDataDefinition> clientDataDefinitions;
    std::vector<ClientDataRequest> clientDataRequests;
    std::vector<ClientDataSet> clientDataSets;
    int closes = 0;
    std::vector<DataSet> dataSets;
    std::vector<DWORD> cleared;  // definitions
    std::vector<Named> subscriptions;
    std::vector<Named> stateRequests;
    std::vector<DWORD> enumerations;  // request IDs
    std::vector<InputSet> inputSets;
    // Each SimConnect_CallDispatch delivers the front batch, every record
    // with its own size, and drops it; with no batch left it delivers nothing.
    std::deque<std::vector<std::vector<unsigned char>>> batches;
    // What SimConnect_CallDispatch returns once no batch is left (a lost
    // link makes the library return a negative result).
    HRESULT resultWhenDrained = S_OK;
    // What SimConnect_SetClientData returns.
    HRESULT setClientDataResult = S_OK;
    // When set and true for a call (of the kinds whose send IDs the program
    // keeps: mappings, definitions, requests, subscriptions, state requests,
    // enumerations, client data set-up), the call fails with E_FAIL and
    // sends nothing: it is left out of `calls`, as no packet went.
    std::function<bool(Call)> refuse;
};

// The handle SimConnect_Open hands out.
inline HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5C0));

Recorder& recorder();
void reset();

// The packets the recorded calls sent (Open, MapClientEventToSimEvent,
// AddToDataDefinition, RequestDataOnSimObject), one line each as
// sim-emulator's trace writes them without "t_ns", with the send IDs our
// client gives them. A TransmitClientEvent line also says what only the
// simulator knows (the value it applied), so it is counted but left out.
std::vector<std::string> traceLines();

// Record builders (byte layout as SimConnect sends them).
std::vector<unsigned char> dataRecord(DWORD request, const std::vector<unsigned char>& block);
std::vector<unsigned char> plainRecord(DWORD kind, std::size_t size);
// A CLIENT_DATA record for `request` (laid out as a data record).
std::vector<unsigned char> clientDataRecord(DWORD request, const std::vector<unsigned char>& data);
// The module's answer `text` in a Response area, NUL-padded to its 1024 bytes.
std::vector<unsigned char> responseRecord(DWORD request, const std::string& text);
// The simulator's OPEN record.
std::vector<unsigned char> openRecord(const std::string& application, DWORD major, DWORD minor, DWORD simconnectMajor,
                                      DWORD simconnectMinor);
std::vector<unsigned char> exceptionRecord(DWORD exception, DWORD sendId, DWORD index);
std::vector<unsigned char> eventFilenameRecord(DWORD event, const std::string& path);
std::vector<unsigned char> systemStateRecord(DWORD request, const std::string& text);
// A data record of one STRING256 datum.
std::vector<unsigned char> stringDataRecord(DWORD request, const std::string& text);
// A data record of one FLOAT64 datum.
std::vector<unsigned char> numberDataRecord(DWORD request, double value);
struct InputEvent {
    std::string name;
    std::uint64_t hash;
};
std::vector<unsigned char> inputEventsRecord(DWORD request, const std::vector<InputEvent>& events, DWORD entry,
                                             DWORD outOf);
std::vector<unsigned char> radioBlock(const double (&values)[7]);
std::vector<unsigned char> autopilotBlock(double altitude, double verticalSpeed, std::uint32_t code,
                                          const std::int32_t (&states)[6]);

}  // namespace simconnect_double

#endif
