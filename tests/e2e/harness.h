// Runs the real program against the real emulator with the virtual panel,
// and reads back what each of them recorded.
#ifndef E2E_HARNESS_H
#define E2E_HARNESS_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace e2e {

// One flat JSON object (a trace line or the emulator's state file): values
// kept as their JSON text, strings unquoted and unescaped.
class JsonObject {
public:
    static std::optional<JsonObject> parse(const std::string& text);
    bool has(const std::string& key) const { return fields_.count(key) != 0; }
    std::string str(const std::string& key) const;
    std::int64_t num(const std::string& key) const;
    double real(const std::string& key) const;

private:
    std::map<std::string, std::string> fields_;
};

struct RunResult {
    int panel_status = -1;          // exit status of virtual-panel (= the program's)
    std::string panel_stdout;       // the program's standard output
    std::string panel_stderr;       // the program's and the panel's standard error
    int emulator_status = -1;
    std::vector<JsonObject> trace;  // one per client packet, in arrival order
    std::vector<std::string> leds;  // one per LED output report: "0b 01"
    std::optional<JsonObject> state;  // the emulator's variables at exit

    // The TransmitClientEvent lines of the trace, in order.
    std::vector<JsonObject> transmits() const;
};

struct RunOptions {
    std::string script;                       // virtual-panel script text
    std::vector<std::string> program_args;    // e.g. {"--keep-running"}
    std::vector<std::string> emulator_args;   // e.g. {"--set", "NAV STANDBY FREQUENCY:1=113.45"}
    int linger_ms = 400;
    bool start_emulator = true;               // false: no simulator listening
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

// Directory for one test's files, removed at exit unless the test failed.
std::string makeTempDir();

// The building blocks of run(), for tests that need to time things
// themselves (a simulator that comes and goes, a signal while connecting).
struct Child {
    pid_t pid = -1;
};
// Starts argv[0] in `cwd` with standard input from /dev/null, its outputs in
// the two files, and HOME set to `cwd`.
Child spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out_path,
            const std::string& err_path);
// Exit status (or 128 + signal); -1 when it had to be killed after the timeout.
int waitFor(Child child, std::chrono::milliseconds timeout);
// A port of 127.0.0.1 with nothing listening on it.
int closedPort();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
// A SimConnect.cfg in `dir` naming 127.0.0.1:port.
void writeConfig(const std::string& dir, int port);
// Polls `done` every 10 ms; false if it is still false after `timeout`.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// sim-emulator listening on `port` (0: any free one), tracing into
// dir/trace_name. Returns its port.
int startEmulator(Child& emulator, const std::string& dir, int port, const std::string& trace_name,
                  const std::vector<std::string>& extra = {});

}  // namespace e2e

#endif
