// SimConnect API for builds without the MSFS SDK.
//
// Declares, with the SDK's own names, values and layouts, the part of the
// SimConnect API that the panel program uses. The functions are implemented
// by our network client (libsimconnect-net), which speaks SimConnect's wire
// protocol over TCP to a simulator on this or another machine.
//
// Code written against this header must compile unchanged against the SDK's
// SimConnect.h, so nothing here may be named or shaped differently from it.
// As in the SDK, every struct is packed to 1 byte and DWORD is 32 bits wide
// (on LP64 systems `unsigned long` would be 64 bits and break the layouts).
//
// Return convention, as in the SDK: every function returns an HRESULT,
// S_OK (0) on success and a negative value on failure. Requests other than
// SimConnect_Open are not acknowledged by the server; errors it detects come
// back later as SIMCONNECT_RECV_EXCEPTION records through the dispatch
// callback, carrying the send ID of the offending packet.
#ifndef SIMCONNECT_NET_SIMCONNECT_H
#define SIMCONNECT_NET_SIMCONNECT_H

#include <float.h>
#include <stdint.h>

#if defined(_WIN32)
// The includer brings <windows.h>, as with the SDK's header.
#ifndef SIMCONNECTAPI
#define SIMCONNECTAPI extern "C" HRESULT __stdcall
#endif
#else
typedef uint32_t DWORD;
typedef int32_t HRESULT;
typedef int BOOL;
typedef unsigned char BYTE;
typedef void* HANDLE;
typedef void* HWND;
typedef const char* LPCSTR;
typedef uint64_t UINT64;
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifndef S_OK
#define S_OK ((HRESULT)0)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005L)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057L)
#endif
#ifndef E_ABORT
#define E_ABORT ((HRESULT)0x80004004L)
#endif
#ifndef SIMCONNECTAPI
#define SIMCONNECTAPI extern "C" HRESULT
#endif
#endif

#ifndef DWORD_MAX
#define DWORD_MAX 0xFFFFFFFF
#endif

typedef DWORD SIMCONNECT_OBJECT_ID;
typedef DWORD SIMCONNECT_NOTIFICATION_GROUP_ID;
typedef DWORD SIMCONNECT_DATA_DEFINITION_ID;
typedef DWORD SIMCONNECT_DATA_REQUEST_ID;
typedef DWORD SIMCONNECT_CLIENT_EVENT_ID;
typedef DWORD SIMCONNECT_EVENT_FLAG;
typedef DWORD SIMCONNECT_DATA_REQUEST_FLAG;

static const DWORD SIMCONNECT_UNUSED = DWORD_MAX;
static const DWORD SIMCONNECT_OBJECT_ID_USER = 0;
static const DWORD SIMCONNECT_OPEN_CONFIGINDEX_LOCAL = DWORD_MAX;

static const DWORD SIMCONNECT_GROUP_PRIORITY_HIGHEST = 1;
static const DWORD SIMCONNECT_GROUP_PRIORITY_HIGHEST_MASKABLE = 10000000;
static const DWORD SIMCONNECT_GROUP_PRIORITY_STANDARD = 1900000000;
static const DWORD SIMCONNECT_GROUP_PRIORITY_DEFAULT = 2000000000;
static const DWORD SIMCONNECT_GROUP_PRIORITY_LOWEST = 4000000000;

static const DWORD SIMCONNECT_EVENT_FLAG_DEFAULT = 0x00000000;
static const DWORD SIMCONNECT_EVENT_FLAG_FAST_REPEAT_TIMER = 0x00000001;
static const DWORD SIMCONNECT_EVENT_FLAG_SLOW_REPEAT_TIMER = 0x00000002;
static const DWORD SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY = 0x00000010;

static const DWORD SIMCONNECT_DATA_REQUEST_FLAG_DEFAULT = 0x00000000;
static const DWORD SIMCONNECT_DATA_REQUEST_FLAG_CHANGED = 0x00000001;
static const DWORD SIMCONNECT_DATA_REQUEST_FLAG_TAGGED = 0x00000002;

// --- Setting data on a sim object
typedef DWORD SIMCONNECT_DATA_SET_FLAG;
static const DWORD SIMCONNECT_DATA_SET_FLAG_DEFAULT = 0x00000000;
static const DWORD SIMCONNECT_DATA_SET_FLAG_TAGGED = 0x00000001;

enum SIMCONNECT_RECV_ID {
    SIMCONNECT_RECV_ID_NULL,
    SIMCONNECT_RECV_ID_EXCEPTION,
    SIMCONNECT_RECV_ID_OPEN,
    SIMCONNECT_RECV_ID_QUIT,
    SIMCONNECT_RECV_ID_EVENT,
    SIMCONNECT_RECV_ID_EVENT_OBJECT_ADDREMOVE,
    SIMCONNECT_RECV_ID_EVENT_FILENAME,
    SIMCONNECT_RECV_ID_EVENT_FRAME,
    SIMCONNECT_RECV_ID_SIMOBJECT_DATA,
    SIMCONNECT_RECV_ID_SIMOBJECT_DATA_BYTYPE,
    SIMCONNECT_RECV_ID_WEATHER_OBSERVATION,
    SIMCONNECT_RECV_ID_CLOUD_STATE,
    SIMCONNECT_RECV_ID_ASSIGNED_OBJECT_ID,
    SIMCONNECT_RECV_ID_RESERVED_KEY,
    SIMCONNECT_RECV_ID_CUSTOM_ACTION,
    SIMCONNECT_RECV_ID_SYSTEM_STATE,
    SIMCONNECT_RECV_ID_CLIENT_DATA,
    SIMCONNECT_RECV_ID_EVENT_WEATHER_MODE,
    SIMCONNECT_RECV_ID_AIRPORT_LIST,
    SIMCONNECT_RECV_ID_VOR_LIST,
    SIMCONNECT_RECV_ID_NDB_LIST,
    SIMCONNECT_RECV_ID_WAYPOINT_LIST,
    SIMCONNECT_RECV_ID_EVENT_MULTIPLAYER_SERVER_STARTED,
    SIMCONNECT_RECV_ID_EVENT_MULTIPLAYER_CLIENT_STARTED,
    SIMCONNECT_RECV_ID_EVENT_MULTIPLAYER_SESSION_ENDED,
    SIMCONNECT_RECV_ID_EVENT_RACE_END,
    SIMCONNECT_RECV_ID_EVENT_RACE_LAP,
    SIMCONNECT_RECV_ID_EVENT_EX1,
    SIMCONNECT_RECV_ID_FACILITY_DATA,
    SIMCONNECT_RECV_ID_FACILITY_DATA_END,
    SIMCONNECT_RECV_ID_FACILITY_MINIMAL_LIST,
    SIMCONNECT_RECV_ID_JETWAY_DATA,
    SIMCONNECT_RECV_ID_CONTROLLERS_LIST,
    SIMCONNECT_RECV_ID_ACTION_CALLBACK,
    SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENTS,
    SIMCONNECT_RECV_ID_GET_INPUT_EVENT,
    SIMCONNECT_RECV_ID_SUBSCRIBE_INPUT_EVENT,
    SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENT_PARAMS,
};

enum SIMCONNECT_DATATYPE {
    SIMCONNECT_DATATYPE_INVALID,
    SIMCONNECT_DATATYPE_INT32,
    SIMCONNECT_DATATYPE_INT64,
    SIMCONNECT_DATATYPE_FLOAT32,
    SIMCONNECT_DATATYPE_FLOAT64,
    SIMCONNECT_DATATYPE_STRING8,
    SIMCONNECT_DATATYPE_STRING32,
    SIMCONNECT_DATATYPE_STRING64,
    SIMCONNECT_DATATYPE_STRING128,
    SIMCONNECT_DATATYPE_STRING256,
    SIMCONNECT_DATATYPE_STRING260,
    SIMCONNECT_DATATYPE_STRINGV,
    SIMCONNECT_DATATYPE_INITPOSITION,
    SIMCONNECT_DATATYPE_MARKERSTATE,
    SIMCONNECT_DATATYPE_WAYPOINT,
    SIMCONNECT_DATATYPE_LATLONALT,
    SIMCONNECT_DATATYPE_XYZ,
    SIMCONNECT_DATATYPE_MAX,
};

enum SIMCONNECT_EXCEPTION {
    SIMCONNECT_EXCEPTION_NONE,
    SIMCONNECT_EXCEPTION_ERROR,
    SIMCONNECT_EXCEPTION_SIZE_MISMATCH,
    SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
    SIMCONNECT_EXCEPTION_UNOPENED,
    SIMCONNECT_EXCEPTION_VERSION_MISMATCH,
    SIMCONNECT_EXCEPTION_TOO_MANY_GROUPS,
    SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED,
    SIMCONNECT_EXCEPTION_TOO_MANY_EVENT_NAMES,
    SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE,
    SIMCONNECT_EXCEPTION_TOO_MANY_MAPS,
    SIMCONNECT_EXCEPTION_TOO_MANY_OBJECTS,
    SIMCONNECT_EXCEPTION_TOO_MANY_REQUESTS,
    SIMCONNECT_EXCEPTION_WEATHER_INVALID_PORT,
    SIMCONNECT_EXCEPTION_WEATHER_INVALID_METAR,
    SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_GET_OBSERVATION,
    SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_CREATE_STATION,
    SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_REMOVE_STATION,
    SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE,
    SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE,
    SIMCONNECT_EXCEPTION_DATA_ERROR,
    SIMCONNECT_EXCEPTION_INVALID_ARRAY,
    SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED,
    SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED,
    SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE,
    SIMCONNECT_EXCEPTION_ILLEGAL_OPERATION,
    SIMCONNECT_EXCEPTION_ALREADY_SUBSCRIBED,
    SIMCONNECT_EXCEPTION_INVALID_ENUM,
    SIMCONNECT_EXCEPTION_DEFINITION_ERROR,
    SIMCONNECT_EXCEPTION_DUPLICATE_ID,
    SIMCONNECT_EXCEPTION_DATUM_ID,
    SIMCONNECT_EXCEPTION_OUT_OF_BOUNDS,
    SIMCONNECT_EXCEPTION_ALREADY_CREATED,
    SIMCONNECT_EXCEPTION_OBJECT_OUTSIDE_REALITY_BUBBLE,
    SIMCONNECT_EXCEPTION_OBJECT_CONTAINER,
    SIMCONNECT_EXCEPTION_OBJECT_AI,
    SIMCONNECT_EXCEPTION_OBJECT_ATC,
    SIMCONNECT_EXCEPTION_OBJECT_SCHEDULE,
};

enum SIMCONNECT_PERIOD {
    SIMCONNECT_PERIOD_NEVER,
    SIMCONNECT_PERIOD_ONCE,
    SIMCONNECT_PERIOD_VISUAL_FRAME,
    SIMCONNECT_PERIOD_SIM_FRAME,
    SIMCONNECT_PERIOD_SECOND,
};

#pragma pack(push, 1)

struct SIMCONNECT_RECV {
    DWORD dwSize;     // total size of the record, this header included
    DWORD dwVersion;  // the server's protocol version
    DWORD dwID;       // a SIMCONNECT_RECV_ID
};

struct SIMCONNECT_RECV_EXCEPTION : public SIMCONNECT_RECV {
    DWORD dwException;  // a SIMCONNECT_EXCEPTION
    static const DWORD UNKNOWN_SENDID = 0;
    DWORD dwSendID;  // send ID of the packet that caused it
    static const DWORD UNKNOWN_INDEX = DWORD_MAX;
    DWORD dwIndex;  // 1-based index of the first bad parameter
};

struct SIMCONNECT_RECV_OPEN : public SIMCONNECT_RECV {
    char szApplicationName[256];
    DWORD dwApplicationVersionMajor;
    DWORD dwApplicationVersionMinor;
    DWORD dwApplicationBuildMajor;
    DWORD dwApplicationBuildMinor;
    DWORD dwSimConnectVersionMajor;
    DWORD dwSimConnectVersionMinor;
    DWORD dwSimConnectBuildMajor;
    DWORD dwSimConnectBuildMinor;
    DWORD dwReserved1;
    DWORD dwReserved2;
};

struct SIMCONNECT_RECV_QUIT : public SIMCONNECT_RECV {};

struct SIMCONNECT_RECV_EVENT : public SIMCONNECT_RECV {
    static const DWORD UNKNOWN_GROUP = DWORD_MAX;
    DWORD uGroupID;
    DWORD uEventID;
    DWORD dwData;
};

struct SIMCONNECT_RECV_SIMOBJECT_DATA : public SIMCONNECT_RECV {
    DWORD dwRequestID;
    DWORD dwObjectID;
    DWORD dwDefineID;
    DWORD dwFlags;
    DWORD dwentrynumber;  // 1-based
    DWORD dwoutof;        // 1-based
    DWORD dwDefineCount;  // number of datums, not bytes
    DWORD dwData;         // first DWORD of the data; the rest follows the struct
};

// --- System events and state

// A system event that names a file, e.g. AircraftLoaded with the loaded
// aircraft's aircraft.cfg path.
struct SIMCONNECT_RECV_EVENT_FILENAME : public SIMCONNECT_RECV_EVENT {
    char szFileName[MAX_PATH];  // uEventID is the ID of the event
    DWORD dwFlags;
};

// The answer to SimConnect_RequestSystemState; which of the three fields
// holds the state depends on the state asked for.
struct SIMCONNECT_RECV_SYSTEM_STATE : public SIMCONNECT_RECV {
    DWORD dwRequestID;
    DWORD dwInteger;
    float fFloat;
    char szString[MAX_PATH];
};

// --- Input events

// The header of the records that carry a list, cut into several records
// when it is long.
struct SIMCONNECT_RECV_LIST_TEMPLATE : public SIMCONNECT_RECV {
    DWORD dwRequestID;
    DWORD dwArraySize;    // entries in this record
    DWORD dwEntryNumber;  // which record of the list this is, 0-based
    DWORD dwOutOf;        // records the list is cut into
};

struct SIMCONNECT_INPUT_EVENT_DESCRIPTOR {
    char Name[64];
    UINT64 Hash;                // the ID that SimConnect_SetInputEvent takes
    SIMCONNECT_DATATYPE eType;  // FLOAT64 or a string type
};

struct SIMCONNECT_RECV_ENUMERATE_INPUT_EVENTS : public SIMCONNECT_RECV_LIST_TEMPLATE {
    SIMCONNECT_INPUT_EVENT_DESCRIPTOR rgData[1];  // dwArraySize of them
};

#pragma pack(pop)
// The record sizes are checked against the wire protocol's in
// simconnect-client/src/vocabulary_check.cpp.

typedef void(CALLBACK* DispatchProc)(SIMCONNECT_RECV* pData, DWORD cbData, void* pContext);

SIMCONNECTAPI SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND hWnd, DWORD UserEventWin32, HANDLE hEventHandle,
                              DWORD ConfigIndex);
SIMCONNECTAPI SimConnect_Close(HANDLE hSimConnect);
SIMCONNECTAPI SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                  const char* EventName = "");
SIMCONNECTAPI SimConnect_AddToDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                             const char* DatumName, const char* UnitsName,
                                             SIMCONNECT_DATATYPE DatumType = SIMCONNECT_DATATYPE_FLOAT64,
                                             float fEpsilon = 0, DWORD DatumID = SIMCONNECT_UNUSED);
SIMCONNECTAPI SimConnect_RequestDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                                SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags = 0,
                                                DWORD origin = 0, DWORD interval = 0, DWORD limit = 0);
SIMCONNECTAPI SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext);
SIMCONNECTAPI SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                             SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                             SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags);
// The send ID of the last packet sent on this connection, which exception
// records name in dwSendID.
SIMCONNECTAPI SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwError);

// --- Data definitions: clearing and setting
SIMCONNECTAPI SimConnect_ClearDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID);
// pDataSet holds ArrayCount units of cbUnitSize bytes, each the definition's
// datums back to back (one unit for the user's aircraft).
SIMCONNECTAPI SimConnect_SetDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                            SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG Flags,
                                            DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet);

// --- System events and state
SIMCONNECTAPI SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                const char* SystemEventName);
SIMCONNECTAPI SimConnect_UnsubscribeFromSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID);
SIMCONNECTAPI SimConnect_RequestSystemState(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                            const char* szState);

// --- Input events
SIMCONNECTAPI SimConnect_EnumerateInputEvents(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID);
// Value points to cbUnitSize bytes: a double, or a string with its NUL.
SIMCONNECTAPI SimConnect_SetInputEvent(HANDLE hSimConnect, UINT64 Hash, DWORD cbUnitSize, void* Value);

// --- Client data --------------------------------------------------------
// Memory areas that clients (and add-ons inside the simulator, such as the
// MobiFlight WASM module) create by name and share: one side writes an area
// with SimConnect_SetClientData, the other reads it through a request whose
// records come as SIMCONNECT_RECV_CLIENT_DATA.

typedef DWORD SIMCONNECT_CLIENT_DATA_ID;
typedef DWORD SIMCONNECT_CLIENT_DATA_DEFINITION_ID;
typedef DWORD SIMCONNECT_CREATE_CLIENT_DATA_FLAG;
typedef DWORD SIMCONNECT_CLIENT_DATA_REQUEST_FLAG;
typedef DWORD SIMCONNECT_CLIENT_DATA_SET_FLAG;

static const DWORD SIMCONNECT_CREATE_CLIENT_DATA_FLAG_DEFAULT = 0x00000000;
static const DWORD SIMCONNECT_CREATE_CLIENT_DATA_FLAG_READ_ONLY = 0x00000001;

static const DWORD SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_DEFAULT = 0x00000000;
static const DWORD SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED = 0x00000001;
static const DWORD SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_TAGGED = 0x00000002;

static const DWORD SIMCONNECT_CLIENT_DATA_SET_FLAG_DEFAULT = 0x00000000;
static const DWORD SIMCONNECT_CLIENT_DATA_SET_FLAG_TAGGED = 0x00000001;

// dwSizeOrType of SimConnect_AddToClientDataDefinition: a size in bytes, or
// one of these types.
static const DWORD SIMCONNECT_CLIENTDATATYPE_INT8 = (DWORD)-1;
static const DWORD SIMCONNECT_CLIENTDATATYPE_INT16 = (DWORD)-2;
static const DWORD SIMCONNECT_CLIENTDATATYPE_INT32 = (DWORD)-3;
static const DWORD SIMCONNECT_CLIENTDATATYPE_INT64 = (DWORD)-4;
static const DWORD SIMCONNECT_CLIENTDATATYPE_FLOAT32 = (DWORD)-5;
static const DWORD SIMCONNECT_CLIENTDATATYPE_FLOAT64 = (DWORD)-6;

// dwOffset: right after the definition's previous datum.
static const DWORD SIMCONNECT_CLIENTDATAOFFSET_AUTO = (DWORD)-1;

static const DWORD SIMCONNECT_CLIENTDATA_MAX_SIZE = 8192;

enum SIMCONNECT_CLIENT_DATA_PERIOD {
    SIMCONNECT_CLIENT_DATA_PERIOD_NEVER,
    SIMCONNECT_CLIENT_DATA_PERIOD_ONCE,
    SIMCONNECT_CLIENT_DATA_PERIOD_VISUAL_FRAME,
    SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
    SIMCONNECT_CLIENT_DATA_PERIOD_SECOND,
};

#pragma pack(push, 1)

// When dwID is SIMCONNECT_RECV_ID_CLIENT_DATA; laid out as SIMOBJECT_DATA.
struct SIMCONNECT_RECV_CLIENT_DATA : public SIMCONNECT_RECV_SIMOBJECT_DATA {};

#pragma pack(pop)

SIMCONNECTAPI SimConnect_MapClientDataNameToID(HANDLE hSimConnect, const char* szClientDataName,
                                               SIMCONNECT_CLIENT_DATA_ID ClientDataID);
SIMCONNECTAPI SimConnect_CreateClientData(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_ID ClientDataID, DWORD dwSize,
                                          SIMCONNECT_CREATE_CLIENT_DATA_FLAG Flags);
SIMCONNECTAPI SimConnect_AddToClientDataDefinition(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                   DWORD dwOffset, DWORD dwSizeOrType, float fEpsilon = 0,
                                                   DWORD DatumID = SIMCONNECT_UNUSED);
SIMCONNECTAPI SimConnect_ClearClientDataDefinition(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID);
SIMCONNECTAPI SimConnect_RequestClientData(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                           SIMCONNECT_DATA_REQUEST_ID RequestID,
                                           SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                           SIMCONNECT_CLIENT_DATA_PERIOD Period = SIMCONNECT_CLIENT_DATA_PERIOD_ONCE,
                                           SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags = 0, DWORD origin = 0,
                                           DWORD interval = 0, DWORD limit = 0);
SIMCONNECTAPI SimConnect_SetClientData(HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                       SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                       SIMCONNECT_CLIENT_DATA_SET_FLAG Flags, DWORD dwReserved, DWORD cbUnitSize,
                                       void* pDataSet);

#endif
