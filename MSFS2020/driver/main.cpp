// Entry point of msfs-panel: library initialisation, the command line, stop
// handlers, and the one place that decides the exit status.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <hidapi.h>

#include "acceleration/knob_acceleration.h"
#include "driver/main_loop.h"
#include "profiles/profile_options.h"
#include "simulator/flight_sim_interface_msfs.h"

#if defined(MSFS_PANEL_NET_CLIENT)
#include <simconnect_net.h>
#endif

namespace {

// hidapi is initialised once, before main runs; its result is not needed
// (hid_open fails later if initialisation did).
[[maybe_unused]] const int kHidInitialised = hid_init();

#if defined(_WIN32)
// Set once runPanel has returned: the panel and the connection are closed.
HANDLE loopEnded = nullptr;

// Windows runs this on a thread of its own. Ctrl+C and Ctrl+Break only ask
// the loop to stop. Closing the console window (or logging off, shutting
// down) ends the process as soon as this returns, so then it also waits for
// the loop to finish its clean-up, within the ~5 s Windows grants.
BOOL WINAPI onConsoleControl(DWORD event) {
    quitFlag = 1;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (loopEnded != nullptr) {
            WaitForSingleObject(loopEnded, 4000);
        }
    }
    return TRUE;
}
#else
extern "C" void onStopSignal(int /*signal*/) { quitFlag = 1; }
#endif

void installStopHandlers() {
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
const char* simConnectFailure() {
#if defined(MSFS_PANEL_NET_CLIENT)
    return SimConnectNet_LastError();
#else
    return "the simulator on this computer (is MSFS running?)";
#endif
}

const std::string kUsage = std::string("usage: msfs-panel [--keep-running] [--verbose] [--accelerate]\n") +
                           profiles::kUsageLines + "       msfs-panel --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Connects the USB cockpit panel (04d8:e6d6) to Microsoft Flight Simulator 2020\n"
    "through SimConnect. Prints \"Connected to MSFS2020\" once the simulator has\n"
    "answered, then runs until Ctrl+C, SIGTERM or the simulator's exit. The\n"
    "simulator's address comes from SimConnect.cfg, else 127.0.0.1 port 500 (see\n"
    "the README).\n"
    "\n"
    "  --keep-running  wait for the simulator, and wait again whenever it quits or\n"
    "                  the link is lost, instead of ending; only Ctrl+C, SIGTERM or\n"
    "                  closing the console ends it (status 0)\n"
    "  --verbose       one line on standard error for each panel action and each\n"
    "                  event it sends, e.g. \"NAV1 outer +1 -> NAV1_STBY_SET 0x11445\"\n"
    "  --accelerate    knob acceleration for the heading bug, courses, autopilot\n"
    "                  altitude and vertical speed: the first 3 detents of a run\n"
    "                  (one direction, < 300 ms apart) move 1 step each, then\n"
    "                  each detent < 150 ms after the last weighs 1 more, up to\n"
    "                  10 steps; slower ones halve it. Leave it off for aircraft\n"
    "                  that accelerate their knobs themselves (FBW, PMDG, CRJ)\n"
    "%s"
    "  --help          this text\n"
    "  --version       the version\n"
    "\n"
    "Exit status: 0 when stopped or when the simulator quits; 1 when no simulator\n"
    "answers or the link is lost; 2 for a bad argument.\n";

// The --accelerate text gives the rule's figures.
static_assert(kPlainDetents == 3 && kRunGap.count() == 300 && kFastGap.count() == 150 && kMaxWeight == 10,
              "update --accelerate in kHelp (and docs/controls.md)");

enum class Command { Run, Help, Version, BadArgument };

Command parseArguments(int argc, char** argv, RunOptions& options, profiles::Options& profileOptions) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--keep-running") == 0) {
            options.keep_running = true;
        } else if (std::strcmp(arg, "--verbose") == 0) {
            options.verbose = true;
        } else if (std::strcmp(arg, "--accelerate") == 0) {
            options.accelerate = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            return Command::Help;
        } else if (std::strcmp(arg, "--version") == 0) {
            return Command::Version;
        } else if (const profiles::Taken taken = profiles::takeArgument(argc, argv, i, profileOptions);
                   taken != profiles::Taken::No) {
            if (taken == profiles::Taken::Bad) {
                std::fputs(kUsage.c_str(), stderr);
                return Command::BadArgument;
            }
        } else {
            // Only the start of an argument is quoted: it may be anything.
            std::fprintf(stderr, "msfs-panel: unknown argument \"%.40s\"\n%s", arg, kUsage.c_str());
            return Command::BadArgument;
        }
    }
    return Command::Run;
}

#if defined(MSFS_PANEL_NET_CLIENT)
// Our client asks this while it connects and waits for the simulator's
// answer, so that Ctrl+C is honoured within a tenth of a second there too.
extern "C" int stopWasRequested(void) { return quitFlag != 0 ? 1 : 0; }
#endif

// Lets a console handler that is waiting for the clean-up return.
void reportLoopEnded() {
#if defined(_WIN32)
    if (loopEnded != nullptr) {
        SetEvent(loopEnded);
    }
#endif
}

}  // namespace

int main(int argc, char** argv) {
    RunOptions options;
    profiles::Options profileOptions;
    switch (parseArguments(argc, argv, options, profileOptions)) {
    case Command::Run: break;
    case Command::Help:
        std::fputs(kUsage.c_str(), stdout);
        std::printf(kHelp, profiles::kHelpLines);
        return 0;
    case Command::Version: std::printf("msfs-panel %s\n", MSFS_PANEL_VERSION); return 0;
    case Command::BadArgument: return 2;
    }
    if (const std::optional<int> status = profiles::prepareProfiles(profileOptions, options.verbose)) {
        return *status;
    }
    options.last_error = &simConnectFailure;
    installStopHandlers();
#if defined(MSFS_PANEL_NET_CLIENT)
    SimConnectNet_SetCancelCheck(&stopWasRequested);
#endif
    const RunOutcome outcome = runPanel(panelState, msfsInterface, options);
    reportLoopEnded();
    // Standard output keeps its one line; failures go to standard error, so
    // that a missing simulator is not mistaken for a working program.
    switch (outcome) {
    case RunOutcome::NoConnection:
        std::fprintf(stderr, "msfs-panel: cannot connect to the simulator: %s\n", simConnectFailure());
        return 1;
    case RunOutcome::LinkLost: return 1;  // said when it happened
    case RunOutcome::Stopped: return 0;
    }
    return 0;
}
