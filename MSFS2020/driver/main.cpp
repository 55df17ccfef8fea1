// Entry point of msfs-panel: library initialisation, stop handlers, and the
// one place that decides the exit status.
#include <csignal>

#include <hidapi.h>

#include "driver/main_loop.h"
#include "simulator/flight_sim_interface_msfs.h"

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

}  // namespace

int main()
{
    installStopHandlers();
    switch (runPanel(panelState, msfsInterface)) {
    case RunOutcome::NoConnection:
        return 0;  // quietly: the simulator is simply not running
    case RunOutcome::Stopped:
        return 0;
    }
    return 0;
}
