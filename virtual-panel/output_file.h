// A file the run records lines in (--leds, --report-log). Each line is
// written through at once, so that a reader sees it even if the run is
// killed. After the first failure every later line is refused; the reason,
// naming the option and the file, is handed out once (takeError) for the
// caller to show, so that a lost record is reported once, not once per line.
#ifndef VIRTUAL_PANEL_OUTPUT_FILE_H
#define VIRTUAL_PANEL_OUTPUT_FILE_H

#include <string>
#include <string_view>
#include <utility>

namespace vpanel {

class OutputFile {
public:
    // `option` names the file in messages, e.g. "leds".
    OutputFile(std::string option, std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file; false when it cannot.
    bool open();
    // Writes `line` and a newline; false when this or an earlier write failed.
    bool writeLine(std::string_view line);
    // False when closing failed or a write had failed before.
    bool close();

    // The reason for the first failure, e.g. "virtual-panel: leds(/dev/full):
    // write failed: No space left on device"; empty once taken.
    std::string takeError() { return std::exchange(error_, {}); }

private:
    void fail(const std::string& what, int error);

    std::string option_;
    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    std::string error_;
};

}  // namespace vpanel

#endif
