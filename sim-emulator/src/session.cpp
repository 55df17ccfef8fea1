// What the emulator does for its clients as a simulator: one handler per
// client packet kind (decode, trace, check as MSFS would, then change the
// client's or the simulator's state), the exceptions it answers with, and
// the data it streams at each frame. Sockets and buffers are in server.cpp.
#include "server.h"

#include "text.h"

#include "mobiflight/module.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace simemu {
namespace {

// SIMCONNECT_RECV_SIMOBJECT_DATA.dwObjectID of the user aircraft.
constexpr std::uint32_t kUserObjectId = 1;
constexpr auto kPeriodNever = static_cast<std::uint32_t>(scproto::Period::Never);
constexpr auto kPeriodOnce = static_cast<std::uint32_t>(scproto::Period::Once);
constexpr auto kPeriodSecond = static_cast<std::uint32_t>(scproto::Period::Second);
constexpr std::uint32_t kFlagChanged = scproto::kRequestFlagChanged;
// Bounds on what one client may build up; far above any real use.
constexpr std::size_t kMaxDefines = 1024;
constexpr std::size_t kMaxDatums = 1024;
constexpr std::size_t kMaxRequests = 1024;
// MSFS's own limit on the event names one client maps; the same bounds
// the system events it subscribes to.
constexpr std::size_t kMaxEventNames = 1000;
constexpr std::size_t kMaxSubscriptions = kMaxEventNames;
// What one definition's data may take: a record of it must fit a packet.
constexpr std::size_t kMaxBlockBytes = scproto::kMaxPacketSize - scproto::kRecvSimObjectDataHeaderSize;

// The system events SimConnect documents. Subscriptions to any are taken;
// the emulator sends AircraftLoaded, the others never happen here.
constexpr std::string_view kSystemEvents[] = {
    "1sec",
    "4sec",
    "6Hz",
    "AircraftLoaded",
    "Crashed",
    "CrashReset",
    "CustomMissionActionExecuted",
    "FlightLoaded",
    "FlightSaved",
    "FlightPlanActivated",
    "FlightPlanDeactivated",
    "Frame",
    "ObjectAdded",
    "ObjectRemoved",
    "Pause",
    "Pause_EX1",
    "Paused",
    "PauseFrame",
    "PositionChanged",
    "Sim",
    "SimStart",
    "SimStop",
    "Sound",
    "Unpaused",
    "View",
    "WeatherModeChanged",
};
constexpr std::string_view kAircraftLoaded = "AircraftLoaded";

std::optional<std::string_view> findSystemEvent(std::string_view name) {
    for (const std::string_view known : kSystemEvents) {
        if (equalsIgnoreCase(known, name)) {
            return known;
        }
    }
    return std::nullopt;
}

std::string shortest(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

const char* callName(std::uint32_t function) {
    switch (static_cast<scproto::FunctionId>(function)) {
    case scproto::FunctionId::Open: return "Open";
    case scproto::FunctionId::MapClientEventToSimEvent: return "MapClientEventToSimEvent";
    case scproto::FunctionId::TransmitClientEvent: return "TransmitClientEvent";
    case scproto::FunctionId::AddToDataDefinition: return "AddToDataDefinition";
    case scproto::FunctionId::RequestDataOnSimObject: return "RequestDataOnSimObject";
    case scproto::FunctionId::MapClientDataNameToID: return "MapClientDataNameToID";
    case scproto::FunctionId::CreateClientData: return "CreateClientData";
    case scproto::FunctionId::AddToClientDataDefinition: return "AddToClientDataDefinition";
    case scproto::FunctionId::ClearClientDataDefinition: return "ClearClientDataDefinition";
    case scproto::FunctionId::RequestClientData: return "RequestClientData";
    case scproto::FunctionId::SetClientData: return "SetClientData";
    case scproto::FunctionId::ClearDataDefinition: return "ClearDataDefinition";
    case scproto::FunctionId::SetDataOnSimObject: return "SetDataOnSimObject";
    case scproto::FunctionId::SubscribeToSystemEvent: return "SubscribeToSystemEvent";
    case scproto::FunctionId::UnsubscribeFromSystemEvent: return "UnsubscribeFromSystemEvent";
    case scproto::FunctionId::RequestSystemState: return "RequestSystemState";
    case scproto::FunctionId::EnumerateInputEvents: return "EnumerateInputEvents";
    case scproto::FunctionId::SetInputEvent: return "SetInputEvent";
    }
    return nullptr;
}

}  // namespace

void Server::handlePacket(Client& c, std::span<const std::uint8_t> bytes, std::uint64_t t_ns) {
    if (c.number == 0) {
        c.number = ++next_number_;
    }
    Incoming in{c, {}, bytes, t_ns, nullptr};
    if (const auto e = scproto::decodeClientHeader(bytes, in.header)) {
        return malformed(c, scproto::describe(e), std::nullopt, t_ns);
    }
    const std::uint32_t function = in.header.type & ~scproto::kFunctionTypeBase;
    in.call = callName(function);
    if (!in.call) {
        // Well-formed but a function we do not emulate: noted, not fatal.
        JsonLine line = traceLine(c);
        line.uint("send_id", in.header.send_id)
            .string("call", "Unsupported")
            .uint("function", function)
            .uint("size", in.header.size);
        return writeTrace(line, t_ns);
    }
    switch (static_cast<scproto::FunctionId>(function)) {
    case scproto::FunctionId::Open: return onOpen(in);
    case scproto::FunctionId::MapClientEventToSimEvent: return onMapClientEvent(in);
    case scproto::FunctionId::AddToDataDefinition: return onAddToDataDefinition(in);
    case scproto::FunctionId::RequestDataOnSimObject: return onRequestData(in);
    case scproto::FunctionId::TransmitClientEvent: return onTransmitClientEvent(in);
    case scproto::FunctionId::MapClientDataNameToID:
    case scproto::FunctionId::CreateClientData:
    case scproto::FunctionId::AddToClientDataDefinition:
    case scproto::FunctionId::ClearClientDataDefinition:
    case scproto::FunctionId::RequestClientData:
    case scproto::FunctionId::SetClientData: return onClientData(in, static_cast<scproto::FunctionId>(function));
    case scproto::FunctionId::ClearDataDefinition: return onClearDataDefinition(in);
    case scproto::FunctionId::SetDataOnSimObject: return onSetData(in);
    case scproto::FunctionId::SubscribeToSystemEvent: return onSubscribeToSystemEvent(in);
    case scproto::FunctionId::UnsubscribeFromSystemEvent: return onUnsubscribeFromSystemEvent(in);
    case scproto::FunctionId::RequestSystemState: return onRequestSystemState(in);
    case scproto::FunctionId::EnumerateInputEvents: return onEnumerateInputEvents(in);
    case scproto::FunctionId::SetInputEvent: return onSetInputEvent(in);
    }
}

template <typename Packet>
bool Server::decodePacket(const Incoming& in, Packet& p) {
    if (const auto e = scproto::decode(in.bytes, p)) {
        malformed(in.client, std::string(in.call) + ": " + scproto::describe(e), in.header.send_id, in.t_ns);
        return false;
    }
    return true;
}

JsonLine Server::callLine(const Incoming& in) const {
    JsonLine line = traceLine(in.client);
    line.uint("send_id", in.header.send_id).string("call", in.call);
    return line;
}

void Server::reject(const Incoming& in, ExceptionCode code, std::uint32_t index) {
    sendException(in.client, code, in.header.send_id, index);
}

void Server::onOpen(const Incoming& in) {
    scproto::OpenPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.string("name", p.app_name).uint("protocol", in.header.protocol);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    c.opened = true;
    c.name = std::string(p.app_name);
    const auto n =
        scproto::encode(scratch_, version_, options_.sim == 2024 ? scproto::sunRiseOpen() : scproto::kittyHawkOpen());
    queue(c, std::span(scratch_).first(n));
    if (!options_.quiet && !display_.live()) {
        std::fprintf(stderr, "sim-emulator: client %d opened as \"%s\"\n", c.number, printable(c.name).c_str());
    }
}

void Server::onMapClientEvent(const Incoming& in) {
    scproto::MapClientEventPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("event", p.event_id).string("name", p.event_name);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (c.events.contains(p.event_id)) {
        // MSFS keeps the first mapping of an ID.
        return reject(in, ExceptionCode::EventIdDuplicate, 1);
    }
    if (c.events.size() >= kMaxEventNames) {
        if (!c.refusing_names) {
            c.refusing_names = true;
            say("client " + std::to_string(c.number) + " has mapped " + std::to_string(kMaxEventNames) +
                " event names, as many as MSFS takes; answering more with TOO_MANY_EVENT_NAMES");
        }
        return reject(in, ExceptionCode::TooManyEventNames, 1);
    }
    c.events.emplace(p.event_id, std::make_shared<const std::string>(p.event_name));
    if (classifyEventName(p.event_name) == NameClass::Unknown) {
        reject(in, ExceptionCode::NameUnrecognized, 2);
    }
}

void Server::onAddToDataDefinition(const Incoming& in) {
    scproto::AddToDataDefinitionPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("define", p.define_id)
        .string("datum", p.datum_name)
        .string("units", p.units_name)
        .uint("type", p.datum_type)
        .number("epsilon", static_cast<double>(p.epsilon))
        .uint("datum_id", p.datum_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (!c.defines.contains(p.define_id) && c.defines.size() >= kMaxDefines) {
        return reject(in, ExceptionCode::DefinitionError, 1);
    }
    auto& datums = c.defines[p.define_id];
    if (datums.size() >= kMaxDatums) {
        return reject(in, ExceptionCode::DefinitionError, 1);
    }
    const auto resolved = resolveDatum(sim_.named(), p.datum_name, p.units_name, p.datum_type);
    if (const auto* r = std::get_if<Rejection>(&resolved)) {
        if (r->code == ExceptionCode::DefinitionError && !named_full_said_) {
            named_full_said_ = true;
            say("the named variables are " + std::to_string(kMaxNamedVariables) + ", as many as the emulator holds; " +
                "client " + std::to_string(c.number) + "'s \"" + printable(p.datum_name) + "\" draws DEFINITION_ERROR");
        }
        return reject(in, r->code, r->index);
    }
    const Datum& datum = std::get<Datum>(resolved);
    std::size_t bytes = maxDatumSize(datum);
    for (const Datum& d : datums) {
        bytes += maxDatumSize(d);
    }
    if (bytes > kMaxBlockBytes) {
        // Its records would not fit a packet.
        return reject(in, ExceptionCode::DefinitionError, 4);
    }
    datums.push_back(datum);
}

void Server::onRequestData(const Incoming& in) {
    scproto::RequestDataPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("request", p.request_id)
        .uint("define", p.define_id)
        .uint("object", p.object_id)
        .uint("period", p.period)
        .uint("flags", p.flags)
        .uint("origin", p.origin)
        .uint("interval", p.interval)
        .uint("limit", p.limit);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (p.period == kPeriodNever) {
        c.requests.erase(p.request_id);
        return;
    }
    if (!c.defines.contains(p.define_id)) {
        return reject(in, ExceptionCode::UnrecognizedId, 2);
    }
    if (p.object_id != 0 && p.object_id != kUserObjectId) {
        return reject(in, ExceptionCode::UnrecognizedId, 3);
    }
    if (p.period > kPeriodSecond) {
        return reject(in, ExceptionCode::InvalidEnum, 4);
    }
    if (!c.requests.contains(p.request_id) && c.requests.size() >= kMaxRequests) {
        return reject(in, ExceptionCode::TooManyRequests, 1);
    }
    Request r;
    r.define_id = p.define_id;
    r.period = p.period;
    r.flags = p.flags;
    r.origin = p.origin;
    r.interval = p.interval;
    r.limit = p.limit;
    r.start_frame = sim_.frame();
    c.requests[p.request_id] = std::move(r);
}

void Server::onTransmitClientEvent(const Incoming& in) {
    scproto::TransmitClientEventPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    Client& c = in.client;
    // Only an opened client has mapped events.
    const auto mapped = c.events.find(p.event_id);
    const Simulator::Name* name = mapped != c.events.end() ? &mapped->second : nullptr;
    // Queued before the line is written, so that the line can say whether
    // it was.
    const bool queued = name && sim_.receive(c.number, *name, p.data);
    traceTransmit(in, p, name, queued);
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (!name) {
        // What MSFS answers for an ID that was never mapped.
        return reject(in, ExceptionCode::Error, 2);
    }
    if (!queued) {
        if (!c.refusing_events) {
            c.refusing_events = true;
            say("client " + std::to_string(c.number) + " has " + std::to_string(kMaxWaitingEvents) +
                " events waiting for their frame; answering more with ERROR until some are applied");
        }
        return reject(in, ExceptionCode::Error, 0);
    }
    c.refusing_events = false;
}

void Server::traceTransmit(const Incoming& in, const scproto::TransmitClientEventPacket& p, const Simulator::Name* name,
                           bool queued) {
    JsonLine line = callLine(in);
    line.uint("object", p.object_id).uint("event", p.event_id);
    if (name) {
        line.string("sim_event", **name);
    } else {
        line.null("sim_event");
    }
    line.uint("data", p.data);
    if (name && !queued) {
        line.string("refused", "too many events waiting");
    } else if (const EventInfo* event = queued ? findEvent(**name) : nullptr;
               event && event->data_format != DataFormat::None) {
        if (const auto applied = sim_.model().valueSetBy(*event, p.data)) {
            line.number("applied", *applied);
        } else {
            line.null("applied");
        }
    }
    line.uint("group", p.group_id).uint("flags", p.flags);
    writeTrace(line, in.t_ns);
}

// --- Data definitions: clearing and setting

void Server::onClearDataDefinition(const Incoming& in) {
    scproto::ClearDataDefinitionPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("define", p.define_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (c.defines.erase(p.define_id) == 0) {
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
    // Requests of the definition end with it.
    std::erase_if(c.requests, [&](const auto& r) { return r.second.define_id == p.define_id; });
}

void Server::onSetData(const Incoming& in) {
    scproto::SetDataPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    Client& c = in.client;
    JsonLine line = callLine(in);
    line.uint("define", p.define_id)
        .uint("object", p.object_id)
        .uint("flags", p.flags)
        .uint("count", p.array_count)
        .uint("size", p.unit_size);
    const auto define = c.defines.find(p.define_id);
    const std::span<const Datum> datums =
        define != c.defines.end() ? std::span<const Datum>(define->second) : std::span<const Datum>();
    const bool one_unit = p.array_count == 1 && p.unit_size == p.data.size();
    const auto values = one_unit && !datums.empty() ? readDataBlock(datums, p.data) : std::nullopt;
    if (values) {
        JsonLine named;
        for (std::size_t i = 0; i < datums.size(); ++i) {
            if (scproto::isStringType(datums[i].type)) {
                named.string(datumName(sim_, datums[i]), (*values)[i].text);
            } else {
                named.number(datumName(sim_, datums[i]), (*values)[i].number);
            }
        }
        line.object("values", named);
    } else {
        line.null("values");
    }
    writeTrace(line, in.t_ns);
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (define == c.defines.end()) {
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
    if (p.object_id != 0 && p.object_id != kUserObjectId) {
        return reject(in, ExceptionCode::UnrecognizedId, 2);
    }
    if (p.flags & scproto::kDataSetFlagTagged) {
        return reject(in, ExceptionCode::DataError, 3);  // TAGGED is not supported
    }
    if (p.array_count != 1) {
        return reject(in, ExceptionCode::InvalidArray, 4);  // one user aircraft, one unit
    }
    if (!values) {
        return reject(in, ExceptionCode::SizeMismatch, 5);
    }
    if (const auto bad = writeData(sim_, datums, *values)) {
        return reject(in, ExceptionCode::DataError, 6);
    }
    for (std::size_t i = 0; i < datums.size(); ++i) {
        display_.changed(datumName(sim_, datums[i]) + " = " + shortest((*values)[i].number) + " (SetDataOnSimObject)",
                         c.number, next_number_ > 1);
    }
}

// --- System events and state

void Server::onSubscribeToSystemEvent(const Incoming& in) {
    scproto::SubscribeToSystemEventPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("event", p.event_id).string("name", p.event_name);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    // Mapped events and system events share the client's event IDs.
    if (c.events.contains(p.event_id) || c.subscriptions.contains(p.event_id)) {
        return reject(in, ExceptionCode::EventIdDuplicate, 1);
    }
    const auto known = findSystemEvent(p.event_name);
    if (!known) {
        return reject(in, ExceptionCode::NameUnrecognized, 2);
    }
    if (c.subscriptions.size() >= kMaxSubscriptions) {
        return reject(in, ExceptionCode::TooManyEventNames, 1);
    }
    c.subscriptions.emplace(p.event_id, *known);
}

void Server::onUnsubscribeFromSystemEvent(const Incoming& in) {
    scproto::UnsubscribeFromSystemEventPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("event", p.event_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (c.subscriptions.erase(p.event_id) == 0) {
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
}

void Server::onRequestSystemState(const Incoming& in) {
    scproto::RequestSystemStatePacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("request", p.request_id).string("name", p.state);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    // The states SimConnect documents: the aircraft's path, the flight and
    // flight plan files (none here), whether a dialog is up (no) and the
    // simulation is running (yes).
    scproto::RecvSystemState r;
    r.request_id = p.request_id;
    if (equalsIgnoreCase(p.state, kAircraftLoaded)) {
        r.string = sim_.aircraft().path;
    } else if (equalsIgnoreCase(p.state, "Sim")) {
        r.integer = 1;
    } else if (!equalsIgnoreCase(p.state, "DialogMode") && !equalsIgnoreCase(p.state, "FlightLoaded") &&
               !equalsIgnoreCase(p.state, "FlightPlan")) {
        return reject(in, ExceptionCode::NameUnrecognized, 2);
    }
    const auto n = scproto::encode(scratch_, version_, r);
    queue(c, std::span(scratch_).first(n));
}

void Server::loadNextAircraft() {
    const LoadedAircraft& now = sim_.loadNextAircraft();
    const std::uint64_t t_ns = monotonicNs();
    JsonLine line;
    line.string("call", "LoadAircraft").string("title", now.title).string("path", now.path);
    writeTrace(line, t_ns);
    display_.changed("aircraft loaded: " + printable(now.title) + " (" + printable(now.path) + ")", 0, false);
    if (!options_.quiet && !display_.live()) {
        std::fprintf(stderr, "sim-emulator: aircraft \"%s\" loaded (%s)\n", printable(now.title).c_str(),
                     printable(now.path).c_str());
    }
    for (auto& c : clients_) {
        for (const auto& [event_id, name] : c->subscriptions) {
            if (c->closing || name != kAircraftLoaded) {
                continue;
            }
            const scproto::RecvEventFilename r{.event_id = event_id, .file_name = now.path};
            const auto n = scproto::encode(scratch_, version_, r);
            queue(*c, std::span(scratch_).first(n));
        }
    }
    dropClosed();
}

// --- Input events

void Server::onEnumerateInputEvents(const Incoming& in) {
    scproto::EnumerateInputEventsPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("request", p.request_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    // Cut into records of kInputEventsPerRecord; an aircraft without input
    // events answers with one empty record.
    const auto& all = sim_.inputEvents().all();
    const std::size_t records =
        std::max<std::size_t>(1, (all.size() + kInputEventsPerRecord - 1) / kInputEventsPerRecord);
    std::vector<scproto::InputEventDescriptor> part;
    for (std::size_t k = 0; k < records && !c.closing; ++k) {
        part.clear();
        for (std::size_t i = k * kInputEventsPerRecord; i < std::min(all.size(), (k + 1) * kInputEventsPerRecord);
             ++i) {
            part.push_back({.name = all[i].name,
                            .hash = all[i].hash,
                            .type = static_cast<std::uint32_t>(scproto::DataType::Float64)});
        }
        scproto::RecvEnumerateInputEvents header;
        header.request_id = p.request_id;
        header.entry_number = static_cast<std::uint32_t>(k);
        header.out_of = static_cast<std::uint32_t>(records);
        const auto n = scproto::encode(scratch_, version_, header, part);
        queue(c, std::span(scratch_).first(n));
    }
}

void Server::onSetInputEvent(const Incoming& in) {
    scproto::SetInputEventPacket p;
    if (!decodePacket(in, p)) {
        return;
    }
    Client& c = in.client;
    InputEvent* event = sim_.inputEvents().find(p.hash);
    std::optional<double> value;
    if (p.value.size() == sizeof(double)) {
        double v = 0;
        std::memcpy(&v, p.value.data(), sizeof v);
        value = v;
    }
    JsonLine line = callLine(in);
    if (event) {
        line.string("name", event->name);
    } else {
        line.null("name");
    }
    line.uint("hash", p.hash);
    if (value) {
        line.number("value", *value);
    } else {
        line.null("value");
    }
    writeTrace(line, in.t_ns);
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (!event) {
        return reject(in, ExceptionCode::NameUnrecognized, 1);
    }
    // The emulated input events take numbers (a double); a string is refused.
    if (!value || !std::isfinite(*value)) {
        return reject(in, ExceptionCode::InvalidDataSize, 2);
    }
    event->value = *value;
    display_.changed("B:" + printable(event->name) + " = " + shortest(*value) + " (SetInputEvent)", c.number,
                     next_number_ > 1);
}

void Server::malformed(Client& c, const std::string& reason, std::optional<std::uint32_t> send_id, std::uint64_t t_ns) {
    if (c.number == 0) {
        c.number = ++next_number_;
    }
    JsonLine line = traceLine(c);
    if (send_id) {
        line.uint("send_id", *send_id);
    }
    line.string("call", "Malformed").string("reason", reason);
    writeTrace(line, t_ns);
    if (!options_.quiet && !display_.live()) {
        std::fprintf(stderr, "sim-emulator: client %d sent a malformed packet (%s); disconnecting it\n", c.number,
                     reason.c_str());
    }
    closeClient(c);
}

void Server::sendException(Client& c, ExceptionCode code, std::uint32_t send_id, std::uint32_t index) {
    const scproto::RecvException r{.exception = static_cast<std::uint32_t>(code), .send_id = send_id, .index = index};
    const auto n = scproto::encode(scratch_, version_, r);
    queue(c, std::span(scratch_).first(n));
}

void Server::frame() {
    // Events first, so that this frame's data already shows them.
    for (const auto& applied : sim_.advanceFrame()) {
        display_.applied(applied, next_number_ > 1);
    }
    if (module_) {
        module_->frame();
    }
    for (auto& c : clients_) {
        if (c->opened && !c->closing) {
            serveRequests(*c);
            serveClientData(*c);
        }
    }
}

void Server::serveRequests(Client& c) {
    const std::uint64_t frames_per_second =
        std::max<std::uint64_t>(1, (1000 + options_.frame_ms / 2) / options_.frame_ms);
    for (auto it = c.requests.begin(); it != c.requests.end();) {
        Request& r = it->second;
        const auto define = c.defines.find(r.define_id);
        bool due = true;
        if (r.period != kPeriodOnce) {
            if (r.period == kPeriodSecond && (sim_.frame() - r.start_frame) % frames_per_second != 0) {
                ++it;
                continue;
            }
            ++r.periods;
            due = r.periods > r.origin && (r.periods - r.origin - 1) % (std::uint64_t{r.interval} + 1) == 0;
        }
        std::size_t bytes = 0;
        if (due && define != c.defines.end()) {
            bytes = buildDataBlock(sim_, define->second, block_);
            const std::span<const std::uint8_t> data(block_.data(), bytes);
            if ((r.flags & kFlagChanged) && r.sent > 0 && std::ranges::equal(data, r.last)) {
                due = false;
            } else {
                if (r.flags & kFlagChanged) {
                    r.last.assign(data.begin(), data.end());
                }
                scproto::RecvSimObjectData rec;
                rec.request_id = it->first;
                rec.object_id = kUserObjectId;
                rec.define_id = r.define_id;
                rec.flags = r.flags;
                rec.entry_number = 1;
                rec.out_of = 1;
                rec.define_count = static_cast<std::uint32_t>(define->second.size());
                rec.data = data;
                const auto n = scproto::encode(scratch_, version_, rec);
                queue(c, std::span(scratch_).first(n));
                ++r.sent;
            }
        }
        if (c.closing) {
            return;
        }
        const bool finished = (r.period == kPeriodOnce && due) || (r.limit != 0 && r.sent >= r.limit);
        it = finished ? c.requests.erase(it) : std::next(it);
    }
}

}  // namespace simemu
