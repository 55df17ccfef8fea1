// A sim-emulator process for tests: started on a free port of 127.0.0.1
// with the given extra options, killed when the object goes.
#ifndef TESTS_COMMON_EMULATOR_PROCESS_H
#define TESTS_COMMON_EMULATOR_PROCESS_H

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char** environ;

class EmulatorProcess {
public:
    // port() stays 0 when the emulator did not start or did not listen
    // within 5 s.
    EmulatorProcess(const char* binary, const std::string& port_file, const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {binary, "--port", "0", "--port-file", port_file, "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, binary, nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(port_file);
            in >> port_;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~EmulatorProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // SIGTERM (the emulator sends QUIT to its clients), then the wait status.
    int stop()
    {
        int status = -1;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

#endif
