// Where the emulator writes: the trace and the event lines as it runs, the
// state and the port number once. A write that fails is said on standard
// error once, naming the file and the reason, and the run then ends with
// status 1: a test reading a trace that was never written must not pass.
#ifndef SIM_EMULATOR_OUTPUT_H
#define SIM_EMULATOR_OUTPUT_H

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace simemu {

class Output {
public:
    // `name` as the message shows it: "--trace(t.jsonl)", "standard output".
    // With `owned` the file is closed by close(), otherwise only flushed.
    Output(std::FILE* file, std::string name, bool owned);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Writes and flushes, so that a reader polling the file sees whole
    // lines. After a failure further text is dropped.
    void write(std::string_view text);
    // Flushes and, when owned, closes. False when any write, the flush or
    // the close failed.
    bool close();
    bool failed() const { return failed_; }

private:
    void fail(int error);
    std::FILE* file_;
    std::string name_;
    bool owned_;
    bool failed_ = false;
};

// Writes `text` to `path` whole: through a temporary file renamed over it,
// so that a reader polling for the file never sees it half-written; a
// device or pipe (e.g. /dev/stdout) is written in place. On failure the
// reason.
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text);

}  // namespace simemu

#endif
