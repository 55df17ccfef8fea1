// The MobiFlight WASM module's client-data channel: the one way a client
// outside the simulator runs H: events and calculator code (RPN) in it, and
// reads values stock SimConnect cannot.
//
// The module owns a set of client-data areas per client name: a Command area
// the client writes one command into (ASCII, NUL-padded), a Response area the
// module answers in, and a value area of float32s. The default client
// "MobiFlight" always exists; on it this program pings the module, asks its
// version and has a channel of its own added, then uses only that one.
//
// Nothing here waits: the calls are sent, their answers arrive through the
// dispatch handler, and poll() says once when none came in time. Until the
// channel is up (and for good when no module answers), callers fall back to
// what they did without it.
#ifndef MOBIFLIGHT_CHANNEL_H
#define MOBIFLIGHT_CHANNEL_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simconnect/simconnect_api.h"

namespace mobiflight {

using Clock = std::chrono::steady_clock;

// The name of this program's own channel, fixed so that a reconnect reuses
// the areas the module made for it the first time.
inline constexpr std::string_view kClientName = "msfs-panel";
// How long the module has to answer the ping and add the channel.
inline constexpr std::chrono::seconds kAnswerTimeout{3};
// The module's area sizes.
inline constexpr std::size_t kTextAreaSize = 1024;   // Command and Response
inline constexpr std::size_t kValueAreaSize = 4096;  // float32 per variable
inline constexpr std::size_t kMaxVariables = kValueAreaSize / sizeof(float);
// The longest calculator code a command carries: the area less the command's
// name ("MF.SimVars.Set." and "MF.SimVars.Add." alike) and the NUL.
inline constexpr std::size_t kMaxCodeBytes = kTextAreaSize - 15 - 1;

// The IDs the channel's calls use. Client data has its own ID spaces, but
// definition and request IDs are kept clear of the program's data
// definitions and requests (0, 1) all the same, for readable traces.
inline constexpr SIMCONNECT_CLIENT_DATA_ID kDefaultCommandArea = 0;
inline constexpr SIMCONNECT_CLIENT_DATA_ID kDefaultResponseArea = 1;
inline constexpr SIMCONNECT_CLIENT_DATA_ID kOwnCommandArea = 2;
inline constexpr SIMCONNECT_CLIENT_DATA_ID kOwnResponseArea = 3;
inline constexpr SIMCONNECT_CLIENT_DATA_ID kOwnValueArea = 4;
inline constexpr SIMCONNECT_CLIENT_DATA_DEFINITION_ID kTextDefinition = 1000;
inline constexpr SIMCONNECT_DATA_REQUEST_ID kDefaultResponseRequest = 1000;
inline constexpr SIMCONNECT_DATA_REQUEST_ID kOwnResponseRequest = 1001;
// Variable k: definition and request kFirstVariableId + k.
inline constexpr DWORD kFirstVariableId = 2000;

// Told of each command sent on behalf of a panel action (the verbose log
// names the action in front of it).
using ActionObserver = void (*)(std::string_view command);

class Channel {
public:
    // A new connection, just opened (its start-up sent): forgets the last
    // one (its values watched and who needed the channel too), maps the
    // default channel's areas, listens to its responses and pings the module.
    void open(HANDLE connection);
    // The connection has ended: nothing goes through the channel until the
    // next one opens it.
    void close();

    // Called each pass of the main loop: says once per connection that no
    // module answered when kAnswerTimeout has passed without the channel.
    void poll();

    // A CLIENT_DATA record from the dispatch handler; ignores what is not
    // the channel's. `size` is what was delivered.
    void receive(const SIMCONNECT_RECV* record, DWORD size);

    // True when the exception is about one of the channel's calls: those
    // are expected while no module made the areas, and are not the user's
    // concern (the verbose log shows them).
    bool takeException(const SIMCONNECT_RECV_EXCEPTION& exception) const;

    // Runs the H: event behind a custom event "MobiFlight.NAME" as
    // MF.SimVars.Set.(>H:NAME). False, with nothing sent, when the channel
    // is not up or the name is not such an event: the caller sends the
    // event itself.
    bool runCustomEvent(std::string_view event_name);
    // Runs H: event NAME, as MF.SimVars.Set.(>H:NAME), and calculator code
    // (e.g. "1 (>L:X)") as MF.SimVars.Set.<code>. False, with nothing sent,
    // when the channel is not up or the command would not fit its area.
    // `tell`: whether the action observer hears of it; a caller that logs
    // its own actions says no and shows lastCommand().
    bool runHEvent(std::string_view name, bool tell = true);
    bool runCode(std::string_view code, bool tell = true);
    // The last command written for an action.
    std::string_view lastCommand() const { return {last_command_.data(), last_command_length_}; }

    // Registers a value the module reads for this program, e.g.
    // "(L:A32NX_AUTOPILOT_1_ACTIVE)" or "(A:AUTOPILOT MASTER, Bool)", and
    // returns its index, for this connection: sent at once while the
    // channel is up, else when it comes up. nullopt when kMaxVariables are
    // taken or the code is longer than kMaxCodeBytes.
    std::optional<std::size_t> watch(std::string_view code);
    // Its latest value; nullopt until the module has sent one on this
    // connection.
    std::optional<float> value(std::size_t index) const;
    // Forgets every value watched, in the module too (MF.SimVars.Clear).
    void unwatchAll();

    // Who relies on the channel besides the FMS keys, as a person reads it
    // (e.g. profile "FBW A32NX" (a32nx.toml)); empty: nobody. Said once per
    // connection when no module answered, as what will not work.
    void neededBy(std::string_view user);

    bool up() const { return state_ == State::Up; }
    // Whether the module's answer time is over without the channel.
    bool givenUp() const { return absence_said_ && !up(); }
    // The module's version as it gave it ("1.0.1"); empty until then.
    std::string_view version() const { return {version_.data(), version_length_}; }

    // The verbose log: each command and response shown on standard error,
    // those of panel actions through `observer`.
    void enableLog(ActionObserver observer);
    void disableLog();

    // The clock the answer time runs on; tests replace it.
    Clock::time_point (*clock)() = &Clock::now;

private:
    enum class State : std::uint8_t { Closed, Pinging, Adding, Up };
    enum class CallKind : std::uint8_t { Map, Define, Request, Set };

    // What was last written to a command area, for the module's change
    // filter: it acts on a command only when the area's content changes.
    struct CommandArea {
        SIMCONNECT_CLIENT_DATA_ID id = 0;
        std::array<char, kTextAreaSize> last{};
        bool known = false;  // what the area holds now is known
    };

    // One call of the channel, by its send ID, so that an exception record
    // (which names only that ID) is recognised as the channel's.
    struct Call {
        DWORD send_id = 0;
        CallKind kind = CallKind::Map;
        DWORD area = 0;
    };
    static constexpr std::size_t kRememberedCalls = 64;

    // Who a command is for: the channel itself (shown by the verbose log
    // here), a panel action (shown through the observer), or an action
    // whose caller shows it.
    enum class Origin : std::uint8_t { Channel, Action, CallerLogs };

    void record(CallKind kind, DWORD area, HRESULT result);
    void map(SIMCONNECT_CLIENT_DATA_ID area, std::string_view suffix, bool own);
    void listen(SIMCONNECT_CLIENT_DATA_ID area, SIMCONNECT_DATA_REQUEST_ID request);
    // Writes one command, after a dummy when the area may already hold it.
    bool write(CommandArea& area, std::string_view command, Origin origin);
    // False when the call failed.
    bool put(CommandArea& area, std::string_view command);
    bool send(std::string_view prefix, std::string_view code, Origin origin);
    void addVariable(std::size_t index);
    void sayUserLeftOut();
    void onResponse(std::string_view response, bool own);
    void openOwnChannel();

    HANDLE connection_ = nullptr;
    State state_ = State::Closed;
    Clock::time_point deadline_{};
    bool absence_said_ = false;
    CommandArea default_command_{.id = kDefaultCommandArea};
    CommandArea own_command_{.id = kOwnCommandArea};
    std::array<char, 32> version_{};
    std::size_t version_length_ = 0;
    std::array<Call, kRememberedCalls> calls_{};
    std::size_t next_call_ = 0;
    // Registered values, in the order the module numbers them.
    std::vector<std::string> variables_;
    std::vector<std::optional<float>> values_;
    std::size_t variables_sent_ = 0;  // registered with the module since the last clear
    std::size_t variables_read_ = 0;  // with a definition and a request on this connection
    std::string user_;
    bool user_said_ = false;
    std::array<char, kTextAreaSize> last_command_{};
    std::size_t last_command_length_ = 0;
    bool log_ = false;
    ActionObserver observer_ = nullptr;
    std::array<char, kTextAreaSize> buffer_{};
};

// The program's one channel, which the dispatch handler feeds.
Channel& channel();

}  // namespace mobiflight

#endif
