// Starting COMMAND with the virtual hidapi in place, and the signals the
// single poll() loop has to hear about (child exit, SIGINT, SIGTERM).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace vpanel {

// SIGINT, SIGTERM and SIGCHLD arrive as bytes on a pipe that poll() watches.
class SignalPipe {
public:
    struct Event {
        int signal;
        // Sent by the kernel to the terminal's whole foreground group (Ctrl-C):
        // COMMAND got its own copy and must not get a second one.
        bool fromTerminal;
    };

    SignalPipe();  // throws std::runtime_error
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    int fd() const;
    // False once nothing more is waiting.
    bool next(Event& event);
};

struct ChildLaunch {
    std::vector<std::string> argv;
    std::string preloadLibrary;  // empty: the environment is left as it is
    std::string socketPath;
    bool stdinFromNull = false;  // when our own stdin carries the keys
};

// The dynamic loader splits LD_PRELOAD at spaces and colons: a library whose
// path holds one is not preloaded, and the program silently gets the
// system's hidapi. Such a library is reached through a symbolic link instead.
bool preloadablePath(std::string_view path);

// Forks and execs; returns the pid, or -1 with `error` set (then nothing is
// left running). Signals must already be routed through SignalPipe.
pid_t spawnChild(const ChildLaunch& launch, std::string& error);

// The status virtual-panel exits with for COMMAND's wait status: its exit
// code, 128 + signal for a signal, and 0 when it was killed by the SIGTERM
// that ends a finished run.
int exitStatusFor(int waitStatus, bool endTermSent);

// libhidapi-virtual.so: ../lib/ beside this executable (the build tree) or
// where `cmake --install` puts it; "" with `error` naming both.
std::string findPreloadLibrary(std::string& error);

}  // namespace vpanel
