// Runs the real program against the real emulator with the virtual panel,
// and reads back what each of them recorded.
#ifndef E2E_HARNESS_H
#define E2E_HARNESS_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace e2e

#endif
