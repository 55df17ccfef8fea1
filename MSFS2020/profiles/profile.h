// A profile as read from its file: which controls and LEDs of the panel it
// re-maps, in which modes, and to what. Plain data: reading it (profile_file)
// and acting on it (profile_layer) are elsewhere.
#ifndef PROFILES_PROFILE_H
#define PROFILES_PROFILE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/panel_state.h"

namespace profiles {

// The panel's eight modes (kModeNames), by their PanelMode value.
inline constexpr std::size_t kModeCount = kModeNames.size();

// What a profile can name: each knob's two directions, and the buttons.
enum class Control : std::uint8_t {
    OuterCw,
    OuterCcw,
    InnerCw,
    InnerCcw,
    Push,
    Swap,
    DirectTo,
    Menu,
    Clr,
    Ent,
    ApCdi,
    HdgObs,
    NavMsg,
    AprFpl,
    AltVnav,
    VsProc,
    Count,
};
inline constexpr std::size_t kControlCount = static_cast<std::size_t>(Control::Count);
inline constexpr std::size_t kKnobDirections = 4;  // the controls before Push

struct ButtonName {
    std::string_view name;  // as a profile writes it
    Control control;
    std::uint32_t mask;  // in PanelReport::buttons
};
// clang-format off
inline constexpr std::array<ButtonName, 12> kButtons{{
    {"push",      Control::Push,     BTN_KNOB_PUSH},
    {"swap",      Control::Swap,     BTN_SWAP},
    {"direct_to", Control::DirectTo, BTN_DIRECT_TO},
    {"menu",      Control::Menu,     BTN_MENU},
    {"clr",       Control::Clr,      BTN_CLR},
    {"ent",       Control::Ent,      BTN_ENT},
    {"ap_cdi",    Control::ApCdi,    BTN_AP_CDI},
    {"hdg_obs",   Control::HdgObs,   BTN_HDG_OBS},
    {"nav_msg",   Control::NavMsg,   BTN_NAV_MSG},
    {"apr_fpl",   Control::AprFpl,   BTN_APR_FPL},
    {"alt_vnav",  Control::AltVnav,  BTN_ALT_VNAV},
    {"vs_proc",   Control::VsProc,   BTN_VS_PROC},
}};
// clang-format on
// Every button a profile can name.
inline constexpr std::uint32_t kNamedButtons = [] {
    std::uint32_t mask = 0;
    for (const ButtonName& button : kButtons) mask |= button.mask;
    return mask;
}();
static_assert(static_cast<std::size_t>(Control::Push) == kKnobDirections);
static_assert(kKnobDirections + kButtons.size() == kControlCount);

// The LEDs by their bit in the LED report.
inline constexpr std::array<std::string_view, 6> kLedNames{"AP", "HDG", "NAV", "APR", "ALT", "VS"};

struct Action {
    enum class Kind : std::uint8_t {
        Event,     // K:NAME[:DATA]
        SetLvar,   // L:NAME=VALUE
        AddLvar,   // L:NAME+=STEP, L:NAME-=STEP (value negated)
        SetInput,  // B:NAME=VALUE
        HEvent,    // H:NAME
        Rpn,       // RPN:code
    };
    Kind kind = Kind::Event;
    std::string name;        // the event, variable or input event (without its prefix); the code for Rpn
    std::uint32_t data = 0;  // Event: the event's data, negative values as two's complement
    double value = 0.0;      // SetLvar, SetInput: the value; AddLvar: the step, signed
    int line = 0;
    std::string text;  // as written, for messages
};

// One control in one table. `builtin` keeps the control's own behaviour
// (written out, so that a second table naming the control is still caught);
// otherwise the press list runs (empty: "none"), and the release list on
// release.
struct Binding {
    bool builtin = false;
    std::vector<Action> press;
    std::vector<Action> release;
    int line = 0;
};

struct Knob {
    std::optional<bool> accelerate;
    int line = 0;
};

// A table: the controls it names, and its knobs' settings.
struct Table {
    std::array<std::optional<Binding>, kControlCount> controls;
    std::array<Knob, 2> knobs;  // outer, inner
};

struct LedTerm {
    enum class Source : std::uint8_t { Lvar, Simvar, Rpn };
    enum class Test : std::uint8_t { NonZero, Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Mask };
    Source source = Source::Lvar;
    std::string variable;  // L:var name without "L:", SimVar with ":INDEX", or the RPN code
    std::string unit;      // Simvar: as written, "number" when omitted
    Test test = Test::NonZero;
    double operand = 0.0;    // the number compared with
    std::uint64_t mask = 0;  // Test::Mask: lit when all these bits are set
    int line = 0;
    std::string text;
};

struct LedSource {
    enum class Kind : std::uint8_t { Builtin, Off, Terms };
    Kind kind = Kind::Builtin;
    std::vector<LedTerm> any;  // Terms: lit when any of them is
    int line = 0;
};

struct Profile {
    std::string path;       // as shown in messages
    std::string file_name;  // decides which of two folders' files wins
    std::string name;
    std::vector<std::string> match;
    std::optional<bool> accelerate;
    // By mode: with shift off (and on, for what `shifted` does not name),
    // and with shift on.
    std::array<Table, kModeCount> plain;
    std::array<Table, kModeCount> shifted;
    std::array<LedSource, kLedNames.size()> leds;
};

// The binding a control has in a mode with the shift flag as given, or null
// where the built-in behaviour holds.
const Binding* bindingFor(const Profile& profile, std::size_t mode, bool shift, Control control);

// Every action of the profile, and every LED term, in file order of tables.
template <typename Visit>
void forEachAction(const Profile& profile, Visit&& visit) {
    for (const auto* tables : {&profile.plain, &profile.shifted}) {
        for (const Table& table : *tables) {
            for (const std::optional<Binding>& binding : table.controls) {
                if (!binding) continue;
                for (const Action& action : binding->press) visit(action);
                for (const Action& action : binding->release) visit(action);
            }
        }
    }
}

}  // namespace profiles

#endif
