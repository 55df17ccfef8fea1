// A model of the MobiFlight WASM module (sim-emulator --mobiflight): the
// client-data channels it keeps and the commands it answers there.
//
// Each channel N has four areas: N.LVars (a float32 per registered
// variable, variable k at offset 4k), N.Command (commands in, ASCII,
// NUL-ended), N.Response (answers out) and N.StringVars (kept for the
// layout, not used). The channel "MobiFlight" exists from the start;
// "MF.Clients.Add.N" adds N, or reuses it with its variables when it exists.
//
// Commands: MF.Ping -> MF.Pong; MF.Version.Get -> MF.Version.<version>;
// MF.Clients.Add.<N> -> MF.Clients.Add.<N>.Finished on the channel the
// command came in on; MF.SimVars.Add.<code> registers a variable (written
// at once, then whenever its value changes); MF.SimVars.Clear zeroes the
// values and forgets the variables; MF.SimVars.Set.<code> runs calculator
// code; MF.Config.MAX_VARS_PER_FRAME.Set.<n> sets how many variables of
// each channel are read per frame (30 at first). Anything else does
// nothing. A command equal to the channel's last one is ignored (the real
// module reads a command area only when it changed).
#ifndef SIM_EMULATOR_MOBIFLIGHT_MODULE_H
#define SIM_EMULATOR_MOBIFLIGHT_MODULE_H

#include "mobiflight/ports.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace simemu::mobiflight {

inline constexpr std::string_view kDefaultVersion = "1.0.1";
inline constexpr std::string_view kDefaultChannel = "MobiFlight";

inline constexpr std::size_t kLVarsSize = 4096;
inline constexpr std::size_t kCommandSize = 1024;
inline constexpr std::size_t kResponseSize = 1024;
inline constexpr std::size_t kStringVarsSize = 8192;
inline constexpr std::size_t kMaxVariablesPerChannel = kLVarsSize / 4;
// Channels clients may add, besides the default one.
inline constexpr std::size_t kMaxChannels = 32;
inline constexpr std::size_t kMaxChannelName = 64;
inline constexpr std::size_t kDefaultVarsPerFrame = 30;

// A version as --mobiflight takes it: 1 to 32 letters, digits, dots,
// dashes, underscores or pluses.
bool validVersion(std::string_view version);

class Module {
public:
    Module(std::string version, SimulatorPort& sim, ChannelPort& channel);

    // Creates the default channel's areas.
    void start();
    // After client `client` wrote area `name`: when it is a channel's
    // command area, the command there is run (unless it is the last one).
    void written(std::string_view name, int client);
    // Once per frame: reads the registered variables (each channel's next
    // MAX_VARS_PER_FRAME, round-robin) and writes those that changed.
    void frame();

    std::size_t channels() const { return channels_.size(); }
    std::size_t variables(std::string_view channel) const;

private:
    struct Variable {
        std::string code;
        std::uint32_t bits = 0;  // the float32 last written
    };
    struct Channel {
        std::string last_command;
        std::vector<Variable> variables;
        std::size_t next = 0;  // round-robin position
    };
    enum Refusal : unsigned { kChannels = 1, kChannelName = 2, kVariables = 4, kCode = 8 };

    Channel* addChannel(std::string_view name);
    void run(std::string_view channel, std::string_view command, int client);
    void respond(std::string_view channel, std::string_view text);
    // Reads variable k of a channel and writes it when it changed (or
    // always, the first time).
    void update(std::string_view channel, Channel& c, std::size_t k, bool first);
    void refuse(Refusal kind, const std::string& text);

    std::string version_;
    SimulatorPort& sim_;
    ChannelPort& port_;
    std::map<std::string, Channel, std::less<>> channels_;
    std::size_t vars_per_frame_ = kDefaultVarsPerFrame;
    unsigned said_ = 0;  // refusals already said, one bit per kind
};

}  // namespace simemu::mobiflight

#endif
