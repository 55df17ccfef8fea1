// sim-emulator: an emulated MSFS 2020 SimConnect server for tests and demos.
#include "display.h"
#include "json.h"
#include "options.h"
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

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe[1], &byte, 1);
    errno = saved;
}

bool installSignals(std::string& error) {
    if (::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Written under a temporary name and renamed, so a test polling for the
// file never reads it half-written.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    const bool ok = std::fputs(text.c_str(), f) >= 0;
    if (std::fclose(f) != 0 || !ok) {
        error = "write failed";
        return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
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
        sim.model().set(s.var, s.value);  // checked while parsing
    }

    std::FILE* trace = nullptr;
    if (!options.trace_path.empty()) {
        trace = std::fopen(options.trace_path.c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "sim-emulator: --trace(%s): %s\n", options.trace_path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::string error;
    if (!installSignals(error)) {
        std::fprintf(stderr, "sim-emulator: %s\n", error.c_str());
        return 1;
    }

    simemu::Display display(stdout, ::isatty(STDOUT_FILENO) == 1, options.quiet);
    int status = 0;
    {
        simemu::Server server(options, sim, display, trace);
        if (const auto failure = server.listen()) {
            std::fprintf(stderr, "sim-emulator: %s\n", failure->c_str());
            return 1;
        }
        if (!options.port_file.empty() &&
            !writeFileAtomically(options.port_file, std::to_string(server.port()) + "\n", error)) {
            std::fprintf(stderr, "sim-emulator: --port-file(%s): %s\n", options.port_file.c_str(), error.c_str());
            return 1;
        }
        if (!options.quiet) {
            std::fprintf(stderr, "sim-emulator: listening on %s:%u\n", options.bind.c_str(), server.port());
        }
        server.run(g_stop_pipe[0]);
        server.shutdown();
    }
    // Events that arrived but whose frame never came still count.
    for (const auto& applied : sim.flush()) {
        display.applied(applied, sim.model(), false);
    }
    display.finish();
    if (trace) {
        std::fclose(trace);
    }
    if (!options.state_out_path.empty() &&
        !writeFileAtomically(options.state_out_path, simemu::stateJson(sim), error)) {
        std::fprintf(stderr, "sim-emulator: --state-out(%s): %s\n", options.state_out_path.c_str(), error.c_str());
        status = 1;
    }
    return status;
}
