#include "driver/main_loop.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "simulator/flight_sim_interface_msfs.h"

HANDLE simConnectHandle = nullptr;
volatile std::sig_atomic_t quitFlag = 0;

namespace {

constexpr auto passInterval = std::chrono::milliseconds(25);

void readPanel(PanelState& panel)
{
    // A panel that was never opened is never read.
    if (panel.device == nullptr) {
        return;
    }
    unsigned char buffer[inputReportSize] = {};
    // Zero means nothing waiting, below zero an error: either way no report.
    const int count = hid_read(panel.device, buffer, sizeof buffer);
    if (count <= 0) {
        return;
    }
    // A short read is not a report and must not replace previous_report.
    const std::optional<PanelReport> report = decodeReport(buffer, static_cast<std::size_t>(count));
    if (report) {
        acceptReport(panel, *report);
    }
}

void updateLeds(PanelState& panel)
{
    if (panel.device == nullptr) {
        return;
    }
    const std::uint8_t leds = panel.simInterface->getLedState();
    if (leds == panel.led_state) {
        return;
    }
    const LedReport report = makeLedReport(leds);
    hid_write(panel.device, report.data(), report.size());
    // Not retried on failure: the next write comes with the next change.
    panel.led_state = leds;
}

}  // namespace

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

void runPass(PanelState& panel, HANDLE connection)
{
    SimConnect_CallDispatch(connection, onSimConnectMessage, nullptr);
    readPanel(panel);
    updateLeds(panel);
}

RunOutcome runPanel(PanelState& panel, FlightSimInterfaceMSFS& simulator)
{
    panel.device = hid_open(panelVendorId, panelProductId, nullptr);
    if (panel.device != nullptr) {
        hid_set_nonblocking(panel.device, 1);
    }
    if (SimConnect_Open(&simConnectHandle, "Request Data", nullptr, 0, nullptr, 0) < 0) {
        return RunOutcome::NoConnection;
    }
    simulator.connection = &simConnectHandle;
    panel.simInterface->setupConnection();
    std::fputs("Connected to MSFS2020\n", stdout);
    // Whoever reads our output through a pipe sees the line at once.
    std::fflush(stdout);
    SimConnect_CallDispatch(simConnectHandle, onSimConnectMessage, nullptr);

    while (quitFlag == 0) {
        runPass(panel, simConnectHandle);
        std::this_thread::sleep_for(passInterval);
    }
    SimConnect_Close(simConnectHandle);
    return RunOutcome::Stopped;
}
