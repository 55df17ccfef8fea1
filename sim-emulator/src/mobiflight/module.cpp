#include "mobiflight/module.h"

#include "mobiflight/calculator.h"

#include "text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace simemu::mobiflight {
namespace {

constexpr std::string_view kCommandSuffix = ".Command";
constexpr std::string_view kAddChannel = "MF.Clients.Add.";
constexpr std::string_view kAddVariable = "MF.SimVars.Add.";
constexpr std::string_view kSet = "MF.SimVars.Set.";
constexpr std::string_view kVarsPerFrame = "MF.Config.MAX_VARS_PER_FRAME.Set.";

bool validChannelName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxChannelName && std::ranges::all_of(name, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

std::string areaName(std::string_view channel, std::string_view suffix) {
    return std::string(channel) + std::string(suffix);
}

}  // namespace

bool validVersion(std::string_view version) {
    return !version.empty() && version.size() <= 32 && std::ranges::all_of(version, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == '_' || c == '+';
    });
}

Module::Module(std::string version, SimulatorPort& sim, ChannelPort& channel)
    : version_(std::move(version)), sim_(sim), port_(channel) {}

void Module::start() { addChannel(kDefaultChannel); }

std::size_t Module::variables(std::string_view channel) const {
    const auto it = channels_.find(channel);
    return it == channels_.end() ? 0 : it->second.variables.size();
}

Module::Channel* Module::addChannel(std::string_view name) {
    if (const auto it = channels_.find(name); it != channels_.end()) {
        return &it->second;
    }
    if (channels_.size() >= kMaxChannels + 1) {
        refuse(kChannels, "the MobiFlight module model keeps at most " + std::to_string(kMaxChannels) +
                              " added channels; ignoring further MF.Clients.Add");
        return nullptr;
    }
    const bool made = port_.createArea(areaName(name, ".LVars"), kLVarsSize) &&
                      port_.createArea(areaName(name, kCommandSuffix), kCommandSize) &&
                      port_.createArea(areaName(name, ".Response"), kResponseSize) &&
                      port_.createArea(areaName(name, ".StringVars"), kStringVarsSize);
    if (!made) {
        refuse(kChannels, "no room for the client-data areas of MobiFlight channel \"" + printable(name) + "\"");
        return nullptr;
    }
    return &channels_.try_emplace(std::string(name)).first->second;
}

void Module::written(std::string_view name, int client) {
    if (!name.ends_with(kCommandSuffix)) {
        return;
    }
    const std::string_view channel = name.substr(0, name.size() - kCommandSuffix.size());
    const auto it = channels_.find(channel);
    if (it == channels_.end()) {
        return;
    }
    const auto bytes = port_.area(name);
    const auto* text = reinterpret_cast<const char*>(bytes.data());
    const auto* nul = static_cast<const char*>(std::memchr(text, 0, bytes.size()));
    const std::string_view command(text, nul ? static_cast<std::size_t>(nul - text) : bytes.size());
    if (command == it->second.last_command) {
        return;  // the change filter
    }
    it->second.last_command = std::string(command);
    if (!command.empty()) {
        port_.traceCommand(command);
        // A copy of the area's text, so that nothing the command does can
        // change it underfoot.
        run(channel, std::string(command), client);
    }
}

void Module::run(std::string_view channel, std::string_view command, int client) {
    if (command == "MF.Ping") {
        return respond(channel, "MF.Pong");
    }
    if (command == "MF.Version.Get") {
        return respond(channel, "MF.Version." + version_);
    }
    if (command.starts_with(kAddChannel)) {
        const std::string_view name = command.substr(kAddChannel.size());
        if (!validChannelName(name)) {
            return refuse(kChannelName, "MobiFlight channel names here are 1 to " + std::to_string(kMaxChannelName) +
                                            " letters, digits, '_' or '-'; ignoring \"" + printable(command) + "\"");
        }
        if (addChannel(name)) {
            respond(channel, std::string(command) + ".Finished");
        }
        return;
    }
    Channel& c = channels_.find(channel)->second;
    if (command.starts_with(kAddVariable)) {
        if (c.variables.size() >= kMaxVariablesPerChannel) {
            return refuse(kVariables, "a MobiFlight channel holds " + std::to_string(kMaxVariablesPerChannel) +
                                          " variables; ignoring further MF.SimVars.Add");
        }
        c.variables.push_back(Variable{std::string(command.substr(kAddVariable.size()))});
        return update(channel, c, c.variables.size() - 1, true);
    }
    if (command == "MF.SimVars.Clear") {
        c.variables.clear();
        c.next = 0;
        const std::vector<std::uint8_t> zeros(kLVarsSize);
        port_.writeArea(areaName(channel, ".LVars"), 0, zeros);
        return;
    }
    if (command.starts_with(kSet)) {
        const Outcome o = mobiflight::run(command.substr(kSet.size()), sim_, client, Effects::Allowed);
        if (!o.error.empty()) {
            refuse(kCode, "the MobiFlight module model could not run \"" + printable(command) + "\": " + o.error +
                              " (later failures are not said)");
        }
        return;
    }
    if (command.starts_with(kVarsPerFrame)) {
        const std::string_view n = command.substr(kVarsPerFrame.size());
        std::size_t v = 0;
        const auto r = std::from_chars(n.data(), n.data() + n.size(), v);
        if (r.ec == std::errc() && r.ptr == n.data() + n.size() && v > 0) {
            vars_per_frame_ = std::min(v, kMaxVariablesPerChannel);
        }
    }
    // Anything else (MF.DummyCmd among them) does nothing.
}

void Module::respond(std::string_view channel, std::string_view text) {
    std::vector<std::uint8_t> area(kResponseSize);
    std::memcpy(area.data(), text.data(), std::min(text.size(), kResponseSize - 1));
    port_.writeArea(areaName(channel, ".Response"), 0, area);
}

void Module::update(std::string_view channel, Channel& c, std::size_t k, bool first) {
    Variable& v = c.variables[k];
    const Outcome o = mobiflight::run(v.code, sim_, 0, Effects::Refused);
    if (!o.error.empty() && first) {
        refuse(kCode, "the MobiFlight module model cannot read \"" + printable(v.code) + "\": " + o.error +
                          "; it reads 0 (later failures are not said)");
    }
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(o.value.value_or(0.0)));
    if (!first && bits == v.bits) {
        return;
    }
    v.bits = bits;
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                   static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    port_.writeArea(areaName(channel, ".LVars"), 4 * k, bytes);
}

void Module::frame() {
    for (auto& [name, c] : channels_) {
        const std::size_t n = std::min(vars_per_frame_, c.variables.size());
        for (std::size_t i = 0; i < n; ++i) {
            c.next %= c.variables.size();
            update(name, c, c.next++, false);
        }
    }
}

void Module::refuse(Refusal kind, const std::string& text) {
    if (!(said_ & kind)) {
        said_ |= kind;
        port_.say(text);
    }
}

}  // namespace simemu::mobiflight
