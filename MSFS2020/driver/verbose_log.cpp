#include "driver/verbose_log.h"

#include <array>
#include <cstdio>

#include "mobiflight/channel.h"
#include "simconnect/send_event.h"
#include "simulator/client_events.h"

namespace {

// The buttons with a function, by bit; the others are named by their bit.
constexpr std::array<const char*, 32> kButtonNames{
    nullptr, nullptr, nullptr, nullptr,  "DIRECT_TO", "MENU",    "CLR",     "ENT",      "SWAP",    "KNOB_PUSH", nullptr,
    nullptr, nullptr, nullptr, "AP_CDI", "HDG_OBS",   "NAV_MSG", "APR_FPL", "ALT_VNAV", "VS_PROC", nullptr,     nullptr,
    nullptr, nullptr, nullptr, nullptr,  nullptr,     nullptr,   nullptr,   nullptr,    nullptr,   nullptr,
};

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
    char action[96] = "";
    int events = 0;                 // sent under the current action
    std::uint32_t buttonsUsed = 0;  // buttons of this report that reached pressKey
};
constinit Log log;

const char* modeName(std::uint8_t mode, char (&spare)[16]) {
    if (mode < kModeNames.size()) {
        return kModeNames[mode];
    }
    std::snprintf(spare, sizeof spare, "mode %u", static_cast<unsigned>(mode));
    return spare;
}

// "NAV1", "COM1 shift": what the knobs and buttons mean now.
void describeMode(const PanelState& panel, char (&out)[32]) {
    char spare[16];
    std::snprintf(out, sizeof out, "%s%s", modeName(panel.mode, spare), panel.shift ? " shift" : "");
}

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
        describeKnobs(*log.panel, outer, inner, log.action);
        return finish((log.inner->*operation)(selector, outer, inner));
    }
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

void describeKnobs(const PanelState& panel, std::int8_t outer, std::int8_t inner, char (&out)[96]) {
    char mode[32];
    describeMode(panel, mode);
    char outerText[16] = "";
    char innerText[16] = "";
    if (outer != 0) {
        std::snprintf(outerText, sizeof outerText, " outer %+d", outer);
    }
    if (inner != 0) {
        std::snprintf(innerText, sizeof innerText, " inner %+d", inner);
    }
    std::snprintf(out, sizeof out, "%s%s%s", mode, outerText, innerText);
}

void describeButton(const PanelState& panel, std::uint32_t mask, char (&out)[96]) {
    char mode[32];
    describeMode(panel, mode);
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (mask == (1U << bit)) {
            if (kButtonNames[bit] != nullptr) {
                std::snprintf(out, sizeof out, "%s %s", mode, kButtonNames[bit]);
            } else {
                std::snprintf(out, sizeof out, "%s button bit %u", mode, bit);
            }
            return;
        }
    }
    std::snprintf(out, sizeof out, "%s buttons 0x%08lx", mode, static_cast<unsigned long>(mask));
}

void enableVerboseLog(PanelState& panel) {
    if (log.enabled) {
        return;
    }
    log.enabled = true;
    log.panel = &panel;
    log.inner = panel.simInterface;
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

void dispatchLogged(PanelState& panel, const PanelReport& report) {
    const bool shiftBefore = panel.shift;
    log.buttonsUsed = 0;
    log.events = 0;
    const std::uint32_t pressed = panel.dispatchReport(report);
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
    char action[96];
    describeKnobs(panel, report.outer_delta, report.inner_delta, action);
    std::fprintf(stderr, "%s buttons 0x%08lx -> dropped: no simulator connected\n", action,
                 static_cast<unsigned long>(pressed));
}
