// SimConnect's numbers and names as MSFS 2020 uses them: record kinds,
// exception codes, datum types, request periods and flags, special IDs.
// Written once here for our client, the emulated simulator and the program;
// the SDK-shaped SimConnect.h is checked against it at compile time.
// Header only, with no dependency, so that any build can include it.
#ifndef SIMCONNECT_PROTOCOL_VOCABULARY_H
#define SIMCONNECT_PROTOCOL_VOCABULARY_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace scproto {

// Record IDs of the server records we handle (SIMCONNECT_RECV_ID values).
enum class RecvId : std::uint32_t {
    Exception = 1,
    Open = 2,
    Quit = 3,
    Event = 4,
    EventFilename = 6,
    SimObjectData = 8,
    SystemState = 15,
    ClientData = 16,
    EnumerateInputEvents = 34,
};

// SIMCONNECT_EXCEPTION codes, in SimConnect's order (the order is the code).
enum class Exception : std::uint32_t {
    None,
    Error,
    SizeMismatch,
    UnrecognizedId,
    Unopened,
    VersionMismatch,
    TooManyGroups,
    NameUnrecognized,
    TooManyEventNames,
    EventIdDuplicate,
    TooManyMaps,
    TooManyObjects,
    TooManyRequests,
    WeatherInvalidPort,
    WeatherInvalidMetar,
    WeatherUnableToGetObservation,
    WeatherUnableToCreateStation,
    WeatherUnableToRemoveStation,
    InvalidDataType,
    InvalidDataSize,
    DataError,
    InvalidArray,
    CreateObjectFailed,
    LoadFlightplanFailed,
    OperationInvalidForObjectType,
    IllegalOperation,
    AlreadySubscribed,
    InvalidEnum,
    DefinitionError,
    DuplicateId,
    DatumId,
    OutOfBounds,
    AlreadyCreated,
    ObjectOutsideRealityBubble,
    ObjectContainer,
    ObjectAi,
    ObjectAtc,
    ObjectSchedule,
};

// The codes as SimConnect's documentation names them, without the prefix.
inline constexpr std::array<const char*, 38> kExceptionNames{
    "NONE",
    "ERROR",
    "SIZE_MISMATCH",
    "UNRECOGNIZED_ID",
    "UNOPENED",
    "VERSION_MISMATCH",
    "TOO_MANY_GROUPS",
    "NAME_UNRECOGNIZED",
    "TOO_MANY_EVENT_NAMES",
    "EVENT_ID_DUPLICATE",
    "TOO_MANY_MAPS",
    "TOO_MANY_OBJECTS",
    "TOO_MANY_REQUESTS",
    "WEATHER_INVALID_PORT",
    "WEATHER_INVALID_METAR",
    "WEATHER_UNABLE_TO_GET_OBSERVATION",
    "WEATHER_UNABLE_TO_CREATE_STATION",
    "WEATHER_UNABLE_TO_REMOVE_STATION",
    "INVALID_DATA_TYPE",
    "INVALID_DATA_SIZE",
    "DATA_ERROR",
    "INVALID_ARRAY",
    "CREATE_OBJECT_FAILED",
    "LOAD_FLIGHTPLAN_FAILED",
    "OPERATION_INVALID_FOR_OBJECT_TYPE",
    "ILLEGAL_OPERATION",
    "ALREADY_SUBSCRIBED",
    "INVALID_ENUM",
    "DEFINITION_ERROR",
    "DUPLICATE_ID",
    "DATUM_ID",
    "OUT_OF_BOUNDS",
    "ALREADY_CREATED",
    "OBJECT_OUTSIDE_REALITY_BUBBLE",
    "OBJECT_CONTAINER",
    "OBJECT_AI",
    "OBJECT_ATC",
    "OBJECT_SCHEDULE",
};
static_assert(kExceptionNames.size() == static_cast<std::size_t>(Exception::ObjectSchedule) + 1);

// The name of an exception code, or null for a code SimConnect does not list.
constexpr const char* exceptionName(std::uint32_t code) {
    return code < kExceptionNames.size() ? kExceptionNames[code] : nullptr;
}

// SIMCONNECT_DATATYPE values; the numeric ones are what a data block holds.
enum class DataType : std::uint32_t {
    Invalid,
    Int32,
    Int64,
    Float32,
    Float64,
    String8,
    String32,
    String64,
    String128,
    String256,
    String260,
    StringV,
};

// Bytes a datum of a numeric type takes in a data block; 0 for the others
// (strings: see stringTypeWidth).
constexpr std::size_t dataTypeWidth(DataType type) {
    switch (type) {
    case DataType::Int32:
    case DataType::Float32: return 4;
    case DataType::Int64:
    case DataType::Float64: return 8;
    default: break;
    }
    return 0;
}

// --- Strings in data blocks

// Bytes a fixed-width string datum takes in a data block (NUL-padded); 0 for
// the other types. A StringV datum is its bytes, a NUL, and zeros up to the
// next multiple of 4 bytes.
constexpr std::size_t stringTypeWidth(DataType type) {
    switch (type) {
    case DataType::String8: return 8;
    case DataType::String32: return 32;
    case DataType::String64: return 64;
    case DataType::String128: return 128;
    case DataType::String256: return 256;
    case DataType::String260: return 260;
    default: break;
    }
    return 0;
}

constexpr bool isStringType(DataType type) { return stringTypeWidth(type) > 0 || type == DataType::StringV; }

// SIMCONNECT_DATA_SET_FLAG bits.
inline constexpr std::uint32_t kDataSetFlagTagged = 0x1;

// SIMCONNECT_PERIOD values, and the SIMCONNECT_DATA_REQUEST_FLAG bits.
enum class Period : std::uint32_t { Never, Once, VisualFrame, SimFrame, Second };
inline constexpr std::uint32_t kRequestFlagChanged = 0x1;
inline constexpr std::uint32_t kRequestFlagTagged = 0x2;

// Special IDs and values.
inline constexpr std::uint32_t kUnused = 0xFFFFFFFF;  // SIMCONNECT_UNUSED
inline constexpr std::uint32_t kObjectIdUser = 0;     // the user's aircraft
inline constexpr std::uint32_t kOpenConfigIndexLocal = 0xFFFFFFFF;
inline constexpr std::uint32_t kGroupPriorityHighest = 1;
inline constexpr std::uint32_t kEventFlagGroupIdIsPriority = 0x10;

// --- Client data ---------------------------------------------------------

// SIMCONNECT_CLIENT_DATA_PERIOD values: ON_SET sends whenever a client
// writes the area.
enum class ClientDataPeriod : std::uint32_t { Never, Once, VisualFrame, OnSet, Second };
inline constexpr std::uint32_t kClientDataRequestFlagChanged = 0x1;
inline constexpr std::uint32_t kClientDataRequestFlagTagged = 0x2;
inline constexpr std::uint32_t kClientDataSetFlagTagged = 0x1;
inline constexpr std::uint32_t kCreateClientDataFlagReadOnly = 0x1;
// The largest area, and so the largest datum and the largest write.
inline constexpr std::size_t kClientDataMaxSize = 8192;
// A datum's offset when it follows the definition's previous one.
inline constexpr std::uint32_t kClientDataOffsetAuto = 0xFFFFFFFF;

// SIMCONNECT_CLIENTDATATYPE_*: a datum's dwSizeOrType is a size in bytes or
// one of these (-1 to -6 as a DWORD).
enum class ClientDataType : std::uint32_t {
    Int8 = 0xFFFFFFFF,
    Int16 = 0xFFFFFFFE,
    Int32 = 0xFFFFFFFD,
    Int64 = 0xFFFFFFFC,
    Float32 = 0xFFFFFFFB,
    Float64 = 0xFFFFFFFA,
};

// The bytes a client-data datum takes: its size, or its type's width; 0
// when it is neither a size up to kClientDataMaxSize nor a known type.
constexpr std::size_t clientDatumSize(std::uint32_t size_or_type) {
    switch (static_cast<ClientDataType>(size_or_type)) {
    case ClientDataType::Int8: return 1;
    case ClientDataType::Int16: return 2;
    case ClientDataType::Int32:
    case ClientDataType::Float32: return 4;
    case ClientDataType::Int64:
    case ClientDataType::Float64: return 8;
    }
    return size_or_type <= kClientDataMaxSize ? size_or_type : 0;
}

}  // namespace scproto

#endif
