#include "runner.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "child_process.h"
#include "interactive.h"
#include "panel_report.h"
#include "socket_device.h"
#include "uhid_device.h"

namespace vpanel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// SIGTERM first, SIGKILL this long after.
constexpr milliseconds kKillGrace{2000};

// CLOCK_MONOTONIC, the clock other processes on this machine (sim-emulator's
// trace) stamp their lines with, so that the two logs can be matched.
std::int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One line per played report.
std::string reportLogLine(std::int64_t tNs, std::span<const std::uint8_t> report, InputResult result) {
    return "{\"t_ns\":" + std::to_string(tNs) + ",\"bytes\":\"" + hexBytes(report) +
           "\",\"queued\":" + (result == InputResult::Queued ? "true" : "false") + "}";
}

// A private directory for the socket and the link to the preload library,
// removed with everything in it at exit.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/virtual-panel.XXXXXX";
        // A socket path must fit sockaddr_un (108 bytes with the terminator),
        // and the library's link must be preloadable.
        if (tmpl.size() + sizeof "/panel.sock" > 100 || !preloadablePath(tmpl)) {
            tmpl = "/tmp/virtual-panel.XXXXXX";
        }
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp(" + tmpl + "): " + std::strerror(errno));
        }
        path_ = tmpl;
    }
    ~TempDir() {
        for (const std::string& link : links_) {
            ::unlink(link.c_str());
        }
        ::rmdir(path_.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

    // A symbolic link `name` in the directory to `target`; returns its path.
    std::string link(const std::string& target, const char* name) {
        std::string link = path_ + "/" + name;
        if (::symlink(target.c_str(), link.c_str()) != 0) {
            throw std::runtime_error("symlink(" + link + "): " + std::strerror(errno));
        }
        links_.push_back(link);
        return link;
    }

private:
    std::string path_;
    std::vector<std::string> links_;
};

class Runner final : public DeviceListener {
public:
    Runner(const RunOptions& options, std::string socketPath)
        : options_(options), socketPath_(std::move(socketPath)), device_(makeDevice()) {}

    RunResult loop(const std::string& library);

    void deviceOpened() override {
        if (stage_ == Stage::AwaitingOpen) {
            startRunning(Clock::now());
        }
    }

    void outputReport(std::span<const std::uint8_t> report) override {
        if (options_.leds != nullptr && !options_.leds->writeLine(hexBytes(report))) {
            stopForFailure(options_.leds->takeError());
        }
        const bool ledReport = report.size() >= 2 && report[0] == kLedReportId;
        if (options_.verbose) {
            note("panel: output report " + hexBytes(report) + (ledReport ? ": LEDs " + describeLeds(report[1]) : ""));
        }
        if (ledReport && interactive_) {
            interactive_->leds(report[1]);
        }
    }

    void outputRefused(std::span<const std::uint8_t> report) override {
        if (options_.verbose) {
            note("panel: output report " + hexBytes(report) + " refused (leds fail)");
        }
    }

private:
    // The stages of a run, in the order it goes through them; it never goes
    // back. A run without COMMAND starts Running.
    enum class Stage {
        AwaitingOpen,  // COMMAND has not opened the panel yet: the script
                       // waits for that, the open timeout runs
        Running,       // the script plays (or the keyboard plays the panel)
        Lingering,     // the script is done; COMMAND has until lingerUntil_
        Ending,        // COMMAND was sent the SIGTERM that ends a run
        Killing,       // and, after kKillGrace, SIGKILL
    };
    // Why the run ends, for its result.
    enum class Cause { Done, OpenTimedOut, Failed };

    std::unique_ptr<PanelDevice> makeDevice() {
        if (options_.uhid) {
            return std::make_unique<UhidDevice>(*this);
        }
        auto device = std::make_unique<SocketDevice>(socketPath_, *this);
        socket_ = device.get();
        return device;
    }
    void startRunning(Clock::time_point now) {
        stage_ = Stage::Running;
        nextAt_ = now;
    }
    void playDue(Clock::time_point now);
    void play(const ScriptAction& action, Clock::time_point now);
    // Ends COMMAND (SIGTERM), or the run itself when there is none.
    void endRun(Clock::time_point now, Cause cause);
    // Stop playing, end COMMAND, and fail the run, saying why once.
    void stopForFailure(const std::string& reason) {
        note(reason);
        endRun(Clock::now(), Cause::Failed);
    }
    // A line for people on stderr, above the status line if there is one;
    // nothing for an empty one.
    void note(const std::string& text) {
        if (text.empty()) {
            return;
        }
        if (interactive_) {
            interactive_->show(stderr, text);
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }

    void checkOpenTimeout(Clock::time_point now);
    void handleSignals();
    std::optional<RunResult> reapChild();
    int timeoutMs(Clock::time_point now) const;

    const RunOptions& options_;
    SignalPipe signals_;
    std::string socketPath_;
    SocketDevice* socket_ = nullptr;  // device_, when it is the socket
    std::unique_ptr<PanelDevice> device_;
    std::unique_ptr<Interactive> interactive_;
    std::optional<OutputCapture> capture_;  // COMMAND's output, in keyboard mode
    pid_t child_ = -1;

    Stage stage_ = Stage::Running;
    Cause cause_ = Cause::Done;
    std::optional<RunResult> finished_;

    std::optional<Clock::time_point> openDeadline_;  // AwaitingOpen; none: for ever
    std::size_t next_ = 0;                           // Running: the script's next line
    Clock::time_point nextAt_{};
    PanelInput lastScripted_{};
    Clock::time_point lingerUntil_{};  // Lingering
    Clock::time_point killAt_{};       // Ending
};

void Runner::play(const ScriptAction& action, Clock::time_point now) {
    switch (action.kind) {
    case ScriptAction::Kind::Report: {
        // Stamped just before the queue takes it: no reader can have it
        // earlier.
        const std::int64_t queuedAt = monotonicNs();
        const InputResult result = device_->sendInput(action.bytes);
        if (options_.reportLog != nullptr &&
            !options_.reportLog->writeLine(reportLogLine(queuedAt, action.bytes, result))) {
            stopForFailure(options_.reportLog->takeError());
        }
        if (options_.verbose) {
            PanelInput in;
            std::string what = decodeInput(action.bytes, in) && action.bytes.size() == kInputReportSize &&
                                       action.bytes[0] == kInputReportId
                                   ? describeInput(lastScripted_, in)
                                   : "raw report " + hexBytes(action.bytes);
            if (result == InputResult::DroppedFull) what += " (queue full: dropped)";
            if (result == InputResult::DroppedUnplugged) what += " (unplugged: dropped)";
            std::fprintf(stderr, "panel: %s\n", what.c_str());
        }
        decodeInput(action.bytes, lastScripted_);
        break;
    }
    case ScriptAction::Kind::Wait:
        if (options_.verbose) {
            std::fprintf(stderr, "panel: wait %u ms\n", action.ms);
        }
        nextAt_ = now + milliseconds(action.ms);
        break;
    case ScriptAction::Kind::Unplug:
        if (options_.verbose) {
            std::fprintf(stderr, "panel: unplug\n");
        }
        device_->unplug();
        break;
    case ScriptAction::Kind::Plug:
        if (options_.verbose) {
            std::fprintf(stderr, "panel: plug\n");
        }
        device_->plug();
        break;
    case ScriptAction::Kind::LedsFail:
    case ScriptAction::Kind::LedsOk: {
        const bool fail = action.kind == ScriptAction::Kind::LedsFail;
        if (options_.verbose) {
            std::fprintf(stderr, "panel: leds %s\n", fail ? "fail" : "ok");
        }
        // A kernel device cannot refuse writes: main turns `leds fail`
        // away with --uhid, and `leds ok` is then what it does anyway.
        if (socket_ != nullptr) {
            socket_->failWrites(fail);
        }
        break;
    }
    }
}

void Runner::playDue(Clock::time_point now) {
    if (stage_ != Stage::Running || !options_.hasScript) {
        return;
    }
    // A line may end the run (a record that cannot be written).
    while (next_ < options_.script.size() && now >= nextAt_ && stage_ == Stage::Running && !finished_) {
        play(options_.script[next_++], now);
    }
    if (stage_ == Stage::Running && next_ == options_.script.size() && now >= nextAt_) {
        stage_ = Stage::Lingering;
        lingerUntil_ = now + milliseconds(options_.lingerMs);
    }
}

void Runner::endRun(Clock::time_point now, Cause cause) {
    if (cause != Cause::Done) {
        cause_ = cause;
    }
    if (stage_ == Stage::Ending || stage_ == Stage::Killing || finished_) {
        return;
    }
    if (child_ < 0) {
        finished_ =
            RunResult{cause_ == Cause::Failed ? RunResult::Ending::Failed : RunResult::Ending::Finished, 0, false, 0};
        return;
    }
    ::kill(child_, SIGTERM);
    stage_ = Stage::Ending;
    killAt_ = now + kKillGrace;
}

void Runner::checkOpenTimeout(Clock::time_point now) {
    if (stage_ != Stage::AwaitingOpen || !openDeadline_ || now < *openDeadline_) {
        return;
    }
    note("virtual-panel: command(" + options_.command.front() + "): did not open the panel within " +
         std::to_string(options_.openTimeoutMs) + " ms (--open-timeout-ms); ending it");
    endRun(now, Cause::OpenTimedOut);
}

std::optional<RunResult> Runner::reapChild() {
    if (child_ < 0) {
        return std::nullopt;
    }
    int status = 0;
    const pid_t pid = ::waitpid(child_, &status, WNOHANG);
    if (pid != child_) {
        return std::nullopt;
    }
    child_ = -1;
    const bool endTermSent = stage_ == Stage::Ending || stage_ == Stage::Killing;
    switch (cause_) {
    case Cause::Failed: return RunResult{RunResult::Ending::Failed, status, endTermSent, 0};
    case Cause::OpenTimedOut: return RunResult{RunResult::Ending::OpenTimedOut, status, endTermSent, 0};
    case Cause::Done: break;
    }
    return RunResult{RunResult::Ending::CommandEnded, status, endTermSent, 0};
}

void Runner::handleSignals() {
    SignalPipe::Event event{};
    while (signals_.next(event)) {
        if (event.signal == SIGCHLD) {
            continue;  // reaped below, once
        }
        if (child_ < 0) {
            finished_ = RunResult{RunResult::Ending::Interrupted, 0, false, event.signal};
        } else if (!event.fromTerminal) {
            ::kill(child_, event.signal);
        }
    }
}

int Runner::timeoutMs(Clock::time_point now) const {
    std::optional<Clock::time_point> due;
    auto consider = [&due](Clock::time_point t) {
        if (!due || t < *due) due = t;
    };
    switch (stage_) {
    case Stage::AwaitingOpen:
        if (openDeadline_) consider(*openDeadline_);
        break;
    case Stage::Running:
        if (options_.hasScript) consider(nextAt_);
        break;
    case Stage::Lingering: consider(lingerUntil_); break;
    case Stage::Ending: consider(killAt_); break;
    case Stage::Killing: break;
    }
    if (!due) {
        return -1;
    }
    if (*due <= now) {
        return 0;
    }
    // Rounded up so that a wake-up never comes before the deadline.
    const auto wait = std::chrono::ceil<milliseconds>(*due - now).count();
    return wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
}

RunResult Runner::loop(const std::string& library) {
    std::optional<RawTerminal> terminal;
    if (!options_.hasScript) {
        terminal.emplace(STDIN_FILENO);
        interactive_ = std::make_unique<Interactive>(*device_, stdout, options_.verbose);
    }
    if (options_.command.empty() && options_.uhid) {
        std::fprintf(stderr, "virtual-panel: the panel is plugged in as a kernel HID device; open it with hidapi\n");
        startRunning(Clock::now());
    } else if (options_.command.empty()) {
        std::fprintf(stderr,
                     "virtual-panel: to reach this panel, start a program with these two settings:\n"
                     "  LD_PRELOAD=%s\n  %s=%s\n",
                     library.c_str(), wire::kSocketVariable, socketPath_.c_str());
        startRunning(Clock::now());
    } else {
        if (interactive_) {
            try {
                capture_.emplace();
            } catch (const std::exception& e) {
                note(std::string("virtual-panel: ") + e.what() + "; its lines may run into the status line");
            }
        }
        std::string error;
        child_ = spawnChild({options_.command, library, socketPath_, interactive_ != nullptr,
                             capture_ ? capture_->childStdout() : -1, capture_ ? capture_->childStderr() : -1},
                            error);
        if (capture_) {
            capture_->closeChildEnds();
        }
        if (child_ < 0) {
            note("virtual-panel: " + error);
            return RunResult{RunResult::Ending::CommandNotStarted, 0, false, 0};
        }
        stage_ = Stage::AwaitingOpen;
        if (options_.openTimeoutMs > 0) {
            openDeadline_ = Clock::now() + milliseconds(options_.openTimeoutMs);
        }
    }
    if (interactive_) {
        interactive_->printHelp();
    }

    const auto showCommandOutput = [this](int stream, std::span<const char> bytes) {
        interactive_->show(stream == 2 ? stderr : stdout, std::string_view(bytes.data(), bytes.size()));
    };
    std::vector<pollfd> fds;
    bool stdinOpen = interactive_ != nullptr;
    while (!finished_) {
        Clock::time_point now = Clock::now();
        playDue(now);
        checkOpenTimeout(now);
        if ((stage_ == Stage::Lingering && now >= lingerUntil_) || (interactive_ && interactive_->quitRequested())) {
            endRun(now, Cause::Done);
        }
        if (finished_) {
            break;
        }
        if (stage_ == Stage::Ending && now >= killAt_) {
            ::kill(child_, SIGKILL);
            stage_ = Stage::Killing;
        }

        fds.clear();
        fds.push_back({signals_.fd(), POLLIN, 0});
        const std::size_t stdinIndex = fds.size();
        if (stdinOpen) {
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        }
        const std::size_t captureIndex = fds.size();
        if (capture_) {
            capture_->addPollFds(fds);
        }
        const std::size_t deviceIndex = fds.size();
        device_->addPollFds(fds);

        if (::poll(fds.data(), fds.size(), timeoutMs(now)) < 0) {
            if (errno == EINTR) {
                continue;
            }
            note(std::string("virtual-panel: poll(): ") + std::strerror(errno));
            finished_ = RunResult{RunResult::Ending::Failed, 0, false, 0};
            break;
        }
        if (fds[0].revents != 0) {
            handleSignals();
            if (finished_) {
                break;
            }
        }
        if (capture_) {
            capture_->read(std::span<const pollfd>(fds).subspan(captureIndex, deviceIndex - captureIndex),
                           showCommandOutput);
        }
        if (auto status = reapChild()) {
            if (capture_) {
                capture_->drain(showCommandOutput);
            }
            // A kernel device hands over what COMMAND wrote just before it
            // ended (its last LED report) only when asked: once more.
            fds.clear();
            device_->addPollFds(fds);
            if (::poll(fds.data(), fds.size(), 0) > 0) {
                device_->handlePoll(fds);
            }
            finished_ = status;
            break;
        }
        if (stdinOpen && fds[stdinIndex].revents != 0) {
            char keys[64];
            const ssize_t n = ::read(STDIN_FILENO, keys, sizeof keys);
            if (n > 0) {
                interactive_->keys(std::span<const char>(keys, static_cast<std::size_t>(n)));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // End of input quits like the q key.
                stdinOpen = false;
                interactive_->keys(std::span<const char>("q", 1));
            }
        }
        device_->handlePoll(std::span<const pollfd>(fds).subspan(deviceIndex));
    }
    if (interactive_) {
        interactive_->finish();
    }
    if (child_ > 0) {
        // Only reached when we were told to stop ourselves: do not leave
        // COMMAND behind.
        ::kill(child_, SIGTERM);
        ::waitpid(child_, nullptr, 0);
    }
    return *finished_;
}

}  // namespace

RunResult run(const RunOptions& options) {
    const RunResult failed{RunResult::Ending::Failed, 0, false, 0};
    if (options.uhid) {
        // COMMAND runs with the system's hidapi as it is: no library, no socket.
        try {
            Runner runner(options, "");
            return runner.loop("");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "virtual-panel: %s\n", e.what());
            return failed;
        }
    }
    std::string error;
    const std::string library = findPreloadLibrary(error);
    if (library.empty()) {
        std::fprintf(stderr, "virtual-panel: %s\n", error.c_str());
        return failed;
    }
    try {
        TempDir dir;
        // The library's own path may hold characters LD_PRELOAD splits at;
        // the private directory's does not.
        const std::string preload = dir.link(library, "libhidapi-virtual.so");
        Runner runner(options, dir.path() + "/panel.sock");
        return runner.loop(preload);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "virtual-panel: %s\n", e.what());
        return failed;
    }
}

}  // namespace vpanel
