#include "simulator/flight_sim_interface_msfs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "simconnect/exception_names.h"
#include "simconnect/send_event.h"

constinit FlightSimInterfaceMSFS msfsInterface;

namespace {

struct DataDefinitionEntry {
    const char* variable;
    const char* unit;
    SIMCONNECT_DATATYPE type;
};

// In the order the variables lie in the received blocks.
constexpr DataDefinitionEntry radioDefinition[] = {
    {"COM STANDBY FREQUENCY:1", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
    {"COM STANDBY FREQUENCY:2", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
    {"NAV STANDBY FREQUENCY:1", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
    {"NAV STANDBY FREQUENCY:2", "MHz", SIMCONNECT_DATATYPE_FLOAT64},
    {"AUTOPILOT HEADING LOCK DIR", "degrees", SIMCONNECT_DATATYPE_FLOAT64},
    {"NAV OBS:1", "degrees", SIMCONNECT_DATATYPE_FLOAT64},
    {"NAV OBS:2", "degrees", SIMCONNECT_DATATYPE_FLOAT64},
};

constexpr DataDefinitionEntry autopilotDefinition[] = {
    {"AUTOPILOT ALTITUDE LOCK VAR", "feet", SIMCONNECT_DATATYPE_FLOAT64},
    {"AUTOPILOT VERTICAL HOLD VAR", "feet/minute", SIMCONNECT_DATATYPE_FLOAT64},
    {"TRANSPONDER CODE:1", "BCO16", SIMCONNECT_DATATYPE_INT32},
    {"AUTOPILOT MASTER", "Bool", SIMCONNECT_DATATYPE_INT32},
    {"AUTOPILOT HEADING LOCK", "Bool", SIMCONNECT_DATATYPE_INT32},
    {"AUTOPILOT NAV1 LOCK", "Bool", SIMCONNECT_DATATYPE_INT32},
    {"AUTOPILOT APPROACH HOLD", "Bool", SIMCONNECT_DATATYPE_INT32},
    {"AUTOPILOT ALTITUDE LOCK", "Bool", SIMCONNECT_DATATYPE_INT32},
    {"AUTOPILOT VERTICAL HOLD", "Bool", SIMCONNECT_DATATYPE_INT32},
};

// Both definitions' rows in the order they are added, for naming a row in a
// message.
constexpr std::size_t definitionRowCount = std::size(radioDefinition) + std::size(autopilotDefinition);

const DataDefinitionEntry& definitionRow(std::size_t row)
{
    return row < std::size(radioDefinition) ? radioDefinition[row]
                                            : autopilotDefinition[row - std::size(radioDefinition)];
}

// When a reported value counts as the one the program set: within half the
// unit the event carries (BCD hundredths, whole degrees, whole feet), angles
// modulo 360 since the simulator keeps 360 as 0; transponder codes exactly.
struct HoldTolerance {
    double tolerance;
    bool angle;
};

constexpr HoldTolerance holdTolerances[] = {
    {0.005, false},  // Nav1Standby, MHz
    {0.005, false},  // Nav2Standby
    {0.5, true},     // HeadingBug, degrees
    {0.5, true},     // Obs1
    {0.5, true},     // Obs2
    {1.0, false},    // ApAltitude: sent truncated to whole feet
    {1.0, false},    // ApVerticalSpeed: likewise
    {0.0, false},    // TransponderCode
};
static_assert(std::size(holdTolerances) == static_cast<std::size_t>(HeldMember::Count));

bool showsValue(HeldMember member, double reported, double local)
{
    const HoldTolerance& rule = holdTolerances[static_cast<std::size_t>(member)];
    double difference = std::fabs(reported - local);
    if (rule.angle) {
        difference = std::fmod(difference, 360.0);
        difference = std::fmin(difference, 360.0 - difference);
    }
    return difference <= rule.tolerance;
}

// Reads one value of the block at `offset` and advances past it. The blocks
// are packed little-endian, as the host is; memcpy keeps unaligned reads legal.
template <typename T>
void take(const unsigned char* block, std::size_t& offset, T& into)
{
    std::memcpy(&into, block + offset, sizeof into);
    offset += sizeof into;
}

}  // namespace

void FlightSimInterfaceMSFS::send(ClientEventId event, DWORD data)
{
    sendEvent(*connection, event, data);
}

void FlightSimInterfaceMSFS::recordSetupCall(SetupCall::Kind kind, std::size_t index)
{
    if (setup_calls_made_ == setup_calls_.size()) {
        return;
    }
    SetupCall& call = setup_calls_[setup_calls_made_++];
    call.kind = kind;
    call.index = static_cast<std::uint8_t>(index);
    // Without an ID (a failed call) the record stays 0, which no packet has.
    call.send_id = 0;
    SimConnect_GetLastSentPacketID(*connection, &call.send_id);
}

int FlightSimInterfaceMSFS::setupConnection()
{
    using Kind = SetupCall::Kind;
    setup_calls_made_ = 0;
    // Every mapping before the first data definition.
    for (const ClientEventRange& range : clientEventMappingOrder) {
        for (ClientEventId id = range.first; id <= range.last; ++id) {
            // The table's names are literals, hence NUL-terminated.
            SimConnect_MapClientEventToSimEvent(*connection, id, clientEvents[id].name.data());
            recordSetupCall(Kind::Map, id);
        }
    }
    for (std::size_t row = 0; row < definitionRowCount; ++row) {
        const DataDefinitionEntry& entry = definitionRow(row);
        // Epsilon 0: the blocks are requested every frame anyway.
        SimConnect_AddToDataDefinition(*connection, row < std::size(radioDefinition) ? DEF_RADIOS : DEF_AUTOPILOT,
                                       entry.variable, entry.unit, entry.type, 0.0F, SIMCONNECT_UNUSED);
        recordSetupCall(Kind::Define, row);
    }
    SimConnect_RequestDataOnSimObject(*connection, REQ_RADIOS, DEF_RADIOS, SIMCONNECT_OBJECT_ID_USER,
                                      SIMCONNECT_PERIOD_SIM_FRAME, 0, 0, 0, 0);
    recordSetupCall(Kind::Request, REQ_RADIOS);
    SimConnect_RequestDataOnSimObject(*connection, REQ_AUTOPILOT, DEF_AUTOPILOT,
                                      SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SIM_FRAME, 0, 0,
                                      0, 0);
    recordSetupCall(Kind::Request, REQ_AUTOPILOT);
    return 0;
}

void FlightSimInterfaceMSFS::reportException(const SIMCONNECT_RECV_EXCEPTION& exception) const
{
    char reason[48];
    if (const char* name = exceptionName(exception.dwException)) {
        std::snprintf(reason, sizeof reason, "%s", name);
    } else {
        std::snprintf(reason, sizeof reason, "exception %lu", static_cast<unsigned long>(exception.dwException));
    }
    using Kind = SetupCall::Kind;
    for (std::size_t i = 0; i < setup_calls_made_; ++i) {
        const SetupCall& call = setup_calls_[i];
        if (call.send_id == 0 || call.send_id != exception.dwSendID) {
            continue;
        }
        if (call.kind == Kind::Map) {
            std::fprintf(stderr, "msfs-panel: the simulator rejected MapClientEventToSimEvent(\"%s\"): %s\n",
                         clientEvents[call.index].name.data(), reason);
        } else if (call.kind == Kind::Define) {
            const DataDefinitionEntry& entry = definitionRow(call.index);
            std::fprintf(stderr, "msfs-panel: the simulator rejected AddToDataDefinition(\"%s\", \"%s\"): %s\n",
                         entry.variable, entry.unit, reason);
        } else {
            std::fprintf(stderr, "msfs-panel: the simulator rejected RequestDataOnSimObject(%s): %s\n",
                         call.index == REQ_RADIOS ? "REQ_RADIOS" : "REQ_AUTOPILOT", reason);
        }
        return;
    }
    if (report_every_exception) {
        std::fprintf(stderr, "msfs-panel: the simulator rejected the call sent with ID %lu: %s\n",
                     static_cast<unsigned long>(exception.dwSendID), reason);
    }
}

void FlightSimInterfaceMSFS::forgetSimulator()
{
    // Everything but the connection handle, the clock and the options.
    FlightSimInterfaceMSFS fresh;
    fresh.connection = connection;
    fresh.clock = clock;
    fresh.report_every_exception = report_every_exception;
    *this = fresh;
}

void FlightSimInterfaceMSFS::holdLocal(HeldMember member, double value)
{
    LocalHold& hold = holds_[static_cast<std::size_t>(member)];
    if (hold.count == LocalHold::capacity) {
        // So far behind that the oldest value hardly matters: forget it.
        dropOldest(hold, 1);
    }
    hold.unseen[hold.count] = value;
    hold.set_at[hold.count] = clock();
    ++hold.count;
}

void FlightSimInterfaceMSFS::dropOldest(LocalHold& hold, std::size_t n)
{
    const auto shift = [&](auto& values) {
        std::copy(values.begin() + static_cast<std::ptrdiff_t>(n),
                  values.begin() + static_cast<std::ptrdiff_t>(hold.count), values.begin());
    };
    shift(hold.unseen);
    shift(hold.set_at);
    hold.count -= n;
}

double FlightSimInterfaceMSFS::acceptReported(HeldMember member, double reported, double local,
                                              SimClock::time_point now)
{
    LocalHold& hold = holds_[static_cast<std::size_t>(member)];
    const bool moved = !hold.seen || !showsValue(member, reported, hold.previous);
    hold.previous = reported;
    hold.seen = true;
    if (hold.count == 0) {
        return reported;
    }
    if (moved) {
        for (std::size_t i = 0; i < hold.count; ++i) {
            if (showsValue(member, reported, hold.unseen[i])) {
                // Shown up to here: what came before is applied too.
                dropOldest(hold, i + 1);
                break;
            }
        }
    }
    if (hold.count == 0 || now >= hold.set_at[0] + localHoldOff) {
        // Everything shown, or the simulator has had its time for the oldest
        // value it has not shown: what it shows now stands, even a change
        // made in the simulator itself.
        hold.count = 0;
        return reported;
    }
    return local;
}

void FlightSimInterfaceMSFS::storeDataBlock(SIMCONNECT_DATA_REQUEST_ID request,
                                            const unsigned char* payload, std::size_t length)
{
    std::size_t offset = 0;
    if (request == REQ_RADIOS) {
        if (length < radioBlockSize) {
            return;
        }
        double nav1 = 0.0, nav2 = 0.0, heading = 0.0, course1 = 0.0, course2 = 0.0;
        take(payload, offset, com1_standby);
        take(payload, offset, com2_standby);
        take(payload, offset, nav1);
        take(payload, offset, nav2);
        take(payload, offset, heading);
        take(payload, offset, course1);
        take(payload, offset, course2);
        const SimClock::time_point now = clock();
        nav1_standby = acceptReported(HeldMember::Nav1Standby, nav1, nav1_standby, now);
        nav2_standby = acceptReported(HeldMember::Nav2Standby, nav2, nav2_standby, now);
        heading_bug = acceptReported(HeldMember::HeadingBug, heading, heading_bug, now);
        obs1 = acceptReported(HeldMember::Obs1, course1, obs1, now);
        obs2 = acceptReported(HeldMember::Obs2, course2, obs2, now);
    } else if (request == REQ_AUTOPILOT) {
        if (length < autopilotBlockSize) {
            return;
        }
        double altitude = 0.0, speed = 0.0;
        std::uint32_t code = 0;
        take(payload, offset, altitude);
        take(payload, offset, speed);
        take(payload, offset, code);
        const SimClock::time_point now = clock();
        ap_altitude = acceptReported(HeldMember::ApAltitude, altitude, ap_altitude, now);
        ap_vertical_speed = acceptReported(HeldMember::ApVerticalSpeed, speed, ap_vertical_speed, now);
        transponder_code = static_cast<std::uint32_t>(acceptReported(
            HeldMember::TransponderCode, code, transponder_code, now));
        take(payload, offset, ap_master);
        take(payload, offset, ap_heading_lock);
        take(payload, offset, ap_nav1_lock);
        take(payload, offset, ap_approach_hold);
        take(payload, offset, ap_altitude_lock);
        take(payload, offset, ap_vertical_hold);
    }
}

std::uint8_t FlightSimInterfaceMSFS::getLedState()
{
    std::uint8_t leds = 0;
    const std::int32_t states[] = {ap_master,        ap_heading_lock,  ap_nav1_lock,
                                   ap_approach_hold, ap_altitude_lock, ap_vertical_hold};
    for (std::size_t bit = 0; bit < std::size(states); ++bit) {
        if (states[bit] != 0) {
            leds = static_cast<std::uint8_t>(leds | (1U << bit));
        }
    }
    return leds;
}

void CALLBACK onSimConnectMessage(SIMCONNECT_RECV* record, DWORD size, void* /*context*/)
{
    // `size` is what was actually delivered; nothing past it is read.
    if (record == nullptr || size < sizeof(SIMCONNECT_RECV)) {
        return;
    }
    switch (record->dwID) {
    case SIMCONNECT_RECV_ID_QUIT:
        msfsInterface.quit_received = true;
        break;
    case SIMCONNECT_RECV_ID_EXCEPTION:
        if (size >= sizeof(SIMCONNECT_RECV_EXCEPTION)) {
            msfsInterface.reportException(*static_cast<const SIMCONNECT_RECV_EXCEPTION*>(record));
        }
        break;
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA: {
        if (size < dataRecordHeaderSize) {
            return;
        }
        const auto* data = static_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(record);
        const auto* bytes = reinterpret_cast<const unsigned char*>(record);
        msfsInterface.storeDataBlock(data->dwRequestID, bytes + dataRecordHeaderSize,
                                     size - dataRecordHeaderSize);
        break;
    }
    default:
        // Open and EVENT records (we subscribe to no events, and such a
        // record carries no request ID or data block) are dropped.
        break;
    }
}
