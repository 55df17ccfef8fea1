// Runs the real program against the real emulator with the virtual panel,
// and reads back what each of them recorded.
#ifndef E2E_HARNESS_H
#define E2E_HARNESS_H

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "mini_json.h"
#include "process.h"

namespace e2e {

struct RunResult {
    int panel_status = -1;     // exit status of virtual-panel (= the program's)
    std::string panel_stdout;  // the program's standard output
    std::string panel_stderr;  // the program's and the panel's standard error
    int emulator_status = -1;
    std::string trace_text;                // the emulator's trace as written
    std::vector<minijson::Value> trace;    // one per client packet, in arrival order
    std::vector<std::string> leds;         // one per LED output report: "0b 01"
    std::optional<minijson::Value> state;  // the emulator's variables at exit

    // The TransmitClientEvent lines of the trace, in order.
    std::vector<minijson::Value> transmits() const;
};

struct RunOptions {
    std::string script;                      // virtual-panel script text
    std::vector<std::string> program_args;   // e.g. {"--keep-running"}
    std::vector<std::string> emulator_args;  // e.g. {"--set", "NAV STANDBY FREQUENCY:1=113.45"}
    int linger_ms = 400;
    bool start_emulator = true;  // false: no simulator listening
    // Signal sent to the emulator this long after the program started
    // (SIGTERM: the simulator quits normally; SIGKILL: the link is lost).
    int stop_emulator_after_ms = -1;
    int stop_emulator_signal = 15;
    int timeout_s = 30;
};

// Starts sim-emulator (--port 0 --once), writes a SimConnect.cfg naming its
// port into a fresh working directory, runs
// `virtual-panel --script --leds -- msfs-panel` there, and collects results.
RunResult run(const RunOptions& options);

// Each test's folder: /tmp/msfs-e2e-XXXXXX.
struct TempDir : testproc::TempDir {
    TempDir() : testproc::TempDir("msfs-e2e") {}
};

// The building blocks of run(), for tests that need to time things
// themselves (a simulator that comes and goes, a signal while connecting);
// sim-emulator itself is a SimEmulator (sim_emulator.h).
struct Child {
    pid_t pid = -1;
};
// testproc::spawn, failing the test when the process cannot start.
Child spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out_path,
            const std::string& err_path);
// Exit status (or 128 + signal); -1 when it had to be killed after the timeout.
int waitFor(Child child, std::chrono::milliseconds timeout);
// A port of 127.0.0.1 with nothing listening on it.
int closedPort();
using testproc::readFile;
void writeFile(const std::string& path, const std::string& text);
// A SimConnect.cfg in `dir` naming 127.0.0.1:port.
void writeConfig(const std::string& dir, int port);
// Polls `done` every 10 ms; false if it is still false after `timeout`.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace e2e

#endif
