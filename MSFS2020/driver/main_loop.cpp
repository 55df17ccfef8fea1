#include "driver/main_loop.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "simulator/flight_sim_interface_msfs.h"

HANDLE simConnectHandle = nullptr;
std::atomic<std::int32_t> quitFlag{0};

namespace {

constexpr auto passInterval = std::chrono::milliseconds(25);

// A read error means the panel is gone (unplugged): close it and look for it
// again.
void losePanel(PanelState& panel)
{
    hid_close(panel.device);
    panel.device = nullptr;
    panel.passes_until_open = panelRetryPasses;
}

void writeLeds(PanelState& panel, std::uint8_t leds)
{
    const LedReport report = makeLedReport(leds);
    // Not retried on failure: the next write comes with the next change (or
    // the next open). Nor is the panel closed: one that refuses the LED report
    // must still be read, and an unplugged one fails its next read anyway.
    hid_write(panel.device, report.data(), report.size());
    panel.led_state = leds;
}

void readPanel(PanelState& panel)
{
    // Everything that is waiting, in order: one report per pass would cap the
    // panel at 40 reports a second and let the operating system's queue fill
    // up and drop reports (and their detents) while a knob spins.
    for (int i = 0; i < maxReportsPerPass && panel.device != nullptr; ++i) {
        unsigned char buffer[inputReportSize] = {};
        const int count = hid_read(panel.device, buffer, sizeof buffer);
        if (count < 0) {
            losePanel(panel);
            return;
        }
        if (count == 0) {
            return;
        }
        // A short read is not a report and must not replace previous_report.
        const std::optional<PanelReport> report = decodeReport(buffer, static_cast<std::size_t>(count));
        if (report) {
            acceptReport(panel, *report);
        }
    }
}

void updateLeds(PanelState& panel)
{
    if (panel.device == nullptr) {
        return;
    }
    const std::uint8_t leds = panel.simInterface->getLedState();
    if (leds != panel.led_state) {
        writeLeds(panel, leds);
    }
}

void lookForPanel(PanelState& panel)
{
    if (panel.device != nullptr) {
        return;
    }
    if (--panel.passes_until_open > 0) {
        return;
    }
    panel.passes_until_open = panelRetryPasses;
    openPanel(panel);
}

// At a clean exit the panel is left dark rather than showing a state that no
// longer holds.
void closePanel(PanelState& panel)
{
    if (panel.device == nullptr) {
        return;
    }
    writeLeds(panel, 0);
    hid_close(panel.device);
    panel.device = nullptr;
}

}  // namespace

void openPanel(PanelState& panel)
{
    panel.device = hid_open(panelVendorId, panelProductId, nullptr);
    if (panel.device == nullptr) {
        return;
    }
    hid_set_nonblocking(panel.device, 1);
    writeLeds(panel, panel.simInterface->getLedState());
}

void acceptReport(PanelState& panel, const PanelReport& report)
{
    // Every mode is entered with shift clear, before the dispatcher sees
    // the report (whose knob push may set it again).
    if (report.mode != panel.mode) {
        panel.shift = false;
        panel.mode = report.mode;
    }
    panel.dispatchReport(report);
    panel.previous_report = report;
}

bool runPass(PanelState& panel, HANDLE connection)
{
    const HRESULT dispatched = SimConnect_CallDispatch(connection, onSimConnectMessage, nullptr);
    // A QUIT record delivered just before the link closed is a normal end.
    if (dispatched < 0 && quitFlag == 0) {
        return false;
    }
    lookForPanel(panel);
    readPanel(panel);
    updateLeds(panel);
    return true;
}

RunOutcome runPanel(PanelState& panel, FlightSimInterfaceMSFS& simulator)
{
    openPanel(panel);
    panel.passes_until_open = panelRetryPasses;
    if (SimConnect_Open(&simConnectHandle, "Request Data", nullptr, 0, nullptr, 0) < 0) {
        return RunOutcome::NoConnection;
    }
    simulator.connection = &simConnectHandle;
    panel.simInterface->setupConnection();
    std::fputs("Connected to MSFS2020\n", stdout);
    // Whoever reads our output through a pipe sees the line at once.
    std::fflush(stdout);
    SimConnect_CallDispatch(simConnectHandle, onSimConnectMessage, nullptr);

    RunOutcome outcome = RunOutcome::Stopped;
    while (quitFlag == 0) {
        if (!runPass(panel, simConnectHandle)) {
            outcome = RunOutcome::LinkLost;
            break;
        }
        std::this_thread::sleep_for(passInterval);
    }
    closePanel(panel);
    SimConnect_Close(simConnectHandle);
    return outcome;
}
