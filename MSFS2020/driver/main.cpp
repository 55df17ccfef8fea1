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
// Set once runPanel has returned: the panel and the connection are closed.
HANDLE loopEnded = nullptr;

// Windows runs this on a thread of its own. Ctrl+C and Ctrl+Break only ask
// the loop to stop. Closing the console window (or logging off, shutting
// down) ends the process as soon as this returns, so then it also waits for
// the loop to finish its clean-up, within the ~5 s Windows grants.
BOOL WINAPI onConsoleControl(DWORD event)
{
    quitFlag = 1;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (loopEnded != nullptr) {
            WaitForSingleObject(loopEnded, 4000);
        }
    }
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
    loopEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
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

// Lets a console handler that is waiting for the clean-up return.
void reportLoopEnded()
{
#if defined(_WIN32)
    if (loopEnded != nullptr) {
        SetEvent(loopEnded);
    }
#endif
}

}  // namespace

int main()
{
    installStopHandlers();
    const RunOutcome outcome = runPanel(panelState, msfsInterface);
    reportLoopEnded();
    // Standard output keeps its one line; failures go to standard error, so
    // that a missing simulator is not mistaken for a working program.
    switch (outcome) {
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
