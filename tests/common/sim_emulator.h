// sim-emulator for tests, on 127.0.0.1: the binary SIM_EMULATOR (which each
// test target defines), started with its files in a folder, stopped by a
// signal, and killed if it is still running when the object goes.
#ifndef TESTS_COMMON_SIM_EMULATOR_H
#define TESTS_COMMON_SIM_EMULATOR_H

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "process.h"

class SimEmulator {
public:
    // In a temporary folder of its own, removed with the object.
    SimEmulator() : own_dir_(std::make_unique<testproc::TempDir>("sim-emulator-test")), dir_(own_dir_->path()) {}
    // With its files in `dir`: NAME.port, NAME.out (standard output) and
    // NAME.err (standard error).
    SimEmulator(std::string dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {}
    ~SimEmulator() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    SimEmulator(const SimEmulator&) = delete;
    SimEmulator& operator=(const SimEmulator&) = delete;

    // Starts it listening on `port` (0: a free one) with `args` after the
    // port options; true once it has written its port. False when it could
    // not start, exited, or wrote no port within 5 s (it is killed then).
    bool start(const std::vector<std::string>& args = {}, int port = 0) {
        const std::string port_file = path(name_ + ".port");
        std::remove(port_file.c_str());
        std::vector<std::string> all = {"--port", std::to_string(port), "--port-file", port_file};
        all.insert(all.end(), args.begin(), args.end());
        if (!launch(all)) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            // Whole once the line ends: the emulator may be writing it.
            const std::string text = testproc::readFile(port_file);
            if (!text.empty() && text.back() == '\n') {
                port_ = std::atoi(text.c_str());
                return port_ > 0;
            }
            if (testproc::waitExit(pid_, std::chrono::milliseconds(0)) != -1) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop(SIGKILL);
        return false;
    }
    // Starts it with exactly `args`, for runs that end by themselves.
    bool launch(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {binary_};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = testproc::spawn(argv, dir_, outPath(), errPath(), open_files_);
        return pid_ > 0;
    }
    // launch(), then wait(): its exit status.
    int runToEnd(const std::vector<std::string>& args) { return launch(args) ? wait() : -1; }

    // Its exit status, or 128 + the signal that ended it; -1 when it is
    // still running after `timeout`, or was not started.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (pid_ <= 0) return -1;
        const int status = testproc::waitExit(pid_, timeout);
        if (status != -1) pid_ = -1;
        return status;
    }
    // Sends `signal` (SIGTERM: it sends QUIT to its clients and leaves;
    // SIGKILL: the link is lost), then wait().
    int stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        if (pid_ <= 0) return -1;
        ::kill(pid_, signal);
        return wait(timeout);
    }

    // The open-file limit (RLIMIT_NOFILE) of the next start.
    void limitOpenFiles(int n) { open_files_ = n; }

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // A file in its folder.
    std::string path(const std::string& file) const { return dir_ + "/" + file; }
    std::string outPath() const { return path(name_ + ".out"); }
    std::string errPath() const { return path(name_ + ".err"); }
    std::string out() const { return testproc::readFile(outPath()); }
    std::string err() const { return testproc::readFile(errPath()); }

private:
    std::unique_ptr<testproc::TempDir> own_dir_;  // none when given a folder
    std::string binary_ = SIM_EMULATOR;
    std::string dir_;
    std::string name_ = "emulator";
    pid_t pid_ = -1;
    int port_ = 0;
    int open_files_ = -1;
};

#endif
