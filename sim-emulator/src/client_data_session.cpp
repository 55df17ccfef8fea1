// Client data as the emulator serves it: one handler per packet kind
// (decode, trace, check, then change the client's or the areas' state),
// the records its requests produce, and the MobiFlight module's model
// wired to the server (ModuleHost).
#include "module_host.h"
#include "server.h"

#include "mobiflight/module.h"

#include <algorithm>

namespace simemu {
namespace {

constexpr auto kOnSet = static_cast<std::uint32_t>(scproto::ClientDataPeriod::OnSet);
constexpr auto kNever = static_cast<std::uint32_t>(scproto::ClientDataPeriod::Never);
constexpr auto kOnce = static_cast<std::uint32_t>(scproto::ClientDataPeriod::Once);
constexpr auto kSecond = static_cast<std::uint32_t>(scproto::ClientDataPeriod::Second);
// SIMCONNECT_RECV_CLIENT_DATA.dwObjectID: client data belongs to no object.
constexpr std::uint32_t kNoObject = 0;

// The data as text for the trace: commands are NUL-ended strings.
std::string_view textOf(std::span<const std::uint8_t> data) {
    const auto* p = reinterpret_cast<const char*>(data.data());
    const auto end = std::find(p, p + data.size(), '\0');
    return std::string_view(p, static_cast<std::size_t>(end - p));
}

}  // namespace

// --- The module's ports ----------------------------------------------------

std::optional<double> ModuleHost::read(std::string_view name, std::string_view unit) {
    return server_.sim_.readVariable(name, unit);
}

bool ModuleHost::writeLocal(std::string_view name, double value) { return server_.sim_.writeLocal(name, value); }

bool ModuleHost::applyEvent(int client, std::string_view name, std::uint32_t data) {
    return server_.sim_.receive(client, name, data);
}

void ModuleHost::hEvent(std::string_view name) {
    JsonLine line;
    line.string("call", "HEvent").string("name", name);
    server_.writeTrace(line, monotonicNs());
}

bool ModuleHost::createArea(std::string_view name, std::size_t size) {
    if (server_.areas_.create(name, size, kSimulatorOwner, false) == ClientDataAreas::Created::TooMany) {
        return false;
    }
    server_.areas_.adopt(name, kSimulatorOwner);
    return true;
}

std::span<const std::uint8_t> ModuleHost::area(std::string_view name) {
    const auto* a = server_.areas_.find(name);
    return a ? std::span<const std::uint8_t>(a->bytes) : std::span<const std::uint8_t>();
}

void ModuleHost::writeArea(std::string_view name, std::size_t offset, std::span<const std::uint8_t> bytes) {
    if (server_.areas_.write(name, offset, bytes)) {
        server_.areaWritten(std::string(name), kSimulatorOwner);
    }
}

void ModuleHost::traceCommand(std::string_view command) {
    JsonLine line;
    line.string("call", "MobiFlight").string("command", command);
    server_.writeTrace(line, monotonicNs());
}

void ModuleHost::say(const std::string& text) { server_.say(text); }

void Server::startModule() {
    if (!options_.mobiflight) {
        return;
    }
    module_host_ = std::make_unique<ModuleHost>(*this);
    module_ = std::make_unique<mobiflight::Module>(*options_.mobiflight, *module_host_, *module_host_);
    module_->start();
}

// --- Packets -----------------------------------------------------------------

void Server::onClientData(const Incoming& in, scproto::FunctionId function) {
    switch (function) {
    case scproto::FunctionId::MapClientDataNameToID: return onMapClientDataName(in);
    case scproto::FunctionId::CreateClientData: return onCreateClientData(in);
    case scproto::FunctionId::AddToClientDataDefinition: return onAddToClientDataDefinition(in);
    case scproto::FunctionId::ClearClientDataDefinition: return onClearClientDataDefinition(in);
    case scproto::FunctionId::RequestClientData: return onRequestClientData(in);
    case scproto::FunctionId::SetClientData: return onSetClientData(in);
    default: return;
    }
}

// A client-data packet whose header is sound but whose size is wrong for
// its kind is answered, as the simulator answers a bad call, and the
// connection goes on: the stream itself is intact.
template <typename Packet>
bool Server::decodeClientDataPacket(const Incoming& in, Packet& p) {
    if (const auto e = scproto::decode(in.bytes, p)) {
        JsonLine line = callLine(in);
        line.string("malformed", scproto::describe(e));
        writeTrace(line, in.t_ns);
        reject(in, ExceptionCode::SizeMismatch, 0);
        return false;
    }
    return true;
}

void Server::onMapClientDataName(const Incoming& in) {
    scproto::MapClientDataNamePacket p;
    if (!decodeClientDataPacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.string("name", p.name).uint("area", p.area_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (p.name.empty()) {
        return reject(in, ExceptionCode::Error, 1);
    }
    auto& names = c.data.names;
    if (const auto it = names.find(p.area_id); it != names.end()) {
        if (it->second != p.name) {
            reject(in, ExceptionCode::DuplicateId, 2);
        }
        return;
    }
    if (std::ranges::any_of(names, [&](const auto& entry) { return entry.second == p.name; })) {
        return reject(in, ExceptionCode::AlreadyCreated, 1);
    }
    if (names.size() >= kMaxClientDataNames) {
        return reject(in, ExceptionCode::TooManyMaps, 1);
    }
    names.emplace(p.area_id, std::string(p.name));
}

void Server::onCreateClientData(const Incoming& in) {
    scproto::CreateClientDataPacket p;
    if (!decodeClientDataPacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("area", p.area_id).uint("size", p.size).uint("flags", p.flags);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    const auto name = c.data.names.find(p.area_id);
    if (name == c.data.names.end()) {
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
    if (p.size == 0 || p.size > scproto::kClientDataMaxSize) {
        return reject(in, ExceptionCode::OutOfBounds, 2);
    }
    const bool read_only = (p.flags & scproto::kCreateClientDataFlagReadOnly) != 0;
    switch (areas_.create(name->second, p.size, c.number, read_only)) {
    case ClientDataAreas::Created::Yes: return;
    case ClientDataAreas::Created::AlreadyCreated: return reject(in, ExceptionCode::AlreadyCreated, 1);
    case ClientDataAreas::Created::TooMany:
        say("the clients have created " + std::to_string(kMaxClientDataAreas) +
            " client-data areas; answering more with TOO_MANY_OBJECTS");
        return reject(in, ExceptionCode::TooManyObjects, 1);
    }
}

void Server::onAddToClientDataDefinition(const Incoming& in) {
    scproto::AddToClientDataDefinitionPacket p;
    if (!decodeClientDataPacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("define", p.define_id)
        .uint("offset", p.offset)
        .uint("size_or_type", p.size_or_type)
        .number("epsilon", static_cast<double>(p.epsilon))
        .uint("datum_id", p.datum_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    auto& defines = c.data.defines;
    if (!defines.contains(p.define_id) && defines.size() >= kMaxClientDataDefines) {
        return reject(in, ExceptionCode::DefinitionError, 1);
    }
    const auto it = defines.find(p.define_id);
    const auto resolved = resolveClientDatum(
        it != defines.end() ? std::span<const ClientDatum>(it->second) : std::span<const ClientDatum>(), p.offset,
        p.size_or_type);
    if (const auto* r = std::get_if<Rejection>(&resolved)) {
        return reject(in, r->code, r->index);
    }
    defines[p.define_id].push_back(std::get<ClientDatum>(resolved));
}

void Server::onClearClientDataDefinition(const Incoming& in) {
    scproto::ClearClientDataDefinitionPacket p;
    if (!decodeClientDataPacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("define", p.define_id);
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    if (c.data.defines.erase(p.define_id) == 0) {
        reject(in, ExceptionCode::UnrecognizedId, 1);
    }
}

void Server::onRequestClientData(const Incoming& in) {
    scproto::RequestClientDataPacket p;
    if (!decodeClientDataPacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("area", p.area_id)
        .uint("request", p.request_id)
        .uint("define", p.define_id)
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
    auto& requests = c.data.requests;
    if (p.period == kNever) {
        requests.erase(p.request_id);
        return;
    }
    if (!c.data.names.contains(p.area_id)) {
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
    if (!c.data.defines.contains(p.define_id)) {
        return reject(in, ExceptionCode::UnrecognizedId, 3);
    }
    if (p.period > kSecond) {
        return reject(in, ExceptionCode::InvalidEnum, 4);
    }
    if (!requests.contains(p.request_id) && requests.size() >= kMaxClientDataRequests) {
        return reject(in, ExceptionCode::TooManyRequests, 2);
    }
    ClientDataRequest r;
    r.area_id = p.area_id;
    r.define_id = p.define_id;
    r.period = p.period;
    r.flags = p.flags;
    r.origin = p.origin;
    r.interval = p.interval;
    r.limit = p.limit;
    r.start_frame = sim_.frame();
    requests[p.request_id] = std::move(r);
}

void Server::onSetClientData(const Incoming& in) {
    scproto::SetClientDataPacket p;
    if (!decodeClientDataPacket(in, p)) {
        return;
    }
    JsonLine line = callLine(in);
    line.uint("area", p.area_id)
        .uint("define", p.define_id)
        .uint("flags", p.flags)
        .uint("reserved", p.reserved)
        .uint("size", p.data.size())
        .string("text", textOf(p.data));
    writeTrace(line, in.t_ns);
    Client& c = in.client;
    if (!c.opened) {
        return reject(in, ExceptionCode::Unopened, 0);
    }
    const auto name = c.data.names.find(p.area_id);
    if (name == c.data.names.end()) {
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
    const auto define = c.data.defines.find(p.define_id);
    if (define == c.data.defines.end()) {
        return reject(in, ExceptionCode::UnrecognizedId, 2);
    }
    const auto* area = areas_.find(name->second);
    if (!area) {
        // Mapped, but no one created it: nothing to write into.
        return reject(in, ExceptionCode::UnrecognizedId, 1);
    }
    if (p.flags & scproto::kClientDataSetFlagTagged) {
        return reject(in, ExceptionCode::Error, 3);  // tagged data is not emulated
    }
    if (area->read_only && area->owner != c.number) {
        return reject(in, ExceptionCode::IllegalOperation, 1);
    }
    std::size_t total = 0;
    for (const auto& d : define->second) {
        total += d.size;
        if (d.offset > area->bytes.size() || d.size > area->bytes.size() - d.offset) {
            return reject(in, ExceptionCode::OutOfBounds, 2);
        }
    }
    if (total != p.data.size()) {
        return reject(in, ExceptionCode::SizeMismatch, 5);
    }
    std::size_t at = 0;
    for (const auto& d : define->second) {
        areas_.write(name->second, d.offset, p.data.subspan(at, d.size));
        at += d.size;
    }
    areaWritten(name->second, c.number);
}

// --- Records -----------------------------------------------------------------

void Server::areaWritten(const std::string& name, int writer) {
    for (auto& c : clients_) {
        if (!c->opened || c->closing) {
            continue;
        }
        auto& requests = c->data.requests;
        for (auto it = requests.begin(); it != requests.end();) {
            ClientDataRequest& r = it->second;
            const auto mapped = c->data.names.find(r.area_id);
            if (r.period != kOnSet || mapped == c->data.names.end() || mapped->second != name) {
                ++it;
                continue;
            }
            const bool due = r.countPeriod();
            it = sendClientData(*c, it->first, r, due) ? std::next(it) : requests.erase(it);
        }
    }
    if (module_) {
        module_->written(name, writer);
    }
}

void Server::serveClientData(Client& c) {
    const std::uint64_t frames_per_second =
        std::max<std::uint64_t>(1, (1000 + options_.frame_ms / 2) / options_.frame_ms);
    auto& requests = c.data.requests;
    for (auto it = requests.begin(); it != requests.end() && !c.closing;) {
        ClientDataRequest& r = it->second;
        if (r.period == kOnSet || (r.period == kSecond && (sim_.frame() - r.start_frame) % frames_per_second != 0)) {
            ++it;
            continue;
        }
        const bool due = r.period == kOnce || r.countPeriod();
        it = sendClientData(c, it->first, r, due) ? std::next(it) : requests.erase(it);
    }
}

bool Server::sendClientData(Client& c, std::uint32_t id, ClientDataRequest& r, bool due) {
    const auto name = c.data.names.find(r.area_id);
    const auto* area = name != c.data.names.end() ? areas_.find(name->second) : nullptr;
    const auto define = c.data.defines.find(r.define_id);
    if (!due || !area || define == c.data.defines.end()) {
        return !r.finished();
    }
    const auto n = buildClientDataBlock(area->bytes, define->second, block_);
    if (!n) {
        return !r.finished();  // a datum beyond this area's end
    }
    const std::span<const std::uint8_t> data(block_.data(), *n);
    const bool changed_only = (r.flags & scproto::kClientDataRequestFlagChanged) != 0;
    if (changed_only && r.sent > 0 && std::ranges::equal(data, r.last)) {
        return true;
    }
    if (changed_only) {
        r.last.assign(data.begin(), data.end());
    }
    scproto::RecvClientData rec;
    rec.request_id = id;
    rec.object_id = kNoObject;
    rec.define_id = r.define_id;
    rec.flags = r.flags;
    rec.define_count = static_cast<std::uint32_t>(define->second.size());
    rec.data = data;
    const auto size = scproto::encode(scratch_, version_, rec);
    queue(c, std::span(scratch_).first(size));
    ++r.sent;
    return !r.finished();
}

void Server::forgetClientData(Client& c) { areas_.removeOwnedBy(c.number); }

}  // namespace simemu
