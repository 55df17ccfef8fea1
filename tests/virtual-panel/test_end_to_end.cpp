// virtual-panel, its preloaded hidapi and a program linked against the
// system's hidapi, all real processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <filesystem>

#include <fcntl.h>
#include <time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"
#include "process.h"

namespace {

using Args = std::vector<std::string>;

// Bounds a hung run so the suite fails instead of stalling.
constexpr auto kWatchdog = std::chrono::seconds(20);
constexpr auto kPollPause = std::chrono::milliseconds(5);

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int status = -1;
    std::string out;   // the probe's lines
    std::string err;   // virtual-panel's stderr
    std::string leds;  // the --leds file
};

class EndToEnd : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<testproc::TempDir>("vp-e2e");
        ASSERT_EQ(::mkdir(path(tmp_).c_str(), 0700), 0);
    }
    void TearDown() override { dir_.reset(); }

    std::string path(const std::string& name) const { return dir_->path() + "/" + name; }

    std::string script(const std::string& text) {
        std::ofstream(path("script")) << text;
        return path("script");
    }

    // The probe's arguments, writing its lines to a file of its own.
    Args probe(const Args& steps) const {
        Args argv{VIRTUAL_PANEL_PROBE, "--out", path("probe.out")};
        argv.insert(argv.end(), steps.begin(), steps.end());
        return argv;
    }

    // Starts argv with stdout/stderr in files and stdin from `stdinFd`.
    pid_t start(const Args& argv, int stdinFd = -1) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = stdinFd >= 0 ? stdinFd : ::open("/dev/null", O_RDONLY);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::dup2(in, 0);
            // virtual-panel's private directory goes here, to be checked.
            ::setenv("TMPDIR", path(tmp_).c_str(), 1);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(126);
        }
        return pid;
    }

    Outcome finish(pid_t pid) {
        Outcome o;
        int status = 0;
        const auto until = std::chrono::steady_clock::now() + kWatchdog;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "virtual-panel did not finish in time";
                break;
            }
            std::this_thread::sleep_for(kPollPause);
        }
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        o.out = readFile(path("probe.out"));
        o.err = readFile(path("stderr"));
        o.leds = readFile(path("leds"));
        // The socket and its directory are removed however the run ended.
        EXPECT_EQ(::rmdir(path(tmp_).c_str()), 0) << "virtual-panel left files in " << path(tmp_);
        ::mkdir(path(tmp_).c_str(), 0700);
        return o;
    }

    Outcome run(const std::string& scriptText, const Args& command, const Args& extra = {}) {
        Args argv{VIRTUAL_PANEL_BIN, "--script", script(scriptText), "--leds", path("leds")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back("--");
        argv.insert(argv.end(), command.begin(), command.end());
        return finish(start(argv));
    }

    // Waits until the probe has printed `lines` lines.
    void awaitProbeLines(std::size_t lines) {
        const auto until = std::chrono::steady_clock::now() + kWatchdog;
        while (std::chrono::steady_clock::now() < until) {
            const std::string out = readFile(path("probe.out"));
            if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= lines) return;
            std::this_thread::sleep_for(kPollPause);
        }
        FAIL() << "probe output: " << readFile(path("probe.out"));
    }

    std::unique_ptr<testproc::TempDir> dir_;
    std::string tmp_ = "tmp";  // TMPDIR for virtual-panel, inside dir_
};

TEST_F(EndToEnd, ReportsAndLedWritesCrossIntact) {
    const Outcome o =
        run("report 2 0x8000 1 -1   # NAV1, HDG/OBS held, outer +1, inner -1\n"
            "raw 01 00 00 00 00 01 00 02\n"
            "raw 01 02 03            # a short report stays short\n"
            "report 7 0 0 0\n"
            "report 3 0 5 0\n",
            probe({"open", "read", "8", "read", "8", "read", "8", "read", "3", "read", "64", "read-none", "write", "0b",
                   "01", "write", "0b", "3f", "strings"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "opened\n"
              "read 01 00 80 00 00 01 ff 02\n"
              "read 01 00 00 00 00 01 00 02\n"
              "read 01 02 03\n"
              // A short buffer takes the start of the report; the rest is gone.
              "read 01 00 00\n"
              "read 01 00 00 00 00 05 00 03\n"
              "nothing waiting\n"
              "wrote 2\n"
              "wrote 2\n"
              "product Virtual panel\n");
    EXPECT_EQ(o.leds, "0b 01\n0b 3f\n");
}

// The loader splits LD_PRELOAD at spaces and colons: a library under such a
// path would be skipped, and COMMAND would get the system's hidapi instead.
TEST_F(EndToEnd, PreloadWorksFromAPathWithSpacesAndColons) {
    namespace fs = std::filesystem;
    const fs::path root = path("a panel: tools");
    fs::create_directories(root / "bin");
    fs::create_directories(root / "lib");
    fs::copy_file(VIRTUAL_PANEL_BIN, root / "bin/virtual-panel");
    fs::copy_file(HIDAPI_VIRTUAL_LIB, root / "lib/libhidapi-virtual.so");
    tmp_ = "tmp: too";
    ASSERT_EQ(::mkdir(path(tmp_).c_str(), 0700), 0);
    const Outcome o = finish(start({(root / "bin/virtual-panel").string(), "--script", script("report 0 0 1 0\n"), "--",
                                    VIRTUAL_PANEL_PROBE, "--out", path("probe.out"), "open", "read", "8"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "opened\nread 01 00 00 00 00 01 00 00\n");
}

TEST_F(EndToEnd, QueueKeepsTheFirstSixtyFour) {
    std::string text;
    for (int i = 1; i <= 70; ++i) {
        text += "report 0 0 " + std::to_string(i) + " 0\n";
    }
    const Outcome o = run(text, probe({"open", "read", "8", "drain", "read-none"}));
    EXPECT_EQ(o.status, 0) << o.err;
    // Reports 65 to 70 found the queue full; 64 (0x40) was the last kept.
    EXPECT_EQ(o.out,
              "opened\n"
              "read 01 00 00 00 00 01 00 00\n"
              "drained 63 last 01 00 00 00 00 40 00 00\n"
              "nothing waiting\n");
}

TEST_F(EndToEnd, UnplugFailsTheHandleAndPlugAllowsReopening) {
    const Outcome o =
        run("report 0 0 1 0\n"
            "wait 200\n"
            "report 0 0 9 0   # waiting when the panel goes: lost\n"
            "unplug\n"
            "report 0 0 8 0   # nobody to send it: lost\n"
            "wait 1500\n"
            "plug\n"
            "report 0 0 2 0\n",
            probe({"open", "read", "8", "read-fails", "write-fails", "0b", "01", "open-fails", "reopen", "read", "8",
                   "read-none", "write", "0b", "02"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "opened\n"
              "read 01 00 00 00 00 01 00 00\n"
              "read failed\n"
              "write failed\n"
              "open failed\n"
              "reopened\n"
              "read 01 00 00 00 00 02 00 00\n"
              "nothing waiting\n"
              "wrote 2\n");
    EXPECT_EQ(o.leds, "0b 02\n");
}

TEST_F(EndToEnd, LedWritesFailOnDemandAndAreNotRecorded) {
    const Outcome o =
        run("leds fail\n"
            "report 0 0 1 0\n"
            "wait 500\n"
            "leds ok\n"
            "report 0 0 2 0\n",
            probe({"open", "read", "8", "write-fails", "0b", "01", "read", "8", "write", "0b", "02"}));
    EXPECT_EQ(o.status, 0) << o.err;
    // The failed write left the handle usable: reads and writes go on.
    EXPECT_EQ(o.out,
              "opened\n"
              "read 01 00 00 00 00 01 00 00\n"
              "write failed\n"
              "read 01 00 00 00 00 02 00 00\n"
              "wrote 2\n");
    EXPECT_EQ(o.leds, "0b 02\n");
}

// A kernel device takes every write: refused before anything starts.
TEST_F(EndToEnd, LedsFailIsRefusedWithUhid) {
    const std::string s = script("report 0 0 1 0\nleds fail\n");
    const Outcome o = finish(start(
        {VIRTUAL_PANEL_BIN, "--uhid", "--script", s, "--", VIRTUAL_PANEL_PROBE, "--out", path("probe.out"), "open"}));
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, s + ":2: leds fail: not possible with --uhid (the kernel takes every write)\n");
    EXPECT_EQ(o.out, "");
}

struct TimedRead {
    int result;
    std::int64_t returnedNs;
    std::int64_t elapsedUs;
};

// The probe's timed-read lines, in order.
std::vector<TimedRead> timedReads(const std::string& out) {
    std::vector<TimedRead> reads;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        TimedRead r{};
        long long t = 0, us = 0;
        if (std::sscanf(line.c_str(), "timed-read %d %lld %lld", &r.result, &t, &us) == 3) {
            r.returnedNs = t;
            r.elapsedUs = us;
            reads.push_back(r);
        }
    }
    return reads;
}

// A waiting read wakes when a report is queued, not at the next turn of a
// polling loop: this is the floor under the program's own latency.
TEST_F(EndToEnd, WaitingReadWakesAsSoonAsAReportIsQueued) {
    constexpr int kReports = 50;
    std::string text = "wait 50\n";
    Args steps{"open"};
    for (int i = 1; i <= kReports; ++i) {
        text += "report 0 0 " + std::to_string(i) + " 0\nwait 20\n";
        steps.insert(steps.end(), {"timed-read", i % 2 == 0 ? "-1" : "2000"});
    }
    const Outcome o = run(text, probe(steps), {"--report-log", path("log"), "--linger-ms", "0"});
    EXPECT_EQ(o.status, 0) << o.err;

    std::istringstream log(readFile(path("log")));
    std::vector<std::int64_t> queuedNs;
    for (std::string line; std::getline(log, line);) queuedNs.push_back(std::stoll(line.substr(8)));
    const std::vector<TimedRead> reads = timedReads(o.out);
    ASSERT_EQ(reads.size(), static_cast<std::size_t>(kReports)) << o.out;
    ASSERT_EQ(queuedNs.size(), static_cast<std::size_t>(kReports));
    std::vector<std::int64_t> latencies;
    for (int i = 0; i < kReports; ++i) {
        EXPECT_EQ(reads[i].result, 8) << "read " << i;
        latencies.push_back(reads[i].returnedNs - queuedNs[i]);
    }
    std::sort(latencies.begin(), latencies.end());
    // Polling every 2 ms gave a median of about 2 ms; waking on the queue
    // gives about 0.1 ms, so this bound leaves room for a busy machine.
    EXPECT_LT(latencies[kReports / 2], 500'000) << "median latency in ns";
}

TEST_F(EndToEnd, WriteFromAnotherThreadDoesNotDisturbAWaitingRead) {
    const Outcome o = run("wait 400\nreport 0 0 1 0\n", probe({"open", "write-during-read", "0b", "01"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "opened\nwrote 2 during read 01 00 00 00 00 01 00 00\n");
    EXPECT_EQ(o.leds, "0b 01\n");
}

TEST_F(EndToEnd, WaitingReadTimesOutOrFailsAtOnceWhenUnplugged) {
    const Outcome o = run("wait 300\nunplug\nwait 300\nplug\nwait 100\nreport 0 0 1 0\n",
                          probe({"open", "timed-read", "100", "timed-read", "-1", "reopen", "timed-read", "5000"}));
    EXPECT_EQ(o.status, 0) << o.err;
    const std::vector<TimedRead> reads = timedReads(o.out);
    ASSERT_EQ(reads.size(), 3u) << o.out;
    // Nothing queued: 0 after the time asked for, and not much more.
    EXPECT_EQ(reads[0].result, 0);
    EXPECT_GE(reads[0].elapsedUs, 100'000);
    EXPECT_LT(reads[0].elapsedUs, 180'000);
    // Unplugged while waiting for ever: -1 at once (about 200 ms in).
    EXPECT_EQ(reads[1].result, -1);
    EXPECT_LT(reads[1].elapsedUs, 1'000'000);
    EXPECT_EQ(reads[2].result, 8);
    EXPECT_LT(reads[2].elapsedUs, 1'000'000);
}

TEST_F(EndToEnd, OnlyThePanelIsFoundAndNullHandlesAreRefused) {
    const Outcome o = run("", probe({"open-other-fails", "null", "open"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "other device not found\nnull device refused\nopened\n");
}

TEST_F(EndToEnd, WithoutTheSocketVariableThereIsNoPanel) {
    // The loader splits LD_PRELOAD at spaces and colons, which the build
    // tree's path may hold: the library goes in through a link that has none.
    std::string folder = dir_->path();
    if (!vpanel::preloadablePath(folder)) {
        folder = "/tmp";
    }
    folder += "/vp-preload-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr) << folder;
    const std::string library = folder + "/libhidapi-virtual.so";
    ASSERT_EQ(::symlink(HIDAPI_VIRTUAL_LIB, library.c_str()), 0) << library;
    ::setenv("LD_PRELOAD", library.c_str(), 1);
    ::unsetenv("VIRTUAL_PANEL_SOCKET");
    // What virtual-panel adds for COMMAND: lets a sanitized probe start with
    // a library preloaded ahead of its sanitizer runtime.
    const char* oldAsan = std::getenv("ASAN_OPTIONS");
    const std::string savedAsan = oldAsan != nullptr ? oldAsan : "";
    ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    const pid_t pid = start(probe({"open-fails", "null"}));
    ::unsetenv("LD_PRELOAD");
    if (oldAsan != nullptr) {
        ::setenv("ASAN_OPTIONS", savedAsan.c_str(), 1);
    } else {
        ::unsetenv("ASAN_OPTIONS");
    }
    const Outcome o = finish(pid);
    ::unlink(library.c_str());
    ::rmdir(folder.c_str());
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "open failed\nnull device refused\n");
}

// The system's hidapi takes no NULL device (Debian's dereferences it): the
// probe must say it got the wrong library, not crash in it.
TEST_F(EndToEnd, NullHandlesAreOnlyTriedOnTheVirtualHidapi) {
    ::unsetenv("LD_PRELOAD");
    const Outcome o = finish(start(probe({"null"})));
    EXPECT_EQ(o.status, 3);
    EXPECT_TRUE(o.out.starts_with("FAIL null: hid_read comes from ")) << o.out;
}

struct StatusCase {
    const char* name;
    Args command;  // probe steps, or a whole command when it starts with "/"
    bool endsFirst;
    int status;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class ExitStatus : public EndToEnd, public testing::WithParamInterface<StatusCase> {};

TEST_P(ExitStatus, IsCommandsOwn) {
    const StatusCase& c = GetParam();
    const Args command = c.command.front().starts_with("/") ? c.command : probe(c.command);
    // The long wait shows that an early end of COMMAND ends the run at once.
    const std::string text = c.endsFirst ? "report 0 0 1 0\nwait 60000\n" : "report 0 0 1 0\n";
    const Outcome o = run(text, command, {"--linger-ms", "50"});
    EXPECT_EQ(o.status, c.status) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ExitStatus,
    testing::Values(StatusCase{"EndsFirstWithItsCode", {"open", "exit", "7"}, true, 7},
                    StatusCase{"EndsFirstWithZero", {"open", "exit", "0"}, true, 0},
                    StatusCase{"EndedByTheClosingTermIsZero", {"open", "sleep", "30000"}, false, 0},
                    StatusCase{"HandlesTheClosingTerm", {"on-term", "5", "open", "sleep", "30000"}, false, 5},
                    StatusCase{"KilledByOtherSignal", {"/bin/sh", "-c", "kill -USR1 $$"}, true, 128 + SIGUSR1},
                    StatusCase{"CannotBeStarted", {"/nonexistent/program"}, true, 127}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, CommandIgnoringTermIsKilled) {
    // Needs the full two seconds of grace before SIGKILL.
    const Outcome o = run("", probe({"ignore-term", "open", "sleep", "30000"}), {"--linger-ms", "0"});
    EXPECT_EQ(o.status, 128 + SIGKILL);
}

TEST_F(EndToEnd, CommandThatNeverOpensThePanelIsEndedInTime) {
    const auto started = std::chrono::steady_clock::now();
    const Outcome o = run("report 0 0 1 0\n", probe({"sleep", "30000"}), {"--open-timeout-ms", "300"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(o.status, 124);
    EXPECT_EQ(o.err, std::string("virtual-panel: command(") + VIRTUAL_PANEL_PROBE +
                         "): did not open the panel within 300 ms (--open-timeout-ms); ending it\n");
}

TEST_F(EndToEnd, InterruptIsForwardedToCommand) {
    const pid_t pid = start({VIRTUAL_PANEL_BIN, "--script", script("wait 60000\n"), "--", VIRTUAL_PANEL_PROBE, "--out",
                             path("probe.out"), "open", "sleep", "30000"});
    awaitProbeLines(1);
    ::kill(pid, SIGINT);
    const Outcome o = finish(pid);
    EXPECT_EQ(o.status, 128 + SIGINT);
    EXPECT_EQ(o.err, "");
}

TEST_F(EndToEnd, MalformedScriptStopsBeforeAnythingRuns) {
    const std::string s = script("report 0 0 1 0\nwait soon\n");
    const Outcome o = finish(
        start({VIRTUAL_PANEL_BIN, "--script", s, "--", VIRTUAL_PANEL_PROBE, "--out", path("probe.out"), "open"}));
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, s + ":2: MS(soon): expected a number from 0 to 86400000\n");
    EXPECT_EQ(o.out, "");  // the probe never started
}

// A line that cannot be written ends the run with a clear reason: a run that
// lost its record must not look like a good one.
TEST_F(EndToEnd, FailedWritesToTheRecordsAreReportedOnceAndFailTheRun) {
    Outcome o =
        finish(start({VIRTUAL_PANEL_BIN, "--leds", "/dev/full", "--script", script(""), "--", VIRTUAL_PANEL_PROBE,
                      "--out", path("probe.out"), "open", "write", "0b", "01", "write", "0b", "02", "sleep", "30000"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "virtual-panel: leds(/dev/full): write failed: No space left on device\n");

    o = finish(start({VIRTUAL_PANEL_BIN, "--report-log", "/dev/full", "--script",
                      script("report 0 0 1 0\nreport 0 0 2 0\nwait 30000\n"), "--", VIRTUAL_PANEL_PROBE, "--out",
                      path("probe.out"), "open", "sleep", "30000"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "virtual-panel: report-log(/dev/full): write failed: No space left on device\n");
}

TEST_F(EndToEnd, ScriptThatIsADirectoryIsAUsageError) {
    const Outcome o = finish(start(
        {VIRTUAL_PANEL_BIN, "--script", path("tmp"), "--", VIRTUAL_PANEL_PROBE, "--out", path("probe.out"), "open"}));
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "virtual-panel: script(" + path("tmp") + "): Is a directory\n");
    EXPECT_EQ(o.out, "");  // the probe never started
}

TEST_F(EndToEnd, BadOptionsAreUsageErrors) {
    for (const Args& argv :
         {Args{VIRTUAL_PANEL_BIN, "--linger-ms", "soon"}, Args{VIRTUAL_PANEL_BIN, "--bogus"},
          Args{VIRTUAL_PANEL_BIN, "--open-timeout-ms", "-1"}, Args{VIRTUAL_PANEL_BIN, "--script"},
          Args{VIRTUAL_PANEL_BIN, "stray"}, Args{VIRTUAL_PANEL_BIN, "--script", "/nonexistent/script"}}) {
        const Outcome o = finish(start(argv));
        EXPECT_EQ(o.status, 2) << argv.back();
        EXPECT_NE(o.err.find("virtual-panel: "), std::string::npos) << o.err;
    }
}

// Our own kernel offers no uhid; the kernel path itself is checked in a VM
// (scripts/check-kernel-hid.sh).
TEST_F(EndToEnd, UhidWithoutTheKernelDeviceFailsBeforeCommandStarts) {
    if (::access("/dev/uhid", F_OK) == 0) {
        GTEST_SKIP() << "this kernel has /dev/uhid";
    }
    const Outcome o = finish(start({VIRTUAL_PANEL_BIN, "--uhid", "--script", script("wait 10\n"), "--",
                                    VIRTUAL_PANEL_PROBE, "--out", path("probe.out"), "open"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.rfind("virtual-panel: open(/dev/uhid): No such file or directory", 0), 0u) << o.err;
    EXPECT_EQ(o.out, "");  // the probe never started
}

// The keyboard mode's status line as last drawn, without its escape codes.
std::string lastStatusLine(const std::string& out) {
    const std::size_t erased = out.rfind("\x1b[K");
    const std::string drawn = erased == std::string::npos ? out : out.substr(erased + 3);
    std::string line;
    for (std::size_t i = 0; i < drawn.size() && drawn[i] != '\n'; ++i) {
        if (drawn.compare(i, 2, "\x1b[") == 0) {  // ESC [ digits ; ? ... final letter
            i += 2;
            while (i < drawn.size() && !std::isalpha(static_cast<unsigned char>(drawn[i]))) ++i;
            continue;
        }
        line += drawn[i];
    }
    return line;
}

TEST_F(EndToEnd, KeysPlayThePanel) {
    int keys[2];
    ASSERT_EQ(::pipe(keys), 0);
    // clang-format off
    const pid_t pid = start({VIRTUAL_PANEL_BIN, "--", VIRTUAL_PANEL_PROBE, "--out", path("probe.out"), "open", "read",
                             "8", "read", "8", "read", "8", "read", "8", "read", "8", "read-none", "write", "0b", "05"},
                            keys[0]);
    // clang-format on
    ::close(keys[0]);
    // NAV1, outer knob clockwise, inner knob back (arrow key), HDG/OBS.
    const std::string typed = "3d\x1b[Bh";
    ASSERT_EQ(::write(keys[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    const Outcome o = finish(pid);
    ::close(keys[1]);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "opened\n"
              "read 01 00 00 00 00 00 00 02\n"
              "read 01 00 00 00 00 01 00 02\n"
              "read 01 00 00 00 00 00 ff 02\n"
              "read 01 00 80 00 00 00 00 02\n"
              "read 01 00 00 00 00 00 00 02\n"
              "nothing waiting\n"
              "wrote 2\n");
    // Every LED named, lit or not; the buttons of the last press.
    const std::string shown = readFile(path("stdout"));
    EXPECT_EQ(lastStatusLine(shown),
              "[NAV1] LEDs: [AP]  HDG  [NAV]  APR   ALT   VS   buttons 0x00008000  last: press HDG/OBS");

    // --help lists the same keys the keyboard mode starts with.
    const std::string keyHelp = shown.substr(0, shown.find('\r'));
    ASSERT_NE(keyHelp.find("h HDG/OBS"), std::string::npos) << keyHelp;
    finish(start({VIRTUAL_PANEL_BIN, "--help"}));
    EXPECT_NE(readFile(path("stdout")).find(keyHelp), std::string::npos);
}

// COMMAND's lines go above the status line, each stream to its own place,
// and the status line is drawn again below them.
TEST_F(EndToEnd, KeyboardModeShowsCommandOutputAboveTheStatusLine) {
    int keys[2];
    // Not inherited: the end of the keys must reach virtual-panel.
    ASSERT_EQ(::pipe2(keys, O_CLOEXEC), 0);
    const pid_t pid = start({VIRTUAL_PANEL_BIN, "--open-timeout-ms", "0", "--", "/bin/sh", "-c",
                             "echo out-line; echo err-line >&2; exec sleep 30"},
                            keys[0]);
    ::close(keys[0]);
    const auto until = std::chrono::steady_clock::now() + kWatchdog;
    while (readFile(path("stderr")).find("err-line") == std::string::npos ||
           readFile(path("stdout")).find("out-line") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), until) << readFile(path("stdout"));
        std::this_thread::sleep_for(kPollPause);
    }
    ASSERT_EQ(::write(keys[1], "5", 1), 1);
    ::close(keys[1]);  // end of the keys: quits
    const Outcome o = finish(pid);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "err-line\n");
    const std::string shown = readFile(path("stdout"));
    const std::size_t line = shown.find("out-line");
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(shown.substr(line - 4, 13), "\r\x1b[Kout-line\n") << "the status line was not taken down first";
    EXPECT_EQ(lastStatusLine(shown.substr(0, line - 4)).substr(0, 6), "[COM1]");
    EXPECT_EQ(lastStatusLine(shown).substr(0, 6), "[FMS1]");
}

TEST_F(EndToEnd, WithoutCommandItTellsHowToReachThePanel) {
    const Outcome o = finish(start({VIRTUAL_PANEL_BIN, "--script", script("wait 10\n"), "--linger-ms", "10"}));
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("LD_PRELOAD="), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("VIRTUAL_PANEL_SOCKET="), std::string::npos) << o.err;
}

std::int64_t monotonicNow() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The report log: one line per played report, stamped on the machine's
// monotonic clock, saying whether the queue took it.
TEST_F(EndToEnd, ReportLogStampsEveryPlayedReport) {
    std::string text;
    for (int i = 1; i <= 66; ++i) {
        text += "report 0 0 " + std::to_string(i) + " 0\n";
    }
    text += "raw 01 02 03\nunplug\nreport 2 0 1 0\nplug\n";
    const std::int64_t before = monotonicNow();
    // Nobody reads the queue: after 64 reports it is full.
    const Outcome o =
        finish(start({VIRTUAL_PANEL_BIN, "--script", script(text), "--report-log", path("log"), "--linger-ms", "0"}));
    const std::int64_t after = monotonicNow();
    EXPECT_EQ(o.status, 0) << o.err;

    std::istringstream log(readFile(path("log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 68u);
    std::int64_t previous = before;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        ASSERT_EQ(line.rfind("{\"t_ns\":", 0), 0u) << line;
        const std::int64_t t = std::stoll(line.substr(8));
        EXPECT_GE(t, previous) << line;
        EXPECT_LE(t, after) << line;
        previous = t;
        std::string bytes;
        if (i < 66) {
            char outer[3];
            std::snprintf(outer, sizeof outer, "%02x", static_cast<unsigned>(i + 1));
            bytes = std::string("01 00 00 00 00 ") + outer + " 00 00";
        } else {
            bytes = i == 66 ? "01 02 03" : "01 00 00 00 00 01 00 02";
        }
        // 64 fit the queue; the rest were dropped, the last one unplugged.
        const char* queued = i < 64 ? "true" : "false";
        EXPECT_EQ(line.substr(line.find(",")), std::string(",\"bytes\":\"") + bytes + "\",\"queued\":" + queued + "}")
            << "line " << i + 1;
    }
}

}  // namespace
