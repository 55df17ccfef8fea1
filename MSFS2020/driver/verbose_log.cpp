#include "driver/verbose_log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "driver/control_names.h"
#include "mobiflight/channel.h"
#include "simconnect/send_event.h"
#include "simulator/client_events.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

// The button each key command comes from, so that a log line names the
// button pressed: the dispatcher's choice of key read backwards.
constexpr std::array<std::uint32_t, key::Last + 1> makeKeyButtons() {
    std::array<std::uint32_t, key::Last + 1> buttons{};
    for (const KeyCommand unit : {KeyCommand{0}, key::Unit2Offset}) {
        buttons[key::Unit1KnobPush + unit] = BTN_KNOB_PUSH;
        for (std::size_t i = 0; i < kNavigatorButtons.size(); ++i) {
            buttons[key::Unit1DirectTo + unit + i] = kNavigatorButtons[i];
        }
        for (std::size_t i = 0; i < kDualPurposeButtons.size(); ++i) {
            buttons[key::Unit1Cdi + unit + i] = kDualPurposeButtons[i];
        }
    }
    for (std::size_t i = 0; i < kDualPurposeButtons.size(); ++i) {
        buttons[key::ApMaster + i] = kDualPurposeButtons[i];
    }
    for (KeyCommand k = key::Com1Swap; k <= key::BaroStd; ++k) {
        buttons[k] = BTN_SWAP;
    }
    return buttons;
}
constexpr auto kKeyButtons = makeKeyButtons();

struct Log {
    bool enabled = false;
    const PanelState* panel = nullptr;
    FlightSimInterface* inner = nullptr;
    const FlightSimInterfaceMSFS* simulator = nullptr;  // for its waiting turns
    // The report being dispatched, with its knobs' weighings.
    const WeighedReport* weighed = nullptr;
    char action[160] = "";
    int events = 0;                 // sent under the current action
    std::uint32_t buttonsUsed = 0;  // buttons of this report that reached pressKey
};
constinit Log log;

// "NAV1", "COM1 shift": what the knobs and buttons mean now.
void describeMode(const PanelState& panel, char (&out)[32]) {
    char spare[16];
    std::snprintf(out, sizeof out, "%s%s", modeName(panel.mode, spare), panel.shift ? " shift" : "");
}

// " x4" for one detent; " x10" when every detent weighed the same;
// " x1+1+2" for a few; " x1..7 (28 steps)" for more. Nothing when every
// detent moved one step as it would without acceleration.
void describeWeights(const Weighing& weighing, char (&out)[48]) {
    out[0] = '\0';
    if (!weighing.accelerated() && !weighing.limited) {
        return;
    }
    const auto* first = weighing.weights.begin();
    const auto* last = first + weighing.detents;
    constexpr int kListed = 6;
    std::size_t used = 0;
    const auto put = [&](const char* format, auto... values) {
        const int n = std::snprintf(out + used, sizeof out - used, format, values...);
        used = std::min(sizeof out - 1, used + static_cast<std::size_t>(std::max(n, 0)));
    };
    if (std::all_of(first, last, [&](std::uint8_t w) { return w == *first; })) {
        put(" x%u", unsigned{*first});
    } else if (weighing.detents <= kListed) {
        put(" x%u", unsigned{*first});
        std::for_each(first + 1, last, [&](std::uint8_t w) { put("+%u", unsigned{w}); });
    } else {
        put(" x%u..%u (%ld steps)", unsigned{*first}, unsigned{*(last - 1)},
            static_cast<long>(std::abs(weighing.steps)));
    }
    if (weighing.limited) {
        put("%s", " (cut to fit one event)");
    }
}

// " outer +1", or " outer +1 x4" when its detents were weighed; nothing for a
// knob that did not turn.
void describeKnob(const char* name, std::int8_t count, const Weighing* weighing, char (&out)[64]) {
    out[0] = '\0';
    char weights[48] = "";
    if (weighing != nullptr && weighing->detents != 0) {
        count = static_cast<std::int8_t>(weighing->steps < 0 ? -weighing->detents : weighing->detents);
        describeWeights(*weighing, weights);
    }
    if (count != 0) {
        std::snprintf(out, sizeof out, " %s %+d%s", name, count, weights);
    }
}

}  // namespace

// The knobs of a report as turned. `outer` and `inner` are the counts the
// operation got; `weighed`, when given, says which of them were weighted and
// from which detents.
void describeKnobs(const PanelState& panel, std::int8_t outer, std::int8_t inner, const WeighedReport* weighed,
                   char (&out)[160]) {
    char mode[32];
    describeMode(panel, mode);
    char outerText[64];
    char innerText[64];
    describeKnob("outer", outer, weighed != nullptr ? &weighed->outer : nullptr, outerText);
    describeKnob("inner", inner, weighed != nullptr ? &weighed->inner : nullptr, innerText);
    std::snprintf(out, sizeof out, "%s%s%s", mode, outerText, innerText);
}

void describeButton(const PanelState& panel, std::uint32_t mask, char (&out)[160]) {
    char mode[32];
    describeMode(panel, mode);
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (mask == (1U << bit)) {
            // The buttons with a function by their token, the others by their bit.
            if (const ButtonName* name = buttonAtBit(bit); name != nullptr) {
                std::snprintf(out, sizeof out, "%s %s", mode, name->token);
            } else {
                std::snprintf(out, sizeof out, "%s button bit %u", mode, bit);
            }
            return;
        }
    }
    std::snprintf(out, sizeof out, "%s buttons 0x%08lx", mode, static_cast<unsigned long>(mask));
}

namespace {

// Set-values go out as BCD or BCO16 (read in hex) or as signed numbers.
void onEventSent(SIMCONNECT_CLIENT_EVENT_ID event, DWORD data) {
    ++log.events;
    const std::string_view name = event < kClientEvents.size() ? kClientEvents[event].name : std::string_view{};
    char value[24];
    if (event <= clientEventId("NAV2_STBY_SET") || event == clientEventId("XPNDR_SET")) {
        std::snprintf(value, sizeof value, "0x%lX", static_cast<unsigned long>(data));
    } else if (event == clientEventId("AP_ALT_VAR_SET_ENGLISH") || event == clientEventId("AP_VS_VAR_SET_ENGLISH")) {
        std::snprintf(value, sizeof value, "%ld", static_cast<long>(static_cast<std::int32_t>(data)));
    } else {
        std::snprintf(value, sizeof value, "%lu", static_cast<unsigned long>(data));
    }
    if (name.empty()) {
        std::fprintf(stderr, "%s -> event %lu (no simulator event) %s\n", log.action, static_cast<unsigned long>(event),
                     value);
    } else {
        std::fprintf(stderr, "%s -> %.*s %s\n", log.action, static_cast<int>(name.size()), name.data(), value);
    }
}

// A command sent through the MobiFlight channel in place of an event.
void onCommandSent(std::string_view command) {
    ++log.events;
    std::fprintf(stderr, "%s -> %.*s\n", log.action, static_cast<int>(command.size()), command.data());
}

// Forwards every operation to the real interface, naming the action first
// and saying so when it sent nothing.
class LoggingInterface final : public FlightSimInterface {
    using FSI = FlightSimInterface;
    using Sel = std::uint8_t;  // selector
    using Det = std::int8_t;   // detents

public:
    int setupConnection() override { return log.inner->setupConnection(); }
    std::uint8_t getLedState() override { return log.inner->getLedState(); }
    int tuneCom(Sel s, Det o, Det i) override { return knob(&FSI::tuneCom, s, o, i); }
    int tuneNav(Sel s, Det o, Det i) override { return knob(&FSI::tuneNav, s, o, i); }
    int adjustHeadingBug(Sel s, Det o, Det i) override { return knob(&FSI::adjustHeadingBug, s, o, i); }
    int adjustCourse(Sel s, Det o, Det i) override { return knob(&FSI::adjustCourse, s, o, i); }
    int turnFmsKnobs(Sel s, Det o, Det i) override { return knob(&FSI::turnFmsKnobs, s, o, i); }
    int adjustAltitudeAndVerticalSpeed(Sel s, Det o, Det i) override {
        return knob(&FSI::adjustAltitudeAndVerticalSpeed, s, o, i);
    }
    int adjustTransponder(Sel s, Det o, Det i) override { return knob(&FSI::adjustTransponder, s, o, i); }
    int adjustBarometer(Sel s, Det o, Det i) override { return knob(&FSI::adjustBarometer, s, o, i); }
    int pressKey(KeyCommand command) override {
        const std::uint32_t button = command < kKeyButtons.size() ? kKeyButtons[command] : 0;
        log.buttonsUsed |= button;
        describeButton(*log.panel, button, log.action);
        return finish(log.inner->pressKey(command));
    }

private:
    int knob(KnobOperation operation, std::uint8_t selector, std::int8_t outer, std::int8_t inner) {
        describeKnobs(*log.panel, outer, inner, log.weighed, log.action);
        const std::size_t waiting = waitingTurns();
        const int result = (log.inner->*operation)(selector, outer, inner);
        if (waitingTurns() > waiting) {
            std::fprintf(stderr, "%s -> waits for the simulator's value\n", log.action);
            ++log.events;  // said: not "no event"
        }
        return finish(result);
    }
    static std::size_t waitingTurns() { return log.simulator != nullptr ? log.simulator->waitingTurns() : 0; }
    static int finish(int result) {
        if (log.events == 0) {
            std::fprintf(stderr, "%s -> no event\n", log.action);
        }
        log.events = 0;
        return result;
    }
};
constinit LoggingInterface loggingInterface;

}  // namespace

void enableVerboseLog(PanelState& panel, const FlightSimInterfaceMSFS* simulator) {
    if (log.enabled) {
        return;
    }
    log.enabled = true;
    log.panel = &panel;
    log.inner = panel.simInterface;
    log.simulator = simulator;
    panel.simInterface = &loggingInterface;
    sentEventObserver = &onEventSent;
    mobiflight::channel().enableLog(&onCommandSent);
}

void disableVerboseLog(PanelState& panel) {
    if (!log.enabled) {
        return;
    }
    panel.simInterface = log.inner;
    sentEventObserver = nullptr;
    mobiflight::channel().disableLog();
    log = Log{};
}

bool verboseLogEnabled() { return log.enabled; }

void dispatchLogged(PanelState& panel, const WeighedReport& weighed) {
    const bool shiftBefore = panel.shift;
    log.buttonsUsed = 0;
    log.events = 0;
    log.weighed = &weighed;
    const std::uint32_t pressed = panel.dispatchReport(weighed.report);
    log.weighed = nullptr;
    std::uint32_t idle = pressed & ~log.buttonsUsed;
    if (panel.shift != shiftBefore) {
        char spare[16];
        std::fprintf(stderr, "%s KNOB_PUSH -> shift %s\n", modeName(panel.mode, spare), panel.shift ? "on" : "off");
        idle &= ~static_cast<std::uint32_t>(BTN_KNOB_PUSH);
    }
    for (unsigned bit = 0; bit < 32; ++bit) {
        if ((idle & (1U << bit)) != 0) {
            describeButton(panel, 1U << bit, log.action);
            std::fprintf(stderr, "%s -> no function\n", log.action);
        }
    }
}

void logWaitingTurns() {
    if (log.enabled) {
        std::snprintf(log.action, sizeof log.action, "waiting knob turn");
    }
}

void logModeChange(const PanelState& panel) {
    if (!log.enabled) {
        return;
    }
    char spare[16];
    std::fprintf(stderr, "mode %s\n", modeName(panel.mode, spare));
}

void logDroppedReport(const PanelState& panel, const PanelReport& report) {
    if (!log.enabled) {
        return;
    }
    const std::uint32_t pressed = report.buttons & ~panel.previous_report.buttons;
    if (report.outer_delta == 0 && report.inner_delta == 0 && pressed == 0) {
        return;
    }
    char action[160];
    describeKnobs(panel, report.outer_delta, report.inner_delta, nullptr, action);
    std::fprintf(stderr, "%s buttons 0x%08lx -> dropped: no simulator connected\n", action,
                 static_cast<unsigned long>(pressed));
}
