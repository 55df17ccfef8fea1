// virtual-panel [--uhid] [--script FILE] [--leds FILE] [--report-log FILE] [--linger-ms MS]
//               [--open-timeout-ms MS] [--verbose] [-- COMMAND [ARGS...]]
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "child_process.h"
#include "interactive.h"
#include "runner.h"

namespace {

constexpr int kUsageError = 2;
// As timeout(1) says it.
constexpr int kOpenTimedOut = 124;

constexpr const char* kUsage =
    "usage: virtual-panel [--uhid] [--script FILE] [--leds FILE] [--report-log FILE] [--linger-ms MS]\n"
    "                     [--open-timeout-ms MS] [--verbose] [-- COMMAND [ARGS...]]\n";

constexpr const char* kHelp =
    "\n"
    "Plays the msfs-panel USB panel (04d8:e6d6) without hardware. Programs reach it\n"
    "through their ordinary hidapi calls: COMMAND is started with libhidapi-virtual.so\n"
    "preloaded in place of the system's hidapi.\n"
    "\n"
    "  --script FILE   play FILE: one command per line, '#' starts a comment\n"
    "                    report MODE BUTTONS OUTER INNER   one input report (ID 1)\n"
    "                    raw HEX...                        given bytes as one report\n"
    "                    wait MS | unplug | plug\n"
    "                    leds fail | leds ok   from then on the program's writes\n"
    "                                          to the panel fail (hid_write returns\n"
    "                                          -1, nothing recorded) / succeed\n"
    "                                          (leds fail: not with --uhid)\n"
    "                  With COMMAND the script starts when COMMAND first opens the\n"
    "                  panel, so that runs are repeatable; without, at once.\n"
    "                  Without --script the panel is played from the keyboard\n"
    "                  (keys below), and COMMAND's output shows above its status line.\n"
    "  --leds FILE     write each output report received as one line of hex bytes\n"
    "  --report-log FILE\n"
    "                  write one JSON line per report the script plays, e.g.\n"
    "                    {\"t_ns\":123,\"bytes\":\"01 00 00 00 00 01 00 02\",\"queued\":true}\n"
    "                  t_ns: CLOCK_MONOTONIC nanoseconds as it went into the queue;\n"
    "                  queued: false when it was dropped (queue full or unplugged)\n"
    "  --linger-ms MS  after the last script line, wait MS (default 300), then end\n"
    "                  COMMAND (SIGTERM, SIGKILL 2 s later)\n"
    "  --open-timeout-ms MS\n"
    "                  end COMMAND the same way when it has not opened the panel\n"
    "                  within MS (default 10000; 0 waits for ever)\n"
    "  --verbose       print each script action on stderr as it is played\n"
    "  --uhid          be a kernel HID device through /dev/uhid (Linux, as root)\n"
    "                  instead: COMMAND then uses the system's hidapi untouched,\n"
    "                  and the kernel's hidraw queue holds the input reports\n"
    "  -- COMMAND      the program to run against the panel; virtual-panel exits\n"
    "                  with its status. Without COMMAND the panel serves its socket\n"
    "                  and prints the environment a program needs to reach it.\n"
    "\n"
    "The input queue holds 64 reports; when full the newest is dropped (as hidraw).\n"
    "A malformed script line is reported as FILE:LINE: reason, exit status 2.\n"
    "\n"
    "A line that cannot be written to --leds or --report-log is reported once and\n"
    "stops the run: COMMAND is ended as after the last script line, exit status 1.\n"
    "\n"
    "Exit status: COMMAND's own (0 when the closing SIGTERM ended it; 128 + N when\n"
    "signal N did); 127 when COMMAND could not be started; 124 when it did not open\n"
    "the panel in time; 2 for a bad argument or script; 1 for other failures.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "virtual-panel: %s\n%s", message.c_str(), kUsage);
    return kUsageError;
}

// Far beyond any hand-written or generated script; keeps a path such as
// /dev/zero from growing the process without bound.
constexpr std::size_t kMaxScriptBytes = 16u << 20;

// The whole file, or false with the reason in `error`. A directory opens but
// cannot be read, and must not pass for an empty script.
bool readScript(const std::string& path, std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
            break;
        }
        if (n == 0) {
            ::close(fd);
            return true;
        }
        if (text.size() + static_cast<std::size_t>(n) > kMaxScriptBytes) {
            error = "longer than " + std::to_string(kMaxScriptBytes) + " bytes";
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    vpanel::RunOptions options;
    std::string scriptPath;
    std::string ledsPath;
    std::string reportLogPath;
    bool commandFollows = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            commandFollows = true;
            ++i;
            break;
        }
        if (arg == "-h" || arg == "--help") {
            std::printf("%s%s\n%s", kUsage, kHelp, vpanel::keyHelp().c_str());
            return 0;
        }
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (arg == "--uhid") {
            options.uhid = true;
            continue;
        }
        if (arg == "--script" || arg == "--leds" || arg == "--report-log" || arg == "--linger-ms" ||
            arg == "--open-timeout-ms") {
            if (i + 1 >= argc) {
                return usageError("option(" + std::string(arg) + "): missing value");
            }
            const std::string_view value = argv[++i];
            if (arg == "--script") {
                scriptPath = value;
                options.hasScript = true;
            } else if (arg == "--leds") {
                ledsPath = value;
            } else if (arg == "--report-log") {
                reportLogPath = value;
            } else {
                int ms = -1;
                const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
                if (ec != std::errc{} || end != value.data() + value.size() || ms < 0) {
                    return usageError(std::string(arg) + "(" + std::string(value) +
                                      "): expected milliseconds, 0 or more");
                }
                (arg == "--linger-ms" ? options.lingerMs : options.openTimeoutMs) = ms;
            }
            continue;
        }
        return usageError(arg.starts_with("-")
                              ? "option(" + std::string(arg) + "): unknown"
                              : "argument(" + std::string(arg) + "): unexpected; COMMAND goes after --");
    }
    for (; i < argc; ++i) {
        options.command.emplace_back(argv[i]);
    }
    if (commandFollows && options.command.empty()) {
        return usageError("option(--): missing COMMAND");
    }

    if (options.hasScript) {
        std::string text;
        std::string error;
        if (!readScript(scriptPath, text, error)) {
            std::fprintf(stderr, "virtual-panel: script(%s): %s\n", scriptPath.c_str(), error.c_str());
            return kUsageError;
        }
        vpanel::ParsedScript parsed = vpanel::parseScript(text);
        if (parsed.error) {
            std::fprintf(stderr, "%s:%d: %s\n", scriptPath.c_str(), parsed.error->line, parsed.error->reason.c_str());
            return kUsageError;
        }
        for (const vpanel::ScriptAction& action : parsed.actions) {
            if (options.uhid && action.kind == vpanel::ScriptAction::Kind::LedsFail) {
                std::fprintf(stderr, "%s:%d: leds fail: not possible with --uhid (the kernel takes every write)\n",
                             scriptPath.c_str(), action.line);
                return kUsageError;
            }
        }
        options.script = std::move(parsed.actions);
    }

    std::optional<vpanel::OutputFile> leds;
    std::optional<vpanel::OutputFile> reportLog;
    const auto openRecord = [](std::optional<vpanel::OutputFile>& file, const char* option, const std::string& path) {
        if (path.empty() || file.emplace(option, path).open()) {
            return true;
        }
        std::fprintf(stderr, "%s\n", file->takeError().c_str());
        return false;
    };
    if (!openRecord(leds, "leds", ledsPath) || !openRecord(reportLog, "report-log", reportLogPath)) {
        return kUsageError;
    }
    options.leds = leds ? &*leds : nullptr;
    options.reportLog = reportLog ? &*reportLog : nullptr;
    const vpanel::RunResult result = vpanel::run(options);
    // Both are closed, whatever the other did; a failure not reported during
    // the run is reported now.
    bool kept = true;
    for (std::optional<vpanel::OutputFile>* file : {&leds, &reportLog}) {
        if (*file && !(*file)->close()) {
            kept = false;
            if (const std::string error = (*file)->takeError(); !error.empty()) {
                std::fprintf(stderr, "%s\n", error.c_str());
            }
        }
    }
    if (!kept) {
        return 1;
    }
    using Ending = vpanel::RunResult::Ending;
    switch (result.ending) {
    case Ending::Finished: return 0;
    case Ending::CommandEnded: return vpanel::exitStatusFor(result.waitStatus, result.endTermSent);
    case Ending::Interrupted: return 128 + result.signal;
    case Ending::CommandNotStarted: return 127;  // as a shell says it
    case Ending::OpenTimedOut: return kOpenTimedOut;
    case Ending::Failed: return 1;
    }
    return 1;
}
