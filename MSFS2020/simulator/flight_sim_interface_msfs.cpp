#include "simulator/flight_sim_interface_msfs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mobiflight/channel.h"
#include "simconnect/send_event.h"
#include "simconnect/sent_packet.h"
#include "profiles/profile_layer.h"
#include "simconnect_protocol/vocabulary.h"
#include "simulator/data_blocks.h"
#include "simulator/which_simulator.h"

constinit FlightSimInterfaceMSFS msfsInterface;

namespace {

// Both definitions' datums in the order they are added, for naming one in a
// message.
constexpr std::size_t kDatumCount = blocks::kRadio.size() + blocks::kAutopilot.size();

constexpr const blocks::Datum& datumAt(std::size_t index) {
    return index < blocks::kRadio.size() ? blocks::kRadio[index] : blocks::kAutopilot[index - blocks::kRadio.size()];
}

constexpr auto kHoldRules = blocks::holdRules();

// The row of each member the program sets (each has one: data_blocks.h
// checks it).
constexpr auto kHeldRows = [] {
    std::array<const blocks::Datum*, static_cast<std::size_t>(HeldMember::Count)> rows{};
    for (std::size_t i = 0; i < kDatumCount; ++i) {
        const blocks::Datum& datum = datumAt(i);
        if (datum.hold.member != HeldMember::Count) {
            rows[static_cast<std::size_t>(datum.hold.member)] = &datum;
        }
    }
    return rows;
}();

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

void FlightSimInterfaceMSFS::recordSetupCall(SetupCall::Kind kind, std::size_t index, HRESULT result) {
    if (setup_calls_made_ == setup_calls_.size()) {
        return;
    }
    SetupCall& call = setup_calls_[setup_calls_made_++];
    call.kind = kind;
    call.index = static_cast<std::uint8_t>(index);
    call.send_id = sentPacketId(*connection, result);
}

int FlightSimInterfaceMSFS::setupConnection() {
    using Kind = SetupCall::Kind;
    setup_calls_made_ = 0;
    // Every mapping before the first data definition.
    for (const ClientEventRange& range : kClientEventMappingOrder) {
        for (ClientEventId id = range.first; id <= range.last; ++id) {
            // The table's names are literals, hence NUL-terminated.
            recordSetupCall(Kind::Map, id,
                            SimConnect_MapClientEventToSimEvent(*connection, id, kClientEvents[id].name.data()));
        }
    }
    for (std::size_t index = 0; index < kDatumCount; ++index) {
        const blocks::Datum& datum = datumAt(index);
        // Epsilon 0: the blocks are requested every frame anyway.
        recordSetupCall(
            Kind::Define, index,
            SimConnect_AddToDataDefinition(*connection, index < blocks::kRadio.size() ? DEF_RADIOS : DEF_AUTOPILOT,
                                           datum.variable, datum.unit, datum.type(), 0.0F, SIMCONNECT_UNUSED));
    }
    recordSetupCall(Kind::Request, REQ_RADIOS,
                    SimConnect_RequestDataOnSimObject(*connection, REQ_RADIOS, DEF_RADIOS, SIMCONNECT_OBJECT_ID_USER,
                                                      SIMCONNECT_PERIOD_SIM_FRAME, 0, 0, 0, 0));
    recordSetupCall(
        Kind::Request, REQ_AUTOPILOT,
        SimConnect_RequestDataOnSimObject(*connection, REQ_AUTOPILOT, DEF_AUTOPILOT, SIMCONNECT_OBJECT_ID_USER,
                                          SIMCONNECT_PERIOD_SIM_FRAME, 0, 0, 0, 0));
    return 0;
}

bool FlightSimInterfaceMSFS::firstOf(std::uint8_t kind, std::uint8_t index, DWORD exception) {
    const SaidException key{.kind = kind, .index = index, .exception = exception};
    const auto end = said_exceptions_.begin() + static_cast<std::ptrdiff_t>(said_exception_count_);
    const bool said = std::any_of(said_exceptions_.begin(), end, [&key](const SaidException& e) {
        return e.kind == key.kind && e.index == key.index && e.exception == key.exception;
    });
    if (said || said_exception_count_ == said_exceptions_.size()) {
        ++unsaid_exceptions_;
        return false;
    }
    said_exceptions_[said_exception_count_++] = key;
    return true;
}

void FlightSimInterfaceMSFS::reportException(const SIMCONNECT_RECV_EXCEPTION& exception) {
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
        if (call.kind == Kind::Map && call.index == clientEventId("TOGGLE_GPS_DRIVES_NAV2") &&
            exception.dwException == SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED) {
            // A known gap of MSFS, not of the user's set-up: said once per
            // run, as what it means.
            if (!said_nav2_gap_) {
                std::fputs(
                    "msfs-panel: the AP/CDI button does nothing in FMS2: MSFS has no TOGGLE_GPS_DRIVES_NAV2 event "
                    "(a gap in MSFS, not in your set-up)\n",
                    stderr);
                said_nav2_gap_ = true;
            }
            return;
        }
        if (!firstOf(static_cast<std::uint8_t>(call.kind), call.index, exception.dwException)) {
            return;
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
    // Any other call: only the exception tells them apart.
    constexpr auto kOtherCall = static_cast<std::uint8_t>(static_cast<unsigned>(Kind::Request) + 1);
    if (report_every_exception && firstOf(kOtherCall, 0, exception.dwException)) {
        std::fprintf(stderr, "msfs-panel: the simulator rejected the call sent with ID %lu: %s\n",
                     static_cast<unsigned long>(exception.dwSendID), reason);
    }
}

void FlightSimInterfaceMSFS::sayRepeatedExceptions() {
    if (unsaid_exceptions_ > 0) {
        std::fprintf(stderr,
                     "msfs-panel: the simulator rejected calls %llu more times on that connection, not said one by "
                     "one\n",
                     static_cast<unsigned long long>(unsaid_exceptions_));
    }
    unsaid_exceptions_ = 0;
}

void FlightSimInterfaceMSFS::forgetSimulator() {
    // Everything but the connection handle, the clock and the options.
    FlightSimInterfaceMSFS fresh;
    fresh.connection = connection;
    fresh.clock = clock;
    fresh.report_every_exception = report_every_exception;
    fresh.said_nav2_gap_ = said_nav2_gap_;
    *this = fresh;
    mobiflight::channel().close();
}

bool FlightSimInterfaceMSFS::knows(HeldMember member) const {
    const blocks::Datum& row = *kHeldRows[static_cast<std::size_t>(member)];
    return row.real != nullptr ? !std::isnan(this->*row.real) : (this->*row.code).has_value();
}

bool FlightSimInterfaceMSFS::isWaiting(HeldMember member) const {
    return std::any_of(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(waiting_count_),
                       [member](const WaitingTurn& turn) { return turn.member == member; });
}

bool FlightSimInterfaceMSFS::mustWait(HeldMember member, std::int8_t outer, std::int8_t inner, bool swap) {
    // A swap needs no value, but must not overtake the turns before it.
    if ((swap || knows(member)) && !isWaiting(member)) {
        return false;
    }
    if (waiting_count_ == waiting_.size()) {
        sayTurnsDropped(true);
        return true;
    }
    waiting_[waiting_count_++] = {.member = member, .swap = swap, .outer = outer, .inner = inner, .since = clock()};
    return true;
}

void FlightSimInterfaceMSFS::apply(const WaitingTurn& turn) {
    if (turn.swap) {
        pressKey(turn.member == HeldMember::Nav1Standby ? key::Nav1Swap : key::Nav2Swap);
        return;
    }
    switch (turn.member) {
    case HeldMember::Nav1Standby: tuneNav(1, turn.outer, turn.inner); break;
    case HeldMember::Nav2Standby: tuneNav(2, turn.outer, turn.inner); break;
    case HeldMember::HeadingBug: adjustHeadingBug(1, turn.outer, turn.inner); break;
    case HeldMember::Obs1: adjustCourse(1, turn.outer, turn.inner); break;
    case HeldMember::Obs2: adjustCourse(2, turn.outer, turn.inner); break;
    case HeldMember::ApAltitude: adjustAltitudeAndVerticalSpeed(1, turn.outer, 0); break;
    case HeldMember::ApVerticalSpeed: adjustAltitudeAndVerticalSpeed(1, 0, turn.inner); break;
    case HeldMember::TransponderCode: adjustTransponder(1, turn.outer, turn.inner); break;
    case HeldMember::Count: break;
    }
}

void FlightSimInterfaceMSFS::serveWaitingTurns() {
    if (waiting_count_ == 0) {
        return;
    }
    const SimClock::time_point now = clock();
    // Taken out first: what is applied now must not find itself waiting.
    const std::array<WaitingTurn, kMaxWaitingTurns> queue = waiting_;
    const std::size_t count = waiting_count_;
    waiting_count_ = 0;
    bool dropped = false;
    for (std::size_t i = 0; i < count; ++i) {
        const WaitingTurn& turn = queue[i];
        if ((turn.swap || knows(turn.member)) && !isWaiting(turn.member)) {
            apply(turn);
        } else if (now - turn.since >= kDataWait) {
            dropped = true;
        } else {
            waiting_[waiting_count_++] = turn;
        }
    }
    if (dropped) {
        sayTurnsDropped(false);
    }
}

void FlightSimInterfaceMSFS::sayTurnsDropped(bool full) {
    if (said_turns_dropped_) {
        return;
    }
    said_turns_dropped_ = true;
    if (full) {
        std::fprintf(stderr, "msfs-panel: knob turns dropped: more than %zu waiting for the simulator's data\n",
                     kMaxWaitingTurns);
    } else {
        std::fprintf(stderr,
                     "msfs-panel: knob turns dropped: the simulator sent no value for them to build on within %lld s\n",
                     static_cast<long long>(kDataWait.count()));
    }
}

void FlightSimInterfaceMSFS::forgetStandby(HeldMember member) {
    holds_[static_cast<std::size_t>(member)].count = 0;
    (member == HeldMember::Nav1Standby ? nav1_standby : nav2_standby) = kUnknown;
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
            if (!std::isfinite(value)) {
                continue;  // no value to build on: a detent would send 0 or 2147483647
            }
            double& cached = this->*datum.real;
            cached = held == HeldMember::Count ? value : acceptReported(held, value, cached, now);
        } else if (datum.code != nullptr) {
            std::uint32_t value = 0;
            take(payload, offset, value);
            std::optional<std::uint32_t>& cached = this->*datum.code;
            // Unknown until now: nothing is held against it either.
            cached = held == HeldMember::Count
                         ? value
                         : static_cast<std::uint32_t>(acceptReported(held, value, cached.value_or(value), now));
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
    ++msfsInterface.records_received;
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
