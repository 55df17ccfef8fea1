#include "simulator/flight_sim_interface_msfs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mobiflight/channel.h"
#include "simconnect/send_event.h"
#include "profiles/profile_layer.h"
#include "simconnect_protocol/vocabulary.h"
#include "simulator/data_blocks.h"
#include "simulator/which_simulator.h"

constinit FlightSimInterfaceMSFS msfsInterface;

namespace {

// Both definitions' datums in the order they are added, for naming one in a
// message.
constexpr std::size_t kDatumCount = blocks::kRadio.size() + blocks::kAutopilot.size();

const blocks::Datum& datumAt(std::size_t index) {
    return index < blocks::kRadio.size() ? blocks::kRadio[index] : blocks::kAutopilot[index - blocks::kRadio.size()];
}

constexpr auto kHoldRules = blocks::holdRules();

bool showsValue(HeldMember member, double reported, double local) {
    const blocks::HoldRule& rule = kHoldRules[static_cast<std::size_t>(member)];
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
void take(const unsigned char* block, std::size_t& offset, T& into) {
    std::memcpy(&into, block + offset, sizeof into);
    offset += sizeof into;
}

}  // namespace

void FlightSimInterfaceMSFS::send(ClientEventId event, DWORD data) { sendEvent(*connection, event, data); }

void FlightSimInterfaceMSFS::recordSetupCall(SetupCall::Kind kind, std::size_t index) {
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

int FlightSimInterfaceMSFS::setupConnection() {
    using Kind = SetupCall::Kind;
    setup_calls_made_ = 0;
    // Every mapping before the first data definition.
    for (const ClientEventRange& range : kClientEventMappingOrder) {
        for (ClientEventId id = range.first; id <= range.last; ++id) {
            // The table's names are literals, hence NUL-terminated.
            SimConnect_MapClientEventToSimEvent(*connection, id, kClientEvents[id].name.data());
            recordSetupCall(Kind::Map, id);
        }
    }
    for (std::size_t index = 0; index < kDatumCount; ++index) {
        const blocks::Datum& datum = datumAt(index);
        // Epsilon 0: the blocks are requested every frame anyway.
        SimConnect_AddToDataDefinition(*connection, index < blocks::kRadio.size() ? DEF_RADIOS : DEF_AUTOPILOT,
                                       datum.variable, datum.unit, datum.type(), 0.0F, SIMCONNECT_UNUSED);
        recordSetupCall(Kind::Define, index);
    }
    SimConnect_RequestDataOnSimObject(*connection, REQ_RADIOS, DEF_RADIOS, SIMCONNECT_OBJECT_ID_USER,
                                      SIMCONNECT_PERIOD_SIM_FRAME, 0, 0, 0, 0);
    recordSetupCall(Kind::Request, REQ_RADIOS);
    SimConnect_RequestDataOnSimObject(*connection, REQ_AUTOPILOT, DEF_AUTOPILOT, SIMCONNECT_OBJECT_ID_USER,
                                      SIMCONNECT_PERIOD_SIM_FRAME, 0, 0, 0, 0);
    recordSetupCall(Kind::Request, REQ_AUTOPILOT);
    return 0;
}

void FlightSimInterfaceMSFS::reportException(const SIMCONNECT_RECV_EXCEPTION& exception) const {
    char reason[48];
    if (const char* name = scproto::exceptionName(exception.dwException)) {
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
                         kClientEvents[call.index].name.data(), reason);
        } else if (call.kind == Kind::Define) {
            const blocks::Datum& datum = datumAt(call.index);
            std::fprintf(stderr, "msfs-panel: the simulator rejected AddToDataDefinition(\"%s\", \"%s\"): %s\n",
                         datum.variable, datum.unit, reason);
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

void FlightSimInterfaceMSFS::forgetSimulator() {
    // Everything but the connection handle, the clock and the options.
    FlightSimInterfaceMSFS fresh;
    fresh.connection = connection;
    fresh.clock = clock;
    fresh.report_every_exception = report_every_exception;
    *this = fresh;
    mobiflight::channel().close();
}

void FlightSimInterfaceMSFS::holdLocal(HeldMember member, double value) {
    LocalHold& hold = holds_[static_cast<std::size_t>(member)];
    if (hold.count == LocalHold::kCapacity) {
        // So far behind that the oldest value hardly matters: forget it.
        dropOldest(hold, 1);
    }
    hold.unseen[hold.count] = value;
    hold.set_at[hold.count] = clock();
    ++hold.count;
}

void FlightSimInterfaceMSFS::dropOldest(LocalHold& hold, std::size_t n) {
    const auto shift = [&](auto& values) {
        std::copy(values.begin() + static_cast<std::ptrdiff_t>(n),
                  values.begin() + static_cast<std::ptrdiff_t>(hold.count), values.begin());
    };
    shift(hold.unseen);
    shift(hold.set_at);
    hold.count -= n;
}

double FlightSimInterfaceMSFS::acceptReported(HeldMember member, double reported, double local,
                                              SimClock::time_point now) {
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
    if (hold.count == 0 || now >= hold.set_at[0] + kLocalHoldOff) {
        // Everything shown, or the simulator has had its time for the oldest
        // value it has not shown: what it shows now stands, even a change
        // made in the simulator itself.
        hold.count = 0;
        return reported;
    }
    return local;
}

void FlightSimInterfaceMSFS::storeDataBlock(SIMCONNECT_DATA_REQUEST_ID request, const unsigned char* payload,
                                            std::size_t length) {
    if (request != REQ_RADIOS && request != REQ_AUTOPILOT) {
        return;
    }
    const std::span<const blocks::Datum> layout =
        request == REQ_RADIOS ? std::span<const blocks::Datum>(blocks::kRadio) : blocks::kAutopilot;
    if (length < blocks::size(layout)) {
        return;
    }
    const SimClock::time_point now = clock();
    std::size_t offset = 0;
    for (const blocks::Datum& datum : layout) {
        const HeldMember held = datum.hold.member;
        if (datum.real != nullptr) {
            double value = 0.0;
            take(payload, offset, value);
            this->*datum.real = held == HeldMember::Count ? value : acceptReported(held, value, this->*datum.real, now);
        } else if (datum.code != nullptr) {
            std::uint32_t value = 0;
            take(payload, offset, value);
            this->*datum.code = held == HeldMember::Count
                                    ? value
                                    : static_cast<std::uint32_t>(acceptReported(held, value, this->*datum.code, now));
        } else {
            take(payload, offset, this->*datum.integer);
        }
    }
}

std::uint8_t FlightSimInterfaceMSFS::getLedState() {
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

void CALLBACK onSimConnectMessage(SIMCONNECT_RECV* record, DWORD size, void* /*context*/) {
    // `size` is what was actually delivered; nothing past it is read.
    if (record == nullptr || size < sizeof(SIMCONNECT_RECV)) {
        return;
    }
    // The aircraft, and the variables and calls of its profile.
    if (profiles::profileLayer.takeRecord(record, size)) {
        return;
    }
    switch (record->dwID) {
    case SIMCONNECT_RECV_ID_QUIT: msfsInterface.quit_received = true; break;
    case SIMCONNECT_RECV_ID_OPEN:
        // Dispatched after the start-up has been sent: the MobiFlight channel's
        // calls come after it.
        sayWhichSimulator(record, size);
        if (msfsInterface.connection != nullptr) {
            mobiflight::channel().open(*msfsInterface.connection);
        }
        break;
    case SIMCONNECT_RECV_ID_CLIENT_DATA: mobiflight::channel().receive(record, size); break;
    case SIMCONNECT_RECV_ID_EXCEPTION:
        if (size >= sizeof(SIMCONNECT_RECV_EXCEPTION)) {
            const auto& exception = *static_cast<const SIMCONNECT_RECV_EXCEPTION*>(record);
            if (!mobiflight::channel().takeException(exception)) {
                msfsInterface.reportException(exception);
            }
        }
        break;
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA: {
        if (size < kDataRecordHeaderSize) {
            return;
        }
        const auto* data = static_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(record);
        const auto* bytes = reinterpret_cast<const unsigned char*>(record);
        msfsInterface.storeDataBlock(data->dwRequestID, bytes + kDataRecordHeaderSize, size - kDataRecordHeaderSize);
        break;
    }
    default:
        // EVENT records (we subscribe to no events, and such a record
        // carries no request ID or data block) are dropped.
        break;
    }
}
