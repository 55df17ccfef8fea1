// A file the run records lines in (--leds, --report-log). Each line is
// written through at once, so that a reader sees it even if the run is
// killed; the first failure is reported on stderr, once, naming the option,
// the file and the reason, and every later line is refused.
#pragma once

#include <string>
#include <string_view>

namespace vpanel {

class OutputFile {
public:
    // `option` names the file in messages, e.g. "leds".
    OutputFile(std::string option, std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file; false, reported, when it cannot.
    bool open();
    // Writes `line` and a newline; false when this or an earlier write failed.
    bool writeLine(std::string_view line);
    // False, reported, when closing failed or a write had failed before.
    bool close();

private:
    void report(const std::string& what, int error);

    std::string option_;
    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
};

}  // namespace vpanel
