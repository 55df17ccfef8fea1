#include "driver/main_loop.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "driver/link_health.h"
#include "acceleration/panel_acceleration.h"
#include "driver/verbose_log.h"
#include "mobiflight/channel.h"
#include "profiles/profile_layer.h"
#include "simulator/flight_sim_interface_msfs.h"

HANDLE simConnectHandle = nullptr;
std::atomic<std::int32_t> quitFlag{0};

namespace {

using Clock = std::chrono::steady_clock;

enum class SessionEnd { Stopped, SimulatorQuit, LinkLost };

bool stopRequested() { return quitFlag != 0; }

void handleRead(PanelState& panel, const unsigned char* buffer, int count) {
    // A short read is not a report and must not replace previous_report.
    const std::optional<PanelReport> report = decodeReport(buffer, static_cast<std::size_t>(count));
    if (report) {
        acceptReport(panel, *report);
    }
}

void readPanel(PanelState& panel) {
    // Everything that is waiting, in order: what arrived while SimConnect was
    // being served.
    for (int i = 0; i < kMaxReportsPerPass && panel.device != nullptr; ++i) {
        unsigned char buffer[kInputReportSize] = {};
        const int count = hid_read(panel.device, buffer, sizeof buffer);
        if (count < 0) {
            losePanel(panel);
            return;
        }
        if (count == 0) {
            return;
        }
        handleRead(panel, buffer, count);
    }
}

// Runs idle passes for `duration`: the panel is served while no simulator is.
void idleFor(PanelState& panel, Clock::duration duration) {
    const Clock::time_point end = Clock::now() + duration;
    while (!stopRequested() && Clock::now() < end) {
        const Clock::time_point next = std::min(Clock::now() + kPassInterval, end);
        runIdlePass(panel);
        waitForPanel(panel, next);
    }
}

// Opens the connection and sets it up; false when no simulator answered.
bool connect(PanelState& panel, FlightSimInterfaceMSFS& simulator) {
    if (SimConnect_Open(&simConnectHandle, "Request Data", nullptr, 0, nullptr, 0) < 0) {
        simConnectHandle = nullptr;
        return false;
    }
    simulator.connection = &simConnectHandle;
    // A turn made before this connection does not speed up the first detent
    // of this one.
    panelAcceleration.reset();
    panel.simInterface->setupConnection();
    profiles::profileLayer.connection = &simConnectHandle;
    profiles::profileLayer.onConnected();
    std::fputs("Connected to MSFS2020\n", stdout);
    // Whoever reads our output through a pipe sees the line at once.
    std::fflush(stdout);
    panel.linked = true;
    SimConnect_CallDispatch(simConnectHandle, onSimConnectMessage, nullptr);
    return true;
}

SessionEnd runSession(PanelState& panel) {
    SilenceWatch silence;
    silence.start(msfsInterface.records_received, Clock::now());
    while (!stopRequested()) {
        // The pace is set from the start of the pass: the wait takes what the
        // pass's own work has left of it.
        const Clock::time_point next = Clock::now() + kPassInterval;
        switch (runPass(panel, simConnectHandle)) {
        case PassResult::Running: break;
        case PassResult::SimulatorQuit: return SessionEnd::SimulatorQuit;
        case PassResult::LinkLost: return SessionEnd::LinkLost;
        }
        silence.check(msfsInterface.records_received, Clock::now());
        waitForPanel(panel, next);
    }
    return SessionEnd::Stopped;
}

const char* lastError(const RunOptions& options) {
    return options.last_error != nullptr ? options.last_error() : "no detail";
}

// How the connection ended, in one clause.
const char* endOf(SessionEnd end, const RunOptions& options) {
    if (end == SessionEnd::SimulatorQuit) {
        return "the simulator quit";
    }
    return options.link_lost != nullptr ? options.link_lost() : "connection to the simulator lost";
}

// After a connection ended with --keep-running: what the program knew of
// the simulator no longer holds.
void disconnect(PanelState& panel, FlightSimInterfaceMSFS& simulator) {
    simulator.forgetSimulator();
    panel.linked = false;
    updateLeds(panel);  // dark: nothing is known to be engaged
}

// The built-in mapping, logged with --verbose. With --accelerate, the knobs
// that step a value count their detents' weights instead of their detents.
void dispatchBuiltIn(PanelState& panel, const PanelReport& report) {
    const WeighedReport weighed = panelAcceleration.weigh(panel, report);
    if (verboseLogEnabled()) {
        dispatchLogged(panel, weighed);
    } else {
        panel.dispatchReport(weighed.report);
    }
}

}  // namespace

void acceptReport(PanelState& panel, const PanelReport& report) {
    // Every mode is entered with shift clear, before the dispatcher sees
    // the report (whose knob push may set it again).
    if (report.mode != panel.mode) {
        panel.shift = false;
        panel.mode = report.mode;
        // Nor does a knob carry its speed into the new mode.
        panelAcceleration.reset();
        logModeChange(panel);
    }
    if (!panel.linked) {
        logDroppedReport(panel, report);
    } else {
        // A profile answers for the controls it names, the rest go on.
        profiles::profileLayer.dispatch(panel, report, &dispatchBuiltIn);
    }
    panel.previous_report = report;
}

PassResult runPass(PanelState& panel, HANDLE connection) {
    const HRESULT dispatched = SimConnect_CallDispatch(connection, onSimConnectMessage, nullptr);
    // A QUIT record delivered just before the link closed is a normal end.
    if (msfsInterface.quit_received) {
        return PassResult::SimulatorQuit;
    }
    if (dispatched < 0) {
        return PassResult::LinkLost;
    }
    // Before this pass's reports, which come after them.
    if (msfsInterface.waitingTurns() > 0) {
        logWaitingTurns();
        msfsInterface.serveWaitingTurns();
    }
    mobiflight::channel().poll();
    runIdlePass(panel);
    return PassResult::Running;
}

void runIdlePass(PanelState& panel) {
    lookForPanel(panel);
    readPanel(panel);
    updateLeds(panel);
}

void waitForPanel(PanelState& panel, Clock::time_point until) {
    while (!stopRequested()) {
        const Clock::time_point now = Clock::now();
        if (now >= until) {
            return;
        }
        if (panel.device == nullptr) {
            std::this_thread::sleep_for(until - now);
            return;
        }
        // hidapi waits in whole milliseconds: round up rather than spin.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        unsigned char buffer[kInputReportSize] = {};
        const int count = hid_read_timeout(panel.device, buffer, sizeof buffer, static_cast<int>(left.count()));
        if (count < 0) {
            // hidapi also reports a wait cut short by a signal as an error;
            // after Ctrl+C the panel is still there, and gets its LEDs off.
            if (stopRequested()) {
                return;
            }
            losePanel(panel);
        } else if (count > 0) {
            handleRead(panel, buffer, count);
        }
    }
}

RunOutcome runPanel(PanelState& panel, FlightSimInterfaceMSFS& simulator, const RunOptions& options) {
    panelAcceleration.enabled = options.accelerate;
    if (options.verbose) {
        enableVerboseLog(panel, &simulator);
        simulator.report_every_exception = true;
    }
    panel.linked = false;
    openPanel(panel);
    RunOutcome outcome = RunOutcome::Stopped;
    Backoff backoff;
    EndNotices ends;
    bool waitingSaid = false;
    while (!stopRequested()) {
        if (!connect(panel, simulator)) {
            if (stopRequested()) {
                break;
            }
            if (!options.keep_running) {
                outcome = RunOutcome::NoConnection;
                break;
            }
            if (!waitingSaid) {
                std::fprintf(stderr, "msfs-panel: waiting for the simulator (%s); trying again every few seconds\n",
                             lastError(options));
                waitingSaid = true;
            }
            idleFor(panel, backoff.next());
            continue;
        }
        waitingSaid = false;
        const Clock::time_point began = Clock::now();
        const SessionEnd end = runSession(panel);
        SimConnect_Close(simConnectHandle);
        simConnectHandle = nullptr;
        simulator.sayRepeatedExceptions();
        profiles::profileLayer.onDisconnected();
        if (end == SessionEnd::Stopped) {
            break;
        }
        // A connection that ends at once (a server that answers and hangs
        // up) is retried as patiently as one that failed, not at once.
        const bool brief = Clock::now() - began < kBriefConnection;
        ends.ended(endOf(end, options), brief && options.keep_running);
        if (!options.keep_running) {
            outcome = end == SessionEnd::LinkLost ? RunOutcome::LinkLost : RunOutcome::Stopped;
            break;
        }
        disconnect(panel, simulator);
        if (brief) {
            idleFor(panel, backoff.next());
        } else {
            backoff.reset();
        }
    }
    closePanel(panel);
    return outcome;
}
