#include "panel_check/panel_check.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>

#include "driver/control_names.h"
#include "driver/main_loop.h"
#include "driver/panel_device.h"
#include "driver/panel_report.h"
#include "driver/panel_state.h"

namespace {

using Clock = std::chrono::steady_clock;

// Long enough to see which LED is lit, short enough that a whole round
// (six LEDs, then all) takes a few seconds.
constexpr std::chrono::milliseconds kLedStep{500};
constexpr std::array<std::uint8_t, 7> kLedSteps{0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x3F};

// Stands where the simulator's interface stands in a normal run: the panel
// code asks it which LEDs to light, and it answers with the current step.
// Nothing is ever sent.
class LedRound final : public FlightSimInterface {
public:
    int setupConnection() override { return 0; }
    int tuneCom(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int tuneNav(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int adjustHeadingBug(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int adjustCourse(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int turnFmsKnobs(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int adjustAltitudeAndVerticalSpeed(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int adjustTransponder(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int adjustBarometer(std::uint8_t, std::int8_t, std::int8_t) override { return 0; }
    int pressKey(KeyCommand) override { return 0; }
    std::uint8_t getLedState() override { return kLedSteps[step]; }

    std::size_t step = 0;
};

class Check {
public:
    explicit Check(std::FILE* out) : out_(out) {
        panel_.simInterface = &leds_;
        panel_.linked = false;
    }

    int run() {
        std::fputs(
            "msfs-panel: panel check: turn the knobs, press the buttons, move the selector; the LEDs light one by one "
            "(AP, HDG, NAV, APR, ALT, VS, then all). Ctrl+C ends it.\n",
            stderr);
        openPanel(panel_);
        const Clock::time_point start = Clock::now();
        while (quitFlag == 0) {
            const Clock::time_point next = Clock::now() + kPassInterval;
            lookForPanel(panel_);
            stepLeds((Clock::now() - start) / kLedStep);
            readUntil(next);
        }
        closePanel(panel_);
        return 0;
    }

private:
    // Each line is out at once, also through a pipe.
    void flush() { std::fflush(out_); }

    void stepLeds(long long elapsedSteps) {
        leds_.step = static_cast<std::size_t>(elapsedSteps % static_cast<long long>(kLedSteps.size()));
        if (panel_.device == nullptr) {
            return;
        }
        updateLeds(panel_);
        if (shownStep_ != leds_.step) {
            shownStep_ = leds_.step;
            if (leds_.step < kLedNames.size()) {
                std::fprintf(out_, "LED %s on\n", kLedNames[leds_.step]);
            } else {
                std::fputs("LEDs all on\n", out_);
            }
            flush();
        }
    }

    // Reads and reports until `until`; waits on the clock while no panel is open.
    void readUntil(Clock::time_point until) {
        while (quitFlag == 0) {
            const Clock::time_point now = Clock::now();
            if (now >= until) {
                return;
            }
            if (panel_.device == nullptr) {
                std::this_thread::sleep_for(until - now);
                return;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
            unsigned char buffer[kInputReportSize] = {};
            const int count = hid_read_timeout(panel_.device, buffer, sizeof buffer, static_cast<int>(left.count()));
            if (count < 0) {
                // A wait cut short by Ctrl+C reads as an error too.
                if (quitFlag != 0) {
                    return;
                }
                losePanel(panel_);
                // When it is back, its state is reported afresh.
                previous_.reset();
                shownStep_.reset();
                return;
            }
            if (count > 0) {
                report(buffer, count);
            }
        }
    }

    void report(const unsigned char* buffer, int count) {
        const std::optional<PanelReport> decoded = decodeReport(buffer, static_cast<std::size_t>(count));
        if (!decoded) {
            std::fprintf(out_, "report of %d bytes ignored: a report has %d\n", count,
                         static_cast<int>(kInputReportSize));
            flush();
            return;
        }
        const PanelReport& now = *decoded;
        const PanelReport before = previous_.value_or(PanelReport{});
        if (!previous_ || now.mode != before.mode) {
            char spare[16];
            std::fprintf(out_, "mode %s\n", modeName(now.mode, spare));
        }
        knob("outer", now.outer_delta, outerTotal_);
        knob("inner", now.inner_delta, innerTotal_);
        const std::uint32_t changed = now.buttons ^ before.buttons;
        for (unsigned bit = 0; bit < 32; ++bit) {
            if ((changed & (1U << bit)) == 0) {
                continue;
            }
            const char* what = (now.buttons & (1U << bit)) != 0 ? "pressed" : "released";
            if (const ButtonName* name = buttonAtBit(bit); name != nullptr) {
                std::fprintf(out_, "%s %s\n", name->legend, what);
            } else {
                std::fprintf(out_, "button bit %u %s\n", bit, what);
            }
        }
        previous_ = now;
        flush();
    }

    // The report's detents and the sum since the start, so that a builder can
    // count the detents of one turn.
    void knob(const char* name, std::int8_t detents, long& total) {
        if (detents == 0) {
            return;
        }
        total += detents;
        std::fprintf(out_, "%s %+d (total %+ld)\n", name, detents, total);
    }

    std::FILE* out_;
    LedRound leds_;
    PanelState panel_;
    std::optional<PanelReport> previous_;  // none until the first report of an open panel
    std::optional<std::size_t> shownStep_;
    long outerTotal_ = 0;
    long innerTotal_ = 0;
};

}  // namespace

int runPanelCheck(std::FILE* out) { return Check(out).run(); }
