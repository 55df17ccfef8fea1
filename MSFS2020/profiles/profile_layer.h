// The profile layer: sits in front of the built-in dispatcher and LEDs,
// answers for the controls and LEDs the chosen profile names and hands the
// rest on unchanged. It learns which aircraft is loaded, chooses its profile,
// and resolves that profile's actions once (events mapped, variables
// defined and requested, input events enumerated), so that a detent is a
// table lookup and one send.
#ifndef PROFILES_PROFILE_LAYER_H
#define PROFILES_PROFILE_LAYER_H

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/panel_report.h"
#include "driver/panel_state.h"
#include "profiles/profile.h"
#include "simconnect/simconnect_api.h"
#include "simulator/client_events.h"

namespace profiles {

// IDs of the layer's own, after the built-in ones (client events 0 to 90,
// definitions and requests 0 and 1).
inline constexpr SIMCONNECT_CLIENT_EVENT_ID kAircraftLoadedEvent = kClientEvents.size();
inline constexpr SIMCONNECT_CLIENT_EVENT_ID kFirstProfileEvent = kAircraftLoadedEvent + 1;
inline constexpr SIMCONNECT_DATA_DEFINITION_ID kTitleDefinition = 2;
inline constexpr SIMCONNECT_DATA_REQUEST_ID kTitleRequest = 2;
inline constexpr SIMCONNECT_DATA_REQUEST_ID kAircraftStateRequest = 3;
// Definitions, data requests and enumerations of a profile's variables and
// input events take numbers from here on, never one twice on a connection:
// a record still on its way for a profile left behind cannot be taken for
// the next one's.
inline constexpr DWORD kFirstProfileNumber = 4;

using Clock = std::chrono::steady_clock;

// The acceleration runs of the profile's own knobs are told apart from the
// built-in ones' by this bit in their KnobId.
inline constexpr std::uint32_t kProfileKnobs = 0x10000;

class ProfileLayer {
public:
    // The profiles to choose from; with `fixed`, the first is used for every
    // aircraft. Without any, the layer stays out of the way entirely.
    void use(std::vector<Profile> profiles, bool fixed);
    bool active() const { return !profiles_.empty(); }

    // The connection handle's home, set before the first call.
    HANDLE* connection = nullptr;
    // One line on standard error for each action (--verbose).
    bool verbose = false;
    // The clock the hold of values written here runs on; tests replace it.
    Clock::time_point (*clock)() = &Clock::now;

    // Called at the end of the start-up: asks which aircraft is loaded and
    // to be told of each new one (only with profiles).
    void onConnected();
    // The connection has ended: all that came from it is forgotten.
    void onDisconnected();
    // Takes the records that are the layer's (the aircraft's path and
    // title, its variables' values, input events, exceptions to its
    // calls). False for every other record.
    bool takeRecord(const SIMCONNECT_RECV* record, DWORD size);

    // Acts on one report: the controls the profile names in the panel's
    // mode and shift state here, the rest through `next` (the built-in
    // dispatcher), which may be called twice: once for the knobs and the
    // knob push, once for the other buttons, which read the shift flag as
    // the push left it.
    using Next = void (*)(PanelState&, const PanelReport&);
    void dispatch(PanelState& panel, const PanelReport& report, Next next);

    // The LED byte: the built-in one with the bits of the LEDs the profile
    // names replaced.
    std::uint8_t leds(std::uint8_t builtin) const;

    // Whether the knob at this position accelerates by the profile in force:
    // 1 yes, 0 no, -1 as --accelerate says (also without a profile).
    std::int8_t knobSetting(std::uint8_t mode, bool shift, bool inner) const;

    // What is in force, for tests and messages: the profile (null for the
    // built-in mapping) and the aircraft it was chosen for.
    const Profile* current() const { return current_; }
    const std::string& aircraftTitle() const { return title_; }

private:
    struct Variable {
        std::string name;  // as defined: "L:NAME" or "SIMVAR:INDEX"
        std::string unit;
        DWORD definition = 0;
        bool requested = false;
        bool received = false;
        double value = 0.0;
        // A value written here holds against the simulator's until it shows
        // it or kLocalHoldOff has passed since the first unshown write.
        bool holding = false;
        double written = 0.0;
        Clock::time_point held_since{};
    };
    struct Input {
        std::string name;
        std::uint64_t hash = 0;
        bool known = false;
        int line = 0;
    };
    struct Step {
        Action::Kind kind = Action::Kind::Event;
        std::uint32_t index = 0;  // event ID, variable or input
        std::uint32_t data = 0;
        double value = 0.0;
        const Action* action = nullptr;
    };
    struct Steps {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
    };
    struct Resolved {
        Steps press;
        Steps release;
    };
    struct LedCheck {
        std::uint32_t variable = 0;  // the layer's, or the MobiFlight channel's value
        LedTerm::Test test = LedTerm::Test::NonZero;
        double operand = 0.0;
        std::uint64_t mask = 0;
        bool through_channel = false;  // an R: term
    };
    struct Led {
        LedSource::Kind kind = LedSource::Kind::Builtin;
        std::vector<LedCheck> any;
    };
    // A call whose exception record would name the profile line behind it.
    struct Sent {
        DWORD send_id = 0;
        std::string what;   // e.g. MapClientEventToSimEvent("A32NX.FCU_HDG_INC")
        std::string where;  // "FILE:LINE" or empty for the layer's own calls
    };

    void sayOnce(const std::string& message);
    // Keeps the send ID of a call that returned `result` (0 if it failed).
    void record(HRESULT result, std::string what, std::string where);
    void takeAircraftPath(const char* path, std::size_t capacity);
    void decide();
    void select(const Profile* profile);
    void leave();
    bool resolve(const Profile& profile);
    std::uint32_t eventId(const Action& action, const Profile& profile);
    std::uint32_t variableIndex(const std::string& name, const std::string& unit, bool read, int line,
                                const Profile& profile);
    Steps resolveSteps(const std::vector<Action>& actions, const Profile& profile);
    void takeValue(Variable& variable, double reported);
    void takeInputEvents(const SIMCONNECT_RECV* record, DWORD size);
    void reportException(const SIMCONNECT_RECV_EXCEPTION& exception);

    void runSteps(Steps steps, int detents, const char* action);
    void runStep(const Step& step, int detents, bool first, const char* action);
    void writeVariable(Variable& variable, double value);
    const Resolved* resolvedFor(std::uint8_t mode, bool shift, Control control) const;

    std::vector<Profile> profiles_;
    bool fixed_ = false;

    // This connection.
    std::map<std::string, SIMCONNECT_CLIENT_EVENT_ID> mapped_;  // event name to ID, kept for the connection
    SIMCONNECT_CLIENT_EVENT_ID next_event_ = kFirstProfileEvent;
    DWORD next_number_ = kFirstProfileNumber;
    std::vector<Sent> sent_;
    std::string path_;
    std::string title_;
    bool path_known_ = false;
    bool title_known_ = false;
    std::string aircraft_;  // normalised path and title of the aircraft decided for
    // Messages said once for the whole run.
    std::set<std::string> said_;

    // The profile in force, resolved.
    const Profile* current_ = nullptr;
    std::vector<Variable> variables_;
    std::vector<Input> inputs_;
    DWORD input_request_ = 0;
    std::vector<Step> steps_;
    std::vector<Resolved> resolved_;
    // Index into resolved_ + 1 by mode, shift and control; 0: built-in.
    std::array<std::array<std::array<std::uint16_t, kControlCount>, 2>, kModeCount> table_{};
    // Whether each knob of the profile accelerates, by mode, shift and knob:
    // 1 yes, 0 no, -1 as --accelerate says.
    std::array<std::array<std::array<std::int8_t, 2>, 2>, kModeCount> knob_accelerate_{};
    std::array<Led, kLedNames.size()> leds_{};
    // The release actions a press armed, by button (kButtons order).
    std::array<const Resolved*, kButtons.size()> armed_{};
};

// The process's one layer.
extern ProfileLayer profileLayer;

}  // namespace profiles

#endif
