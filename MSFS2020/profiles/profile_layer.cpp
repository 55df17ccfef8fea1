#include "profiles/profile_layer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "acceleration/panel_acceleration.h"
#include "driver/verbose_log.h"
#include "mobiflight/channel.h"
#include "profiles/catalog.h"
#include "simconnect/send_event.h"
#include "simconnect/sent_packet.h"
#include "simconnect_protocol/vocabulary.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace profiles {

ProfileLayer profileLayer;

namespace {

std::int8_t knobSettingOfProfileLayer(std::uint8_t mode, bool shift, bool inner) {
    return profileLayer.knobSetting(mode, shift, inner);
}

// Where the string fields start (the records are packed): the path follows
// the event record's fields, the state's string is its last field.
constexpr std::size_t kFileNameAt = sizeof(SIMCONNECT_RECV_EVENT);
constexpr std::size_t kStateStringAt = sizeof(SIMCONNECT_RECV_SYSTEM_STATE) - MAX_PATH;

// The text of a fixed-size string field: up to its NUL, never past the
// bytes that arrived.
std::string fieldText(const char* field, std::size_t capacity) { return std::string(field, strnlen(field, capacity)); }

std::string at(const Profile& profile, int line) { return profile.path + ":" + std::to_string(line); }

bool lit(double value, const LedTerm::Test test, double operand, std::uint64_t mask) {
    if (std::isnan(value)) return false;
    switch (test) {
    case LedTerm::Test::NonZero: return value != 0.0;
    case LedTerm::Test::Equal: return value == operand;
    case LedTerm::Test::NotEqual: return value != operand;
    case LedTerm::Test::Less: return value < operand;
    case LedTerm::Test::LessEqual: return value <= operand;
    case LedTerm::Test::Greater: return value > operand;
    case LedTerm::Test::GreaterEqual: return value >= operand;
    case LedTerm::Test::Mask: {
        // The bits of the value's integer part; beyond 64 bits nothing is lit.
        if (std::fabs(value) >= 9.2e18) return false;
        const auto bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
        return (bits & mask) == mask;
    }
    }
    return false;
}

}  // namespace

void ProfileLayer::use(std::vector<Profile> profiles, bool fixed) {
    leave();
    profiles_ = std::move(profiles);
    fixed_ = fixed && !profiles_.empty();
}

void ProfileLayer::sayOnce(const std::string& message) {
    if (said_.insert(message).second) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

void ProfileLayer::record(HRESULT result, std::string what, std::string where) {
    Sent sent;
    sent.what = std::move(what);
    sent.where = std::move(where);
    sent.send_id = sentPacketId(*connection, result);
    sent_.push_back(std::move(sent));
}

void ProfileLayer::onConnected() {
    if (!active()) return;
    // After the whole built-in start-up, so that it stays as it was.
    record(SimConnect_SubscribeToSystemEvent(*connection, kAircraftLoadedEvent, "AircraftLoaded"),
           "SubscribeToSystemEvent(\"AircraftLoaded\")", "");
    record(SimConnect_RequestSystemState(*connection, kAircraftStateRequest, "AircraftLoaded"),
           "RequestSystemState(\"AircraftLoaded\")", "");
    record(SimConnect_AddToDataDefinition(*connection, kTitleDefinition, "TITLE", nullptr,
                                          SIMCONNECT_DATATYPE_STRING256, 0.0F, SIMCONNECT_UNUSED),
           "AddToDataDefinition(\"TITLE\")", "");
    record(SimConnect_RequestDataOnSimObject(*connection, kTitleRequest, kTitleDefinition, SIMCONNECT_OBJECT_ID_USER,
                                             SIMCONNECT_PERIOD_ONCE, 0, 0, 0, 0),
           "RequestDataOnSimObject(TITLE)", "");
}

void ProfileLayer::onDisconnected() {
    // Nothing is cleared in a simulator that is gone: only forgotten here.
    current_ = nullptr;
    variables_.clear();
    inputs_.clear();
    steps_.clear();
    resolved_.clear();
    table_ = {};
    knob_accelerate_ = {};
    leds_ = {};
    armed_ = {};
    mapped_.clear();
    next_event_ = kFirstProfileEvent;
    next_number_ = kFirstProfileNumber;
    sent_.clear();
    path_.clear();
    title_.clear();
    path_known_ = false;
    title_known_ = false;
    aircraft_.clear();
}

// --- records ----------------------------------------------------------------

bool ProfileLayer::takeRecord(const SIMCONNECT_RECV* record, DWORD size) {
    if (!active()) return false;
    switch (record->dwID) {
    case SIMCONNECT_RECV_ID_EVENT_FILENAME: {
        if (size < kFileNameAt) return false;
        const auto* event = static_cast<const SIMCONNECT_RECV_EVENT_FILENAME*>(record);
        if (event->uEventID != kAircraftLoadedEvent) return false;
        const std::size_t room = size - kFileNameAt;
        takeAircraftPath(event->szFileName, std::min(room, sizeof event->szFileName));
        // The title of the aircraft now loaded: asked again, the selection
        // waits for it.
        title_known_ = false;
        SimConnect_RequestDataOnSimObject(*connection, kTitleRequest, kTitleDefinition, SIMCONNECT_OBJECT_ID_USER,
                                          SIMCONNECT_PERIOD_ONCE, 0, 0, 0, 0);
        return true;
    }
    case SIMCONNECT_RECV_ID_SYSTEM_STATE: {
        if (size < kStateStringAt) return false;
        const auto* state = static_cast<const SIMCONNECT_RECV_SYSTEM_STATE*>(record);
        if (state->dwRequestID != kAircraftStateRequest) return false;
        const std::size_t room = size - kStateStringAt;
        takeAircraftPath(state->szString, std::min(room, sizeof state->szString));
        decide();
        return true;
    }
    case SIMCONNECT_RECV_ID_SIMOBJECT_DATA: {
        if (size < kDataRecordHeaderSize) return false;
        const auto* data = static_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(record);
        if (data->dwRequestID < kTitleRequest) return false;
        const auto* payload = reinterpret_cast<const unsigned char*>(record) + kDataRecordHeaderSize;
        const std::size_t length = size - kDataRecordHeaderSize;
        if (data->dwRequestID == kTitleRequest) {
            title_ = fieldText(reinterpret_cast<const char*>(payload), std::min<std::size_t>(length, 256));
            title_known_ = true;
            decide();
            return true;
        }
        for (Variable& variable : variables_) {
            if (variable.requested && variable.definition == data->dwRequestID && length >= sizeof(double)) {
                double value = 0.0;
                std::memcpy(&value, payload, sizeof value);
                takeValue(variable, value);
            }
        }
        // A request of a profile left behind: its last records are dropped.
        return true;
    }
    case SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENTS: takeInputEvents(record, size); return true;
    case SIMCONNECT_RECV_ID_EXCEPTION: {
        if (size < sizeof(SIMCONNECT_RECV_EXCEPTION)) return false;
        const auto& exception = *static_cast<const SIMCONNECT_RECV_EXCEPTION*>(record);
        for (const Sent& sent : sent_) {
            if (sent.send_id != 0 && sent.send_id == exception.dwSendID) {
                reportException(exception);
                return true;
            }
        }
        return false;
    }
    default: return false;
    }
}

void ProfileLayer::takeAircraftPath(const char* path, std::size_t capacity) {
    path_ = fieldText(path, capacity);
    path_known_ = true;
}

void ProfileLayer::reportException(const SIMCONNECT_RECV_EXCEPTION& exception) {
    const char* name = scproto::exceptionName(exception.dwException);
    const std::string reason = name != nullptr
                                   ? std::string(name)
                                   : "exception " + std::to_string(static_cast<unsigned long>(exception.dwException));
    for (const Sent& sent : sent_) {
        if (sent.send_id != exception.dwSendID) continue;
        if (sent.where.empty()) {
            sayOnce("msfs-panel: the simulator rejected " + sent.what + ": " + reason);
        } else {
            sayOnce(sent.where + ": the simulator rejected " + sent.what + ": " + reason);
        }
        return;
    }
}

void ProfileLayer::takeValue(Variable& variable, double reported) {
    if (variable.holding) {
        // Blocks made before the simulator applied the write still show the
        // old value: taking them would make the next step start from it.
        if (reported != variable.written && clock() < variable.held_since + kLocalHoldOff) return;
        variable.holding = false;
    }
    variable.value = reported;
    variable.received = true;
}

void ProfileLayer::takeInputEvents(const SIMCONNECT_RECV* record, DWORD size) {
    if (size < sizeof(SIMCONNECT_RECV_LIST_TEMPLATE)) return;
    const auto* list = static_cast<const SIMCONNECT_RECV_ENUMERATE_INPUT_EVENTS*>(record);
    if (list->dwRequestID != input_request_ || inputs_.empty()) return;
    const std::size_t header = sizeof(SIMCONNECT_RECV_LIST_TEMPLATE);
    const std::size_t room = (size - header) / sizeof(SIMCONNECT_INPUT_EVENT_DESCRIPTOR);
    const std::size_t count = std::min<std::size_t>(list->dwArraySize, room);
    for (std::size_t i = 0; i < count; ++i) {
        const SIMCONNECT_INPUT_EVENT_DESCRIPTOR& descriptor = list->rgData[i];
        const std::string name = fieldText(descriptor.Name, sizeof descriptor.Name);
        for (Input& input : inputs_) {
            if (!input.known && input.name == name) {
                input.hash = descriptor.Hash;
                input.known = true;
            }
        }
    }
    // The last record of the list: what is not in it, the aircraft has not.
    if (list->dwEntryNumber + 1 >= list->dwOutOf && current_ != nullptr) {
        for (const Input& input : inputs_) {
            if (!input.known) {
                sayOnce(at(*current_, input.line) + ": the loaded aircraft has no input event \"" + input.name + "\"");
            }
        }
    }
}

// --- choosing and resolving -------------------------------------------------

void ProfileLayer::decide() {
    if (!path_known_ || !title_known_) return;
    const std::string aircraft = normalisedAircraftPath(path_) + '\n' + title_;
    if (aircraft == aircraft_) return;  // the same aircraft again
    aircraft_ = aircraft;
    const Profile* chosen = fixed_ ? &profiles_.front() : chooseProfile(profiles_, path_, title_);
    select(chosen);
    if (current_ != nullptr) {
        std::fprintf(stderr, "msfs-panel: aircraft \"%s\" (%s): profile \"%s\" from %s\n", title_.c_str(),
                     path_.c_str(), current_->name.c_str(), current_->path.c_str());
    } else {
        std::fprintf(stderr, "msfs-panel: aircraft \"%s\" (%s): built-in mapping\n", title_.c_str(), path_.c_str());
    }
}

void ProfileLayer::leave() {
    if (connection != nullptr && *connection != nullptr) {
        for (const Variable& variable : variables_) {
            if (variable.requested) {
                SimConnect_RequestDataOnSimObject(*connection, variable.definition, variable.definition,
                                                  SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_NEVER, 0, 0, 0, 0);
            }
            SimConnect_ClearDataDefinition(*connection, variable.definition);
        }
    }
    current_ = nullptr;
    variables_.clear();
    inputs_.clear();
    input_request_ = 0;
    steps_.clear();
    resolved_.clear();
    table_ = {};
    knob_accelerate_ = {};
    leds_ = {};
    armed_ = {};
    mobiflight::channel().unwatchAll();
    mobiflight::channel().neededBy("");
    // The exceptions of the start-up calls still count; those of the profile
    // left behind no longer matter.
    std::erase_if(sent_, [](const Sent& sent) { return !sent.where.empty(); });
}

void ProfileLayer::select(const Profile* profile) {
    leave();
    if (profile == nullptr) return;
    if (resolve(*profile)) current_ = profile;
}

std::uint32_t ProfileLayer::eventId(const Action& action, const Profile& profile) {
    if (const auto found = mapped_.find(action.name); found != mapped_.end()) return found->second;
    const SIMCONNECT_CLIENT_EVENT_ID id = next_event_++;
    record(SimConnect_MapClientEventToSimEvent(*connection, id, action.name.c_str()),
           "MapClientEventToSimEvent(\"" + action.name + "\")", at(profile, action.line));
    mapped_.emplace(action.name, id);
    return id;
}

std::uint32_t ProfileLayer::variableIndex(const std::string& name, const std::string& unit, bool read, int line,
                                          const Profile& profile) {
    std::size_t index = 0;
    while (index < variables_.size() && !(variables_[index].name == name && variables_[index].unit == unit)) ++index;
    if (index == variables_.size()) {
        Variable variable;
        variable.name = name;
        variable.unit = unit;
        variable.definition = next_number_++;
        // One datum per definition: a write sets that variable alone, and a
        // variable the simulator rejects takes no other with it.
        record(SimConnect_AddToDataDefinition(*connection, variable.definition, name.c_str(), unit.c_str(),
                                              SIMCONNECT_DATATYPE_FLOAT64, 0.0F, SIMCONNECT_UNUSED),
               "AddToDataDefinition(\"" + name + "\", \"" + unit + "\")", at(profile, line));
        variables_.push_back(std::move(variable));
    }
    Variable& variable = variables_[index];
    if (read && !variable.requested) {
        // Sent when it changes only: a counter or a light, read each frame.
        record(SimConnect_RequestDataOnSimObject(*connection, variable.definition, variable.definition,
                                                 SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SIM_FRAME,
                                                 SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0),
               "RequestDataOnSimObject(\"" + name + "\")", at(profile, line));
        variable.requested = true;
    }
    return static_cast<std::uint32_t>(index);
}

ProfileLayer::Steps ProfileLayer::resolveSteps(const std::vector<Action>& actions, const Profile& profile) {
    Steps steps{static_cast<std::uint32_t>(steps_.size()), 0};
    for (const Action& action : actions) {
        Step step;
        step.kind = action.kind;
        step.action = &action;
        step.value = action.value;
        step.data = action.data;
        switch (action.kind) {
        case Action::Kind::Event: step.index = eventId(action, profile); break;
        case Action::Kind::SetLvar:
        case Action::Kind::AddLvar:
            step.index =
                variableIndex("L:" + action.name, "number", action.kind == Action::Kind::AddLvar, action.line, profile);
            break;
        case Action::Kind::SetInput: {
            auto found = std::find_if(inputs_.begin(), inputs_.end(),
                                      [&](const Input& input) { return input.name == action.name; });
            if (found == inputs_.end()) {
                inputs_.push_back({action.name, 0, false, action.line});
                found = inputs_.end() - 1;
            }
            step.index = static_cast<std::uint32_t>(found - inputs_.begin());
            break;
        }
        case Action::Kind::HEvent:
        case Action::Kind::Rpn: break;  // through the MobiFlight channel, by name or code
        }
        steps_.push_back(step);
        ++steps.count;
    }
    return steps;
}

bool ProfileLayer::resolve(const Profile& profile) {
    // Each binding resolved once, whatever number of modes share it.
    std::map<const Binding*, std::uint16_t> done;
    for (std::size_t mode = 0; mode < kModeCount; ++mode) {
        for (int shift = 0; shift < 2; ++shift) {
            for (std::size_t control = 0; control < kControlCount; ++control) {
                const Binding* binding = bindingFor(profile, mode, shift != 0, static_cast<Control>(control));
                if (binding == nullptr) continue;
                auto [found, added] = done.emplace(binding, 0);
                if (added) {
                    Resolved resolved;
                    resolved.press = resolveSteps(binding->press, profile);
                    resolved.release = resolveSteps(binding->release, profile);
                    resolved_.push_back(resolved);
                    found->second = static_cast<std::uint16_t>(resolved_.size());
                }
                table_[mode][static_cast<std::size_t>(shift)][control] = found->second;
            }
            for (std::size_t knob = 0; knob < 2; ++knob) {
                std::optional<bool> setting = profile.plain[mode].knobs[knob].accelerate;
                if (shift != 0 && profile.shifted[mode].knobs[knob].accelerate) {
                    setting = profile.shifted[mode].knobs[knob].accelerate;
                }
                // The profile's (and the option's) word covers the positions
                // that step a value; a frequency, a code or an FMS knob
                // accelerates only when its own table says so.
                if (!setting) {
                    setting = stepsAValue(static_cast<std::uint8_t>(mode), shift != 0) ? profile.accelerate
                                                                                       : std::optional<bool>(false);
                }
                knob_accelerate_[mode][static_cast<std::size_t>(shift)][knob] =
                    static_cast<std::int8_t>(setting ? (*setting ? 1 : 0) : -1);
            }
        }
    }
    for (std::size_t i = 0; i < leds_.size(); ++i) {
        const LedSource& source = profile.leds[i];
        leds_[i].kind = source.kind;
        for (const LedTerm& term : source.any) {
            if (term.source == LedTerm::Source::Rpn) {
                // A value the module reads for us; one it cannot take is never lit.
                const std::optional<std::size_t> watched = mobiflight::channel().watch(term.variable);
                leds_[i].any.push_back({static_cast<std::uint32_t>(watched.value_or(mobiflight::kMaxVariables)),
                                        term.test, term.operand, term.mask, true});
                continue;
            }
            const std::string name = term.source == LedTerm::Source::Lvar ? "L:" + term.variable : term.variable;
            const std::string unit = term.source == LedTerm::Source::Lvar ? "number" : term.unit;
            leds_[i].any.push_back(
                {variableIndex(name, unit, true, term.line, profile), term.test, term.operand, term.mask});
        }
    }
    bool usesChannel = std::any_of(steps_.begin(), steps_.end(), [](const Step& step) {
        return step.kind == Action::Kind::HEvent || step.kind == Action::Kind::Rpn;
    });
    for (const Led& led : leds_) {
        usesChannel = usesChannel || std::any_of(led.any.begin(), led.any.end(),
                                                 [](const LedCheck& check) { return check.through_channel; });
    }
    if (usesChannel) {
        mobiflight::channel().neededBy("profile \"" + profile.name + "\" (" + profile.path + ")");
    }
    if (!inputs_.empty()) {
        input_request_ = next_number_++;
        record(SimConnect_EnumerateInputEvents(*connection, input_request_), "EnumerateInputEvents",
               at(profile, inputs_.front().line));
    }
    return true;
}

// --- acting -----------------------------------------------------------------

const ProfileLayer::Resolved* ProfileLayer::resolvedFor(std::uint8_t mode, bool shift, Control control) const {
    if (mode >= kModeCount) return nullptr;
    const std::uint16_t index = table_[mode][shift ? 1 : 0][static_cast<std::size_t>(control)];
    return index == 0 ? nullptr : &resolved_[index - 1U];
}

void ProfileLayer::writeVariable(Variable& variable, double value) {
    SimConnect_SetDataOnSimObject(*connection, variable.definition, SIMCONNECT_OBJECT_ID_USER, 0, 0, sizeof value,
                                  &value);
    if (variable.requested) {
        if (!variable.holding) variable.held_since = clock();
        variable.holding = true;
        variable.written = value;
        variable.value = value;
    }
}

void ProfileLayer::runStep(const Step& step, int detents, bool first, const char* action) {
    switch (step.kind) {
    case Action::Kind::Event:
        transmitEvent(*connection, step.index, step.data);
        if (verbose) {
            std::fprintf(stderr, "%s -> %s %lu\n", action, step.action->name.c_str(),
                         static_cast<unsigned long>(step.data));
        }
        return;
    case Action::Kind::SetLvar:
    case Action::Kind::AddLvar: {
        // A value is written once per report, whatever its detents: a step
        // as the whole sum of them.
        if (!first) return;
        Variable& variable = variables_[step.index];
        if (step.kind == Action::Kind::AddLvar && !variable.received) {
            // A sum computed from a value never received would be wrong.
            if (verbose) {
                std::fprintf(stderr, "%s -> %s not received from the simulator yet: nothing sent\n", action,
                             variable.name.c_str());
            }
            return;
        }
        const double value = step.kind == Action::Kind::SetLvar
                                 ? step.value
                                 : variable.value + step.value * static_cast<double>(detents);
        writeVariable(variable, value);
        if (verbose) std::fprintf(stderr, "%s -> %s %g\n", action, variable.name.c_str(), value);
        return;
    }
    case Action::Kind::SetInput: {
        if (!first) return;
        const Input& input = inputs_[step.index];
        if (!input.known) {
            if (verbose) {
                std::fprintf(stderr, "%s -> B:%s not among the aircraft's input events (yet): nothing sent\n", action,
                             input.name.c_str());
            }
            return;
        }
        double value = step.value;
        SimConnect_SetInputEvent(*connection, input.hash, sizeof value, &value);
        if (verbose) std::fprintf(stderr, "%s -> B:%s %g\n", action, input.name.c_str(), value);
        return;
    }
    case Action::Kind::HEvent:
    case Action::Kind::Rpn: {
        // Once per detent, as events are.
        mobiflight::Channel& channel = mobiflight::channel();
        const bool sent = step.kind == Action::Kind::HEvent ? channel.runHEvent(step.action->name, false)
                                                            : channel.runCode(step.action->name, false);
        if (verbose) {
            if (sent) {
                const std::string_view command = channel.lastCommand();
                std::fprintf(stderr, "%s -> %.*s\n", action, static_cast<int>(command.size()), command.data());
            } else {
                std::fprintf(stderr, "%s -> %s not sent: the MobiFlight channel is not open\n", action,
                             step.action->text.c_str());
            }
        }
        return;
    }
    }
}

void ProfileLayer::runSteps(Steps steps, int detents, const char* action) {
    if (steps.count == 0) {
        if (verbose) std::fprintf(stderr, "%s -> no event\n", action);
        return;
    }
    // The list once per detent, in order.
    for (int detent = 0; detent < detents; ++detent) {
        for (std::uint32_t i = 0; i < steps.count; ++i) runStep(steps_[steps.first + i], detents, detent == 0, action);
    }
}

void ProfileLayer::dispatch(PanelState& panel, const PanelReport& report, Next next) {
    if (current_ == nullptr) {
        next(panel, report);
        return;
    }
    const std::uint8_t mode = panel.mode;
    char action[160] = "";
    PanelReport rest = report;
    // The profile's acceleration settings hold for the built-in knobs it
    // hands on too; --accelerate where it has none.
    const KnobSetting before = panelAcceleration.knob_setting;
    panelAcceleration.knob_setting = &knobSettingOfProfileLayer;
    // The knobs read the shift flag as it was before this report's push.
    const std::int8_t deltas[2] = {report.outer_delta, report.inner_delta};
    for (int knob = 0; knob < 2; ++knob) {
        const int delta = deltas[knob];
        if (delta == 0) continue;
        const auto control = static_cast<Control>(2 * knob + (delta > 0 ? 0 : 1));
        const Resolved* resolved = resolvedFor(mode, panel.shift, control);
        if (resolved == nullptr) continue;
        WeighedReport weighed;
        Weighing& weighing = knob == 0 ? weighed.outer : weighed.inner;
        int detents = std::abs(delta);
        const std::int8_t setting = knob_accelerate_[mode][panel.shift ? 1 : 0][static_cast<std::size_t>(knob)];
        if (setting < 0 ? panelAcceleration.enabled : setting != 0) {
            // Weighed as a knob of its own, apart from the built-in ones.
            const KnobId id = kProfileKnobs | (KnobId{mode} << 2) | (panel.shift ? 2U : 0U) | (knob == 1 ? 1U : 0U);
            weighing = panelAcceleration.runs().weigh(id, static_cast<std::int8_t>(delta), panelAcceleration.clock());
            detents = std::abs(weighing.steps);
        }
        if (verbose) {
            describeKnobs(panel, knob == 0 ? deltas[0] : std::int8_t{0}, knob == 1 ? deltas[1] : std::int8_t{0},
                          &weighed, action);
        }
        runSteps(resolved->press, detents, action);
        (knob == 0 ? rest.outer_delta : rest.inner_delta) = 0;
    }

    const std::uint32_t previous = panel.previous_report.buttons;
    const std::uint32_t pressed = report.buttons & ~previous;
    const std::uint32_t released = previous & ~report.buttons;
    const bool pushTaken = resolvedFor(mode, false, Control::Push) != nullptr;

    // The knobs and the knob push through the dispatcher: the push may
    // switch shift, which the other buttons then read.
    PanelReport first = rest;
    first.buttons = pushTaken ? 0 : report.buttons & BTN_KNOB_PUSH;
    if (first.outer_delta != 0 || first.inner_delta != 0 || (first.buttons & pressed) != 0) next(panel, first);

    std::uint32_t builtin = 0;
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        const std::uint32_t mask = kButtons[i].mask;
        if ((released & mask) != 0 && armed_[i] != nullptr) {
            if (verbose) {
                describeButton(panel, mask, action);
                std::strncat(action, " released", sizeof action - std::strlen(action) - 1);
            }
            runSteps(armed_[i]->release, 1, action);
            armed_[i] = nullptr;
        }
        if ((pressed & mask) == 0) continue;
        const Resolved* resolved = resolvedFor(mode, panel.shift, kButtons[i].control);
        if (resolved == nullptr) {
            if (mask != BTN_KNOB_PUSH) builtin |= mask;
            continue;
        }
        if (verbose) describeButton(panel, mask, action);
        runSteps(resolved->press, 1, action);
        armed_[i] = resolved->release.count != 0 ? resolved : nullptr;
    }
    // Buttons the profile does not name, and those of no function (which the
    // verbose log names as such).
    builtin |= pressed & ~kNamedButtons;
    if (builtin != 0) {
        PanelReport second = report;
        second.outer_delta = 0;
        second.inner_delta = 0;
        second.buttons = builtin;
        next(panel, second);
    }
    panelAcceleration.knob_setting = before;
}

std::int8_t ProfileLayer::knobSetting(std::uint8_t mode, bool shift, bool inner) const {
    if (current_ == nullptr || mode >= kModeCount) return -1;
    return knob_accelerate_[mode][shift ? 1 : 0][inner ? 1 : 0];
}

std::uint8_t ProfileLayer::leds(std::uint8_t builtin) const {
    if (current_ == nullptr) return builtin;
    std::uint8_t out = builtin;
    for (std::size_t i = 0; i < leds_.size(); ++i) {
        const Led& led = leds_[i];
        if (led.kind == LedSource::Kind::Builtin) continue;
        bool on = false;
        for (const LedCheck& check : led.any) {
            if (check.through_channel) {
                const std::optional<float> value = mobiflight::channel().value(check.variable);
                on = on || (value.has_value() && lit(*value, check.test, check.operand, check.mask));
                continue;
            }
            const Variable& variable = variables_[check.variable];
            on = on || (variable.received && lit(variable.value, check.test, check.operand, check.mask));
        }
        const auto bit = static_cast<std::uint8_t>(1U << i);
        out = static_cast<std::uint8_t>(on ? (out | bit) : (out & ~bit));
    }
    return out;
}

}  // namespace profiles
