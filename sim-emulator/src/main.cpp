// sim-emulator: an emulated MSFS 2020 SimConnect server for tests and demos.
#include "display.h"
#include "json.h"
#include "options.h"
#include "output.h"
#include "server.h"
#include "simulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int g_stop_pipe[2] = {-1, -1};
// SIGUSR1: load the next aircraft. A byte per signal, so that none is lost
// while the server is busy (a full pipe drops further ones, harmlessly).
int g_aircraft_pipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe[1], &byte, 1);
    errno = saved;
}

extern "C" void onAircraftSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_aircraft_pipe[1], &byte, 1);
    errno = saved;
}

bool installSignals(std::string& error) {
    if (::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(g_aircraft_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = onAircraftSignal;
    ::sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    simemu::Options options;
    if (const auto error = simemu::parseOptions(args, options)) {
        std::fprintf(stderr, "sim-emulator: %s\nTry 'sim-emulator --help'.\n", error->c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(simemu::helpText().c_str(), stdout);
        return 0;
    }

    simemu::Simulator sim(options.event_delay_frames);
    for (const auto& s : options.settings) {
        // Checked while parsing, the number of named ones included.
        if (s.var != simemu::Var::Count) {
            sim.model().set(s.var, s.value);
        } else if (const auto id = sim.named().define(s.kind, s.name)) {
            sim.named().set(*id, s.value);
        }
    }
    for (const auto& l : options.limits) {
        sim.model().limit(l);
    }
    sim.setAircraft(options.aircraft);
    sim.inputEvents() = simemu::InputEvents(options.input_events);

    std::FILE* trace_file = nullptr;
    if (!options.trace_path.empty()) {
        trace_file = std::fopen(options.trace_path.c_str(), "w");
        if (!trace_file) {
            std::fprintf(stderr, "sim-emulator: --trace(%s): %s\n", options.trace_path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    simemu::Output trace(trace_file, "--trace(" + options.trace_path + ")", true);
    std::string error;
    if (!installSignals(error)) {
        std::fprintf(stderr, "sim-emulator: %s\n", error.c_str());
        return 1;
    }

    simemu::Output out(stdout, "standard output", false);
    simemu::Display display(out, ::isatty(STDOUT_FILENO) == 1, options.quiet);
    {
        simemu::Server server(options, sim, display, trace_file ? &trace : nullptr);
        if (const auto failure = server.listen()) {
            std::fprintf(stderr, "sim-emulator: %s\n", failure->c_str());
            return 1;
        }
        if (!options.port_file.empty()) {
            if (const auto failure =
                    simemu::writeFileAtomically(options.port_file, std::to_string(server.port()) + "\n")) {
                std::fprintf(stderr, "sim-emulator: --port-file(%s): %s\n", options.port_file.c_str(),
                             failure->c_str());
                return 1;
            }
        }
        if (!options.quiet) {
            std::fprintf(stderr, "sim-emulator: listening on %s:%u\n", options.bind.c_str(), server.port());
            if (options.sim == 2024 || options.mobiflight) {
                std::fprintf(stderr, "sim-emulator: answering as MSFS %u%s%s\n", options.sim,
                             options.mobiflight ? ", with a model of the MobiFlight WASM module " : "",
                             options.mobiflight ? options.mobiflight->c_str() : "");
            }
        }
        server.run(g_stop_pipe[0], g_aircraft_pipe[0]);
        server.shutdown();
    }
    // Events that arrived but whose frame never came still count.
    for (const auto& applied : sim.flush()) {
        display.applied(applied, false);
    }
    display.finish();
    bool ok = trace.close();
    if (!options.state_out_path.empty()) {
        if (const auto failure = simemu::writeFileAtomically(options.state_out_path, simemu::stateJson(sim))) {
            std::fprintf(stderr, "sim-emulator: --state-out(%s): %s\n", options.state_out_path.c_str(),
                         failure->c_str());
            ok = false;
        }
    }
    ok = out.close() && ok;
    return ok ? 0 : 1;
}
