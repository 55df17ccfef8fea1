// SimConnect wire protocol (MSFS 2020, protocol version 5): packet layouts,
// encoders and decoders, written once and shared by our client library and
// the emulated simulator.
//
// Everything on the wire is little-endian and packed. Every message starts
// with its total length as a u32, the length field included. Client packets
// carry a 16-byte header (size, protocol, 0xF0000000 | function, send ID);
// server records a 12-byte one (size, version, record ID).
//
// Contract of this header:
// - Encoders write into a buffer the caller owns and return the number of
//   bytes written, or 0 when the buffer is too small; they never allocate,
//   so a client can send from a fixed buffer on every pass.
// - Decoders never read outside the span they are given. They return an
//   Error whose code is Ok on success; decoded strings are views into the
//   caller's buffer, valid as long as it is.
// - Fixed-size name fields are written truncated to 255 bytes and always
//   NUL-terminated; on decoding a name ends at its first NUL or at the end
//   of the field.
#ifndef SIMCONNECT_PROTOCOL_PROTOCOL_H
#define SIMCONNECT_PROTOCOL_PROTOCOL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "simconnect_protocol/vocabulary.h"

namespace scproto {

// --- Framing -------------------------------------------------------------

inline constexpr std::size_t kClientHeaderSize = 16;
inline constexpr std::size_t kServerHeaderSize = 12;
// No packet the program or the emulator exchanges comes near this; a larger
// length field means a corrupt or hostile stream.
inline constexpr std::size_t kMaxPacketSize = 64 * 1024;
inline constexpr std::size_t kNameFieldSize = 256;

// Protocol version 5 is MSFS 2020 ("KittyHawk").
inline constexpr std::uint32_t kProtocolKittyHawk = 5;
inline constexpr std::uint32_t kFunctionTypeBase = 0xF0000000;

enum class FunctionId : std::uint32_t {
    Open = 0x01,
    MapClientEventToSimEvent = 0x04,
    TransmitClientEvent = 0x05,
    AddToDataDefinition = 0x0C,
    RequestDataOnSimObject = 0x0E,
    MapClientDataNameToID = 0x37,
    CreateClientData = 0x38,
    AddToClientDataDefinition = 0x39,
    ClearClientDataDefinition = 0x3A,
    RequestClientData = 0x3B,
    SetClientData = 0x3C,
    // --- Data definitions: clearing and setting
    ClearDataDefinition = 0x0D,
    SetDataOnSimObject = 0x10,
    // --- System events and state
    SubscribeToSystemEvent = 0x17,
    UnsubscribeFromSystemEvent = 0x18,
    RequestSystemState = 0x35,
    // --- Input events
    EnumerateInputEvents = 0x4F,
    SetInputEvent = 0x51,
};

// Exact sizes of the fixed-size packets and records.
inline constexpr std::size_t kOpenPacketSize = 296;
inline constexpr std::size_t kMapClientEventPacketSize = 276;
inline constexpr std::size_t kTransmitClientEventPacketSize = 36;
inline constexpr std::size_t kAddToDataDefinitionPacketSize = 544;
inline constexpr std::size_t kRequestDataPacketSize = 48;
inline constexpr std::size_t kRecvOpenSize = 308;
inline constexpr std::size_t kRecvExceptionSize = 24;
inline constexpr std::size_t kRecvQuitSize = 12;
inline constexpr std::size_t kRecvEventSize = 24;
inline constexpr std::size_t kRecvSimObjectDataHeaderSize = 40;  // data follows

// --- Data definitions, system events and state, input events: sizes
inline constexpr std::size_t kClearDataDefinitionPacketSize = 20;
inline constexpr std::size_t kSetDataPacketHeaderSize = 36;  // data follows
inline constexpr std::size_t kSubscribeToSystemEventPacketSize = 276;
inline constexpr std::size_t kUnsubscribeFromSystemEventPacketSize = 20;
inline constexpr std::size_t kRequestSystemStatePacketSize = 276;
inline constexpr std::size_t kEnumerateInputEventsPacketSize = 20;
inline constexpr std::size_t kSetInputEventPacketHeaderSize = 28;  // value follows
inline constexpr std::size_t kPathFieldSize = 260;                 // MAX_PATH
inline constexpr std::size_t kRecvEventFilenameSize = 288;
inline constexpr std::size_t kRecvSystemStateSize = 284;
inline constexpr std::size_t kRecvListHeaderSize = 28;  // entries follow
inline constexpr std::size_t kInputEventNameSize = 64;
inline constexpr std::size_t kInputEventDescriptorSize = 76;

// --- Errors --------------------------------------------------------------

enum class ErrorCode {
    Ok,
    Truncated,          // fewer bytes than the length field or the kind needs
    LengthBelowHeader,  // length field smaller than the header
    LengthTooLarge,     // length field above kMaxPacketSize
    LengthMismatch,     // length field disagrees with the bytes given
    WrongSize,          // record/packet size not the one its kind requires
    UnknownFunction,    // client packet type not one we decode
    UnknownRecord,      // server record ID not one we decode
    BadTypeField,       // client packet type without the 0xF0000000 marker
    BufferTooSmall,     // an encoder's output buffer cannot hold the packet
};

struct Error {
    ErrorCode code = ErrorCode::Ok;
    std::uint32_t value = 0;  // the offending field value, where there is one
    explicit operator bool() const { return code != ErrorCode::Ok; }
};

// A readable reason, e.g. "length field 70000 above the 65536-byte maximum".
std::string describe(const Error& error);

// Text from the wire or from a file as it may appear in a message for people:
// at most `max_bytes` bytes (then "..."), with control bytes, non-ASCII bytes
// and the backslash as \xNN, so that a huge or hostile value can neither
// flood a terminal nor drive it.
std::string printable(std::string_view text, std::size_t max_bytes);

// --- Client -> server packets -------------------------------------------

struct ClientHeader {
    std::uint32_t size = 0;
    std::uint32_t protocol = 0;
    std::uint32_t type = 0;  // kFunctionTypeBase | function ID
    std::uint32_t send_id = 0;
};

struct OpenPacket {
    std::string_view app_name;
    // Version fields as MSFS 2020's own client sends them.
    std::array<std::uint8_t, 4> alias{0x00, 'H', 'K', 0x00};  // bytes 276..279
    std::uint32_t version_major = 11;
    std::uint32_t version_minor = 0;
    std::uint32_t build_major = 62651;
    std::uint32_t build_minor = 3;
};

struct MapClientEventPacket {
    std::uint32_t event_id = 0;
    std::string_view event_name;
};

struct TransmitClientEventPacket {
    std::uint32_t object_id = 0;
    std::uint32_t event_id = 0;
    std::uint32_t data = 0;
    std::uint32_t group_id = 0;
    std::uint32_t flags = 0;
};

struct AddToDataDefinitionPacket {
    std::uint32_t define_id = 0;
    std::string_view datum_name;
    std::string_view units_name;
    std::uint32_t datum_type = 0;
    float epsilon = 0.0f;  // a 32-bit float on the wire
    std::uint32_t datum_id = 0xFFFFFFFF;
};

struct RequestDataPacket {
    std::uint32_t request_id = 0;
    std::uint32_t define_id = 0;
    std::uint32_t object_id = 0;
    std::uint32_t period = 0;
    std::uint32_t flags = 0;
    std::uint32_t origin = 0;
    std::uint32_t interval = 0;
    std::uint32_t limit = 0;
};

// Encoders: write header + payload with the given protocol version and send ID.
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id, const OpenPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const MapClientEventPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const TransmitClientEventPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const AddToDataDefinitionPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const RequestDataPacket& p);

// --- Data definitions: clearing and setting

struct ClearDataDefinitionPacket {
    std::uint32_t define_id = 0;
};

// SetDataOnSimObject: array_count units of unit_size bytes, each the
// definition's datums back to back. The decoder checks only that the data
// is there; whether it fits the definition is the server's to judge. (The
// field at 32 is the unit size as the API names it; clients that send one
// unit, as the panel does, cannot tell it from the total.)
struct SetDataPacket {
    std::uint32_t define_id = 0;
    std::uint32_t object_id = 0;
    std::uint32_t flags = 0;  // kDataSetFlagTagged or 0
    std::uint32_t array_count = 1;
    std::uint32_t unit_size = 0;
    std::span<const std::uint8_t> data;  // everything after the 36-byte header
};

// --- System events and state

struct SubscribeToSystemEventPacket {
    std::uint32_t event_id = 0;
    std::string_view event_name;  // e.g. "AircraftLoaded"
};

struct UnsubscribeFromSystemEventPacket {
    std::uint32_t event_id = 0;
};

struct RequestSystemStatePacket {
    std::uint32_t request_id = 0;
    std::string_view state;  // e.g. "AircraftLoaded"
};

// --- Input events

struct EnumerateInputEventsPacket {
    std::uint32_t request_id = 0;
};

// SetInputEvent: the event's hash, then the value's size and bytes (8 for a
// double; a string's bytes).
struct SetInputEventPacket {
    std::uint64_t hash = 0;
    std::span<const std::uint8_t> value;
};

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const ClearDataDefinitionPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id, const SetDataPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const SubscribeToSystemEventPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const UnsubscribeFromSystemEventPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const RequestSystemStatePacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const EnumerateInputEventsPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const SetInputEventPacket& p);

Error decode(std::span<const std::uint8_t> packet, ClearDataDefinitionPacket& out);
Error decode(std::span<const std::uint8_t> packet, SetDataPacket& out);
Error decode(std::span<const std::uint8_t> packet, SubscribeToSystemEventPacket& out);
Error decode(std::span<const std::uint8_t> packet, UnsubscribeFromSystemEventPacket& out);
Error decode(std::span<const std::uint8_t> packet, RequestSystemStatePacket& out);
Error decode(std::span<const std::uint8_t> packet, EnumerateInputEventsPacket& out);
Error decode(std::span<const std::uint8_t> packet, SetInputEventPacket& out);

// Reads the 16-byte header of one whole client packet (as cut by the
// reassembler) and checks its length field against the span.
Error decodeClientHeader(std::span<const std::uint8_t> packet, ClientHeader& out);

// Decoders for one whole client packet, header included.
Error decode(std::span<const std::uint8_t> packet, OpenPacket& out);
Error decode(std::span<const std::uint8_t> packet, MapClientEventPacket& out);
Error decode(std::span<const std::uint8_t> packet, TransmitClientEventPacket& out);
Error decode(std::span<const std::uint8_t> packet, AddToDataDefinitionPacket& out);
Error decode(std::span<const std::uint8_t> packet, RequestDataPacket& out);

// --- Server -> client records -------------------------------------------

struct ServerHeader {
    std::uint32_t size = 0;
    std::uint32_t version = 0;
    std::uint32_t id = 0;  // a RecvId
};

struct RecvOpen {
    std::string_view application_name;
    std::uint32_t application_version_major = 0;
    std::uint32_t application_version_minor = 0;
    std::uint32_t application_build_major = 0;
    std::uint32_t application_build_minor = 0;
    std::uint32_t simconnect_version_major = 0;
    std::uint32_t simconnect_version_minor = 0;
    std::uint32_t simconnect_build_major = 0;
    std::uint32_t simconnect_build_minor = 0;
    std::uint32_t reserved1 = 0;
    std::uint32_t reserved2 = 0;
};

// What a real MSFS 2020 reports in its RECV_OPEN.
RecvOpen kittyHawkOpen();

struct RecvException {
    std::uint32_t exception = 0;
    std::uint32_t send_id = 0;
    std::uint32_t index = 0;
};

struct RecvQuit {};

struct RecvEvent {
    std::uint32_t group_id = 0;
    std::uint32_t event_id = 0;
    std::uint32_t data = 0;
};

struct RecvSimObjectData {
    std::uint32_t request_id = 0;
    std::uint32_t object_id = 0;
    std::uint32_t define_id = 0;
    std::uint32_t flags = 0;
    std::uint32_t entry_number = 1;
    std::uint32_t out_of = 1;
    std::uint32_t define_count = 0;      // number of datums, not bytes
    std::span<const std::uint8_t> data;  // datums back to back, definition order
};

// Encoders for server records with the given server version in the header.
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvOpen& r);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvException& r);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvQuit& r);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvEvent& r);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvSimObjectData& r);

// --- System events and state

// A system event that names a file (AircraftLoaded: the aircraft.cfg path).
struct RecvEventFilename {
    std::uint32_t group_id = 0xFFFFFFFF;  // UNKNOWN_GROUP for system events
    std::uint32_t event_id = 0;
    std::uint32_t data = 0;
    std::string_view file_name;  // at most 259 bytes
    std::uint32_t flags = 0;
};

struct RecvSystemState {
    std::uint32_t request_id = 0;
    std::uint32_t integer = 0;
    float float_value = 0.0f;
    std::string_view string;  // at most 259 bytes
};

// --- Input events

struct InputEventDescriptor {
    std::string_view name;  // at most 63 bytes
    std::uint64_t hash = 0;
    std::uint32_t type = 0;  // a DataType: Float64, or a string type
};

// One record of a list of input events; a long list comes in several, each
// saying which it is (entry_number from 0) of how many (out_of).
struct RecvEnumerateInputEvents {
    std::uint32_t request_id = 0;
    std::uint32_t array_size = 0;  // descriptors in this record
    std::uint32_t entry_number = 0;
    std::uint32_t out_of = 1;
    // Decoded: the array_size descriptors, read with inputEventAt().
    std::span<const std::uint8_t> entries;
};

// Most descriptors one record can carry.
inline constexpr std::size_t kMaxInputEventsPerRecord =
    (kMaxPacketSize - kRecvListHeaderSize) / kInputEventDescriptorSize;

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvEventFilename& r);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvSystemState& r);
// The record with the given descriptors (r.array_size and r.entries are
// ignored); 0 when more than kMaxInputEventsPerRecord or out is too small.
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvEnumerateInputEvents& r,
                   std::span<const InputEventDescriptor> descriptors);

Error decode(std::span<const std::uint8_t> record, RecvEventFilename& out);
Error decode(std::span<const std::uint8_t> record, RecvSystemState& out);
// Checks that the record holds exactly array_size descriptors.
Error decode(std::span<const std::uint8_t> record, RecvEnumerateInputEvents& out);
// Descriptor i (< array_size) of a decoded record.
InputEventDescriptor inputEventAt(const RecvEnumerateInputEvents& r, std::size_t i);

// --- Strings in data blocks

// Writes a string datum of a string type (stringTypeWidth, or StringV) at
// the front of `out`: the text cut to fit, NUL-padded. Returns the bytes
// written, 0 when `out` is too small or the type is not a string type.
std::size_t putStringDatum(std::span<std::uint8_t> out, DataType type, std::string_view text);
// The size putStringDatum writes for this text, 0 for a non-string type.
std::size_t stringDatumSize(DataType type, std::string_view text);
// Reads a string datum of a string type at the front of `data`; `size`
// receives the bytes it takes. Nothing when the type is not a string type,
// a fixed-width datum does not fit or a StringV datum has no NUL.
std::optional<std::string_view> getStringDatum(std::span<const std::uint8_t> data, DataType type, std::size_t& size);

// Reads the 12-byte header of one whole server record and checks its length
// field against the span and the minimum size its record ID requires
// (unknown record IDs pass with only the header checked: a client hands them
// on and the callback ignores them).
Error decodeServerHeader(std::span<const std::uint8_t> record, ServerHeader& out);

Error decode(std::span<const std::uint8_t> record, RecvOpen& out);
Error decode(std::span<const std::uint8_t> record, RecvException& out);
Error decode(std::span<const std::uint8_t> record, RecvQuit& out);
Error decode(std::span<const std::uint8_t> record, RecvEvent& out);
Error decode(std::span<const std::uint8_t> record, RecvSimObjectData& out);

// --- Stream reassembly ---------------------------------------------------

// Cuts a TCP byte stream into whole packets by their length field. Holds at
// most one maximum-size packet plus what arrived after it in a buffer
// allocated once, so steady-state use allocates nothing.
class StreamReassembler {
public:
    // header_size: kClientHeaderSize for a server reading client packets,
    // kServerHeaderSize for a client reading server records.
    explicit StreamReassembler(std::size_t header_size, std::size_t max_packet = kMaxPacketSize);

    // Space to receive into directly (e.g. recv() into it), then commit(n).
    std::span<std::uint8_t> writable();
    void commit(std::size_t n);
    // Copies bytes in; returns how many fit (the rest must be fed later).
    std::size_t feed(std::span<const std::uint8_t> bytes);

    // The next whole packet, or an empty span when it has not all arrived.
    // A length field below the header size or above the maximum makes the
    // stream unusable: error is set, and every later call returns empty.
    // The span stays valid until the next call to next(), feed(),
    // writable() or commit().
    std::span<const std::uint8_t> next(Error& error);

    std::size_t buffered() const;
    bool failed() const;

    // Forgets what is buffered and any failure, keeping the buffer: for a
    // new connection without a new allocation.
    void reset();

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t header_size_;
    std::size_t max_packet_;
    std::size_t begin_ = 0;  // first unconsumed byte
    std::size_t end_ = 0;    // one past the last received byte
    Error failure_{};
};

// --- Client data ---------------------------------------------------------
// Named memory areas shared between clients and add-ons inside the
// simulator. A definition picks bytes of an area (an offset and a size or
// a ClientDataType); a request delivers them as RECV_CLIENT_DATA records,
// laid out as SIMOBJECT_DATA.

inline constexpr std::size_t kMapClientDataNamePacketSize = 276;
inline constexpr std::size_t kCreateClientDataPacketSize = 28;
inline constexpr std::size_t kAddToClientDataDefinitionPacketSize = 36;
inline constexpr std::size_t kClearClientDataDefinitionPacketSize = 20;
inline constexpr std::size_t kRequestClientDataPacketSize = 48;
inline constexpr std::size_t kSetClientDataHeaderSize = 36;  // the data follows

struct MapClientDataNamePacket {
    std::string_view name;
    std::uint32_t area_id = 0;
};

struct CreateClientDataPacket {
    std::uint32_t area_id = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;  // kCreateClientDataFlagReadOnly
};

struct AddToClientDataDefinitionPacket {
    std::uint32_t define_id = 0;
    std::uint32_t offset = 0;        // or kClientDataOffsetAuto
    std::uint32_t size_or_type = 0;  // bytes, or a ClientDataType
    float epsilon = 0.0f;
    std::uint32_t datum_id = kUnused;
};

struct ClearClientDataDefinitionPacket {
    std::uint32_t define_id = 0;
};

struct RequestClientDataPacket {
    std::uint32_t area_id = 0;
    std::uint32_t request_id = 0;
    std::uint32_t define_id = 0;
    std::uint32_t period = 0;  // a ClientDataPeriod
    std::uint32_t flags = 0;
    std::uint32_t origin = 0;
    std::uint32_t interval = 0;
    std::uint32_t limit = 0;
};

// The data's size is written before it; SimConnect_SetClientData's
// dwReserved goes on the wire as given.
struct SetClientDataPacket {
    std::uint32_t area_id = 0;
    std::uint32_t define_id = 0;
    std::uint32_t flags = 0;
    std::uint32_t reserved = 0;
    std::span<const std::uint8_t> data;
};

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const MapClientDataNamePacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const CreateClientDataPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const AddToClientDataDefinitionPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const ClearClientDataDefinitionPacket& p);
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const RequestClientDataPacket& p);
// 0 also when the data would make the packet larger than kMaxPacketSize.
std::size_t encode(std::span<std::uint8_t> out, std::uint32_t protocol, std::uint32_t send_id,
                   const SetClientDataPacket& p);

Error decode(std::span<const std::uint8_t> packet, MapClientDataNamePacket& out);
Error decode(std::span<const std::uint8_t> packet, CreateClientDataPacket& out);
Error decode(std::span<const std::uint8_t> packet, AddToClientDataDefinitionPacket& out);
Error decode(std::span<const std::uint8_t> packet, ClearClientDataDefinitionPacket& out);
Error decode(std::span<const std::uint8_t> packet, RequestClientDataPacket& out);
// WrongSize when the size field disagrees with the bytes after it; `data`
// is a view into the packet.
Error decode(std::span<const std::uint8_t> packet, SetClientDataPacket& out);

// SIMCONNECT_RECV_CLIENT_DATA: a SIMOBJECT_DATA record with its own ID.
struct RecvClientData : RecvSimObjectData {};

std::size_t encode(std::span<std::uint8_t> out, std::uint32_t version, const RecvClientData& r);
Error decode(std::span<const std::uint8_t> record, RecvClientData& out);

// --- MSFS 2024 -----------------------------------------------------------

// MSFS 2024 ("SunRise") accepts protocol-5 clients, but writes version 6 in
// the header of every record it sends them.
inline constexpr std::uint32_t kProtocolSunRise = 6;

// What MSFS 2024 reports in its RECV_OPEN.
RecvOpen sunRiseOpen();

}  // namespace scproto

#endif
