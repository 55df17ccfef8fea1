#include "mobiflight/channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "simconnect/sent_packet.h"
#include "simconnect_protocol/protocol.h"
#include "simconnect_protocol/vocabulary.h"

namespace mobiflight {

namespace {

constexpr std::string_view kDefaultClient = "MobiFlight";
constexpr std::string_view kCustomEventPrefix = "MobiFlight.";

// Commands and responses of the module.
constexpr std::string_view kPing = "MF.Ping";
constexpr std::string_view kPong = "MF.Pong";
constexpr std::string_view kVersionGet = "MF.Version.Get";
constexpr std::string_view kVersionPrefix = "MF.Version.";
constexpr std::string_view kClientsAdd = "MF.Clients.Add.";
constexpr std::string_view kFinished = ".Finished";
constexpr std::string_view kSet = "MF.SimVars.Set.";
constexpr std::string_view kAdd = "MF.SimVars.Add.";
constexpr std::string_view kClear = "MF.SimVars.Clear";
// A command the module does not act on, written between two equal ones so
// that the second counts as a change (as MobiFlight's own client does).
constexpr std::string_view kDummy = "MF.DummyCmd";

// The data of a CLIENT_DATA record starts at its last member, dwData.
constexpr std::size_t kDataOffset = sizeof(SIMCONNECT_RECV_CLIENT_DATA) - sizeof(DWORD);

constexpr char kReadme[] = "(see README: FMS modes)";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// MF.Clients.Add.<our name>.Finished
bool isAddFinished(std::string_view response) {
    if (!startsWith(response, kClientsAdd)) {
        return false;
    }
    const std::string_view rest = response.substr(kClientsAdd.size());
    return startsWith(rest, kClientName) && rest.substr(kClientName.size()) == kFinished;
}

// The areas by ID, for the verbose log.
static_assert(kClientName == "msfs-panel", "the area names below start with the client name");
constexpr std::array<const char*, 5> kAreaNames{"MobiFlight.Command", "MobiFlight.Response", "msfs-panel.Command",
                                                "msfs-panel.Response", "msfs-panel.LVars"};
static_assert(kOwnValueArea + 1 == kAreaNames.size());
const char* areaName(DWORD area) { return area < kAreaNames.size() ? kAreaNames[area] : "MobiFlight"; }

}  // namespace

Channel& channel() {
    static Channel instance;
    return instance;
}

void Channel::open(HANDLE connection) {
    connection_ = connection;
    state_ = State::Pinging;
    deadline_ = clock() + kAnswerTimeout;
    absence_said_ = false;
    default_command_.known = false;
    own_command_.known = false;
    version_length_ = 0;
    calls_ = {};  // send IDs start again with each connection
    // What relied on the last connection (a profile and its values) comes
    // again with the aircraft's profile on this one.
    variables_.clear();
    values_.clear();
    variables_sent_ = 0;
    variables_read_ = 0;
    user_.clear();
    user_said_ = false;
    map(kDefaultCommandArea, ".Command", false);
    map(kDefaultResponseArea, ".Response", false);
    record(
        CallKind::Define, kDefaultResponseArea,
        SimConnect_AddToClientDataDefinition(connection_, kTextDefinition, 0, kTextAreaSize, 0.0F, SIMCONNECT_UNUSED));
    listen(kDefaultResponseArea, kDefaultResponseRequest);
    write(default_command_, kPing, Origin::Channel);
}

void Channel::close() {
    state_ = State::Closed;
    connection_ = nullptr;
}

void Channel::poll() {
    if (state_ == State::Closed || state_ == State::Up || absence_said_ || clock() < deadline_) {
        return;
    }
    absence_said_ = true;
    if (state_ == State::Pinging) {
        std::fprintf(stderr,
                     "msfs-panel: no MobiFlight WASM module answered: the FMS1 and FMS2 knobs and keys will do "
                     "nothing %s\n",
                     kReadme);
    } else {
        std::fprintf(stderr,
                     "msfs-panel: the MobiFlight WASM module answered but added no channel for %.*s: the FMS1 and "
                     "FMS2 knobs and keys go out as MobiFlight events, which only a module with an events.txt "
                     "knows %s\n",
                     static_cast<int>(kClientName.size()), kClientName.data(), kReadme);
    }
    sayUserLeftOut();
}

void Channel::neededBy(std::string_view user) {
    if (user != user_) {
        user_ = user;
        user_said_ = false;
    }
    if (absence_said_ && !up()) {
        sayUserLeftOut();
    }
}

void Channel::sayUserLeftOut() {
    if (user_.empty() || user_said_) {
        return;
    }
    user_said_ = true;
    const std::string shown = scproto::printable(user_, 200);
    std::fprintf(stderr,
                 "msfs-panel: %s uses the MobiFlight channel, which no module opened: its H:, RPN: and R: entries "
                 "do nothing %s\n",
                 shown.c_str(), kReadme);
}

void Channel::receive(const SIMCONNECT_RECV* record, DWORD size) {
    if (state_ == State::Closed || size < kDataOffset) {
        return;
    }
    const auto* data = static_cast<const SIMCONNECT_RECV_CLIENT_DATA*>(record);
    const char* bytes = reinterpret_cast<const char*>(record) + kDataOffset;
    const std::size_t length = size - kDataOffset;
    const DWORD request = data->dwRequestID;
    if (request == kDefaultResponseRequest || request == kOwnResponseRequest) {
        // NUL-padded; a response that fills the area has no NUL at all.
        const std::size_t text = std::min(strnlen(bytes, length), kTextAreaSize);
        onResponse({bytes, text}, request == kOwnResponseRequest);
    } else if (request >= kFirstVariableId && request - kFirstVariableId < variables_sent_ && length >= sizeof(float)) {
        float value = 0.0F;
        std::memcpy(&value, bytes, sizeof value);
        values_[request - kFirstVariableId] = value;
    }
}

void Channel::onResponse(std::string_view response, bool own) {
    if (log_) {
        const std::string shown = scproto::printable(response, 200);
        std::fprintf(stderr, "%s -> %s\n", areaName(own ? kOwnResponseArea : kDefaultResponseArea), shown.c_str());
    }
    if (own) {
        return;  // nothing the channel waits for comes on its own area
    }
    if (response == kPong && state_ == State::Pinging) {
        state_ = State::Adding;
        write(default_command_, kVersionGet, Origin::Channel);
        send(kClientsAdd, kClientName, Origin::Channel);
    } else if (startsWith(response, kVersionPrefix)) {
        const std::string_view version = response.substr(kVersionPrefix.size());
        version_length_ = std::min(version.size(), version_.size());
        std::copy_n(version.begin(), version_length_, version_.begin());
    } else if (state_ == State::Adding && isAddFinished(response)) {
        openOwnChannel();
    }
}

void Channel::openOwnChannel() {
    map(kOwnCommandArea, ".Command", true);
    map(kOwnResponseArea, ".Response", true);
    map(kOwnValueArea, ".LVars", true);
    listen(kOwnResponseArea, kOwnResponseRequest);
    state_ = State::Up;
    // A reconnect finds the variables of the last connection still there.
    write(own_command_, kClear, Origin::Channel);
    for (std::size_t index = 0; index < variables_.size(); ++index) {
        addVariable(index);
    }
    const std::string shown = version_length_ > 0 ? scproto::printable(version(), 32) : "(of unknown version)";
    std::fprintf(stderr, "msfs-panel: MobiFlight WASM module %s found: the FMS keys go through it\n", shown.c_str());
}

bool Channel::takeException(const SIMCONNECT_RECV_EXCEPTION& exception) const {
    if (exception.dwSendID == 0) {
        return false;
    }
    for (const Call& call : calls_) {
        if (call.send_id != exception.dwSendID) {
            continue;
        }
        if (log_) {
            static constexpr const char* kCallNames[] = {"MapClientDataNameToID", "AddToClientDataDefinition",
                                                         "RequestClientData", "SetClientData"};
            const char* reason = scproto::exceptionName(exception.dwException);
            std::fprintf(stderr, "%s: the simulator refused %s: %s\n", areaName(call.area),
                         kCallNames[static_cast<std::size_t>(call.kind)], reason != nullptr ? reason : "unknown");
        }
        return true;
    }
    return false;
}

bool Channel::runCustomEvent(std::string_view event_name) {
    if (!startsWith(event_name, kCustomEventPrefix) || event_name.size() == kCustomEventPrefix.size()) {
        return false;
    }
    // What the module's events.txt made of such a line: (>H:NAME).
    return runHEvent(event_name.substr(kCustomEventPrefix.size()));
}

bool Channel::runHEvent(std::string_view name, bool tell) {
    char code[kTextAreaSize];
    const int length = std::snprintf(code, sizeof code, "(>H:%.*s)", static_cast<int>(name.size()), name.data());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof code) {
        return false;
    }
    return runCode({code, static_cast<std::size_t>(length)}, tell);
}

bool Channel::runCode(std::string_view code, bool tell) {
    return up() && send(kSet, code, tell ? Origin::Action : Origin::CallerLogs);
}

std::optional<std::size_t> Channel::watch(std::string_view code) {
    if (variables_.size() == kMaxVariables || code.size() > kMaxCodeBytes) {
        return std::nullopt;
    }
    const auto known = std::find(variables_.begin(), variables_.end(), code);
    if (known != variables_.end()) {
        return static_cast<std::size_t>(known - variables_.begin());
    }
    variables_.emplace_back(code);
    values_.emplace_back();
    const std::size_t index = variables_.size() - 1;
    if (up()) {
        addVariable(index);
    }
    return index;
}

std::optional<float> Channel::value(std::size_t index) const {
    return index < values_.size() ? values_[index] : std::nullopt;
}

void Channel::addVariable(std::size_t index) {
    // Variable k is the float at 4k of the value area, read through a
    // definition and a request of its own, made once per connection.
    if (index >= variables_read_) {
        const DWORD id = kFirstVariableId + static_cast<DWORD>(index);
        record(CallKind::Define, kOwnValueArea,
               SimConnect_AddToClientDataDefinition(connection_, id, static_cast<DWORD>(index * sizeof(float)),
                                                    sizeof(float), 0.0F, SIMCONNECT_UNUSED));
        record(CallKind::Request, kOwnValueArea,
               SimConnect_RequestClientData(connection_, kOwnValueArea, id, id, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                                            SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0));
        variables_read_ = index + 1;
    }
    send(kAdd, variables_[index], Origin::Channel);
    variables_sent_ = index + 1;
}

void Channel::unwatchAll() {
    variables_.clear();
    values_.clear();
    if (up() && variables_sent_ > 0) {
        write(own_command_, kClear, Origin::Channel);
    }
    variables_sent_ = 0;
}

void Channel::enableLog(ActionObserver observer) {
    log_ = true;
    observer_ = observer;
}

void Channel::disableLog() {
    log_ = false;
    observer_ = nullptr;
}

void Channel::record(CallKind kind, DWORD area, HRESULT result) {
    // A call that failed sent no packet, and has no exception to name it.
    if (result < 0) {
        return;
    }
    Call& call = calls_[next_call_];
    next_call_ = (next_call_ + 1) % calls_.size();
    call.kind = kind;
    call.area = area;
    call.send_id = sentPacketId(connection_, result);
}

void Channel::map(SIMCONNECT_CLIENT_DATA_ID area, std::string_view suffix, bool own) {
    char name[64];
    const std::string_view client = own ? kClientName : kDefaultClient;
    std::snprintf(name, sizeof name, "%.*s%.*s", static_cast<int>(client.size()), client.data(),
                  static_cast<int>(suffix.size()), suffix.data());
    record(CallKind::Map, area, SimConnect_MapClientDataNameToID(connection_, name, area));
}

void Channel::listen(SIMCONNECT_CLIENT_DATA_ID area, SIMCONNECT_DATA_REQUEST_ID request) {
    // Every response the module writes, once each.
    record(
        CallKind::Request, area,
        SimConnect_RequestClientData(connection_, area, request, kTextDefinition, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                                     SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0));
}

bool Channel::send(std::string_view prefix, std::string_view code, Origin origin) {
    // The command and its NUL must fit the area.
    if (prefix.size() + code.size() >= kTextAreaSize) {
        return false;
    }
    char command[kTextAreaSize];
    std::copy(prefix.begin(), prefix.end(), command);
    std::copy(code.begin(), code.end(), command + prefix.size());
    CommandArea& area = state_ == State::Up ? own_command_ : default_command_;
    return write(area, {command, prefix.size() + code.size()}, origin);
}

bool Channel::write(CommandArea& area, std::string_view command, Origin origin) {
    if (!area.known || std::string_view(area.last.data()) == command) {
        put(area, kDummy);
    }
    if (!put(area, command)) {
        return false;
    }
    if (origin == Origin::Channel) {
        if (log_) {
            std::fprintf(stderr, "%s <- %.*s\n", areaName(area.id), static_cast<int>(command.size()), command.data());
        }
        return true;
    }
    std::copy(command.begin(), command.end(), last_command_.begin());
    last_command_length_ = command.size();
    if (origin == Origin::Action && observer_ != nullptr) {
        observer_(command);
    }
    return true;
}

bool Channel::put(CommandArea& area, std::string_view command) {
    // The whole area, NUL-padded: the module reads it as one string.
    buffer_.fill('\0');
    std::copy(command.begin(), command.end(), buffer_.begin());
    const HRESULT result =
        SimConnect_SetClientData(connection_, area.id, kTextDefinition, SIMCONNECT_CLIENT_DATA_SET_FLAG_DEFAULT, 0,
                                 kTextAreaSize, buffer_.data());
    record(CallKind::Set, area.id, result);
    if (result < 0) {
        return false;  // the area holds what it held
    }
    area.last = buffer_;
    area.known = true;
    if (log_ && command == kDummy) {
        std::fprintf(stderr, "%s <- %.*s\n", areaName(area.id), static_cast<int>(command.size()), command.data());
    }
    return true;
}

}  // namespace mobiflight
