#include "simulator/flight_sim_interface_msfs.h"

#include <cstring>

#include "driver/quit_flag.h"
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

void addDefinition(HANDLE connection, SIMCONNECT_DATA_DEFINITION_ID definition,
                   const DataDefinitionEntry* entries, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        // Epsilon 0: the blocks are requested every frame anyway.
        SimConnect_AddToDataDefinition(connection, definition, entries[i].variable,
                                       entries[i].unit, entries[i].type, 0.0F, SIMCONNECT_UNUSED);
    }
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

int FlightSimInterfaceMSFS::setupConnection()
{
    // Every mapping before the first data definition.
    for (const ClientEventRange& range : clientEventMappingOrder) {
        for (ClientEventId id = range.first; id <= range.last; ++id) {
            // The table's names are literals, hence NUL-terminated.
            SimConnect_MapClientEventToSimEvent(*connection, id, clientEvents[id].name.data());
        }
    }
    addDefinition(*connection, DEF_RADIOS, radioDefinition, std::size(radioDefinition));
    addDefinition(*connection, DEF_AUTOPILOT, autopilotDefinition, std::size(autopilotDefinition));
    SimConnect_RequestDataOnSimObject(*connection, REQ_RADIOS, DEF_RADIOS, SIMCONNECT_OBJECT_ID_USER,
                                      SIMCONNECT_PERIOD_SIM_FRAME, 0, 0, 0, 0);
    SimConnect_RequestDataOnSimObject(*connection, REQ_AUTOPILOT, DEF_AUTOPILOT,
                                      SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SIM_FRAME, 0, 0,
                                      0, 0);
    return 0;
}

void FlightSimInterfaceMSFS::storeDataBlock(SIMCONNECT_DATA_REQUEST_ID request,
                                            const unsigned char* payload, std::size_t length)
{
    std::size_t offset = 0;
    if (request == REQ_RADIOS) {
        if (length < radioBlockSize) {
            return;
        }
        take(payload, offset, com1_standby);
        take(payload, offset, com2_standby);
        take(payload, offset, nav1_standby);
        take(payload, offset, nav2_standby);
        take(payload, offset, heading_bug);
        take(payload, offset, obs1);
        take(payload, offset, obs2);
    } else if (request == REQ_AUTOPILOT) {
        if (length < autopilotBlockSize) {
            return;
        }
        take(payload, offset, ap_altitude);
        take(payload, offset, ap_vertical_speed);
        take(payload, offset, transponder_code);
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
        // The simulator is going away: stop like on Ctrl+C.
        quitFlag = 1;
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
        // Open, exception, and EVENT records (we subscribe to no events, and
        // such a record carries no request ID or data block) are dropped.
        break;
    }
}
