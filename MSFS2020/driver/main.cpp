// Entry point of msfs-panel: library initialisation, stop handlers, and the
// one place that decides the exit status.
#include <csignal>
#include <cstdio>

#include <hidapi.h>

#include "driver/main_loop.h"
#include "simulator/flight_sim_interface_msfs.h"

#if defined(MSFS_PANEL_NET_CLIENT)
#include <simconnect_net.h>
#endif

namespace {

// hidapi is initialised once, before main runs; its result is not needed
// (hid_open fails later if initialisation did).
[[maybe_unused]] const int hidInitialised = hid_init();

#if defined(_WIN32)
BOOL WINAPI onConsoleControl(DWORD /*event*/)
{
    quitFlag = 1;
    return TRUE;
}
#else
extern "C" void onStopSignal(int /*signal*/)
{
    quitFlag = 1;
}
#endif

void installStopHandlers()
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#endif
}

// What the SimConnect library knows of the failure: our network client names
// the address it tried; the SDK's library only has its local simulator.
const char* simConnectFailure()
{
#if defined(MSFS_PANEL_NET_CLIENT)
    return SimConnectNet_LastError();
#else
    return "the simulator on this computer (is MSFS running?)";
#endif
}

}  // namespace

int main()
{
    installStopHandlers();
    // Standard output keeps its one line; failures go to standard error, so
    // that a missing simulator is not mistaken for a working program.
    switch (runPanel(panelState, msfsInterface)) {
    case RunOutcome::NoConnection:
        std::fprintf(stderr, "msfs-panel: cannot connect to the simulator: %s\n", simConnectFailure());
        return 1;
    case RunOutcome::LinkLost:
        std::fprintf(stderr, "msfs-panel: connection to the simulator lost: %s\n", simConnectFailure());
        return 1;
    case RunOutcome::Stopped:
        return 0;
    }
    return 0;
}
