// Starting COMMAND with the virtual hidapi in place, and the signals the
// single poll() loop has to hear about (child exit, SIGINT, SIGTERM).
#ifndef VIRTUAL_PANEL_CHILD_PROCESS_H
#define VIRTUAL_PANEL_CHILD_PROCESS_H

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
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
    int stdoutFd = -1;           // -1: ours
    int stderrFd = -1;
};

// COMMAND's output taken in, for the keyboard mode to show it above its
// status line rather than through it. Its stdout goes through a
// pseudo-terminal, so that COMMAND still writes to a terminal and flushes
// its lines as it would on ours; its stderr, unbuffered anyway, through a
// pipe, so the two streams stay apart.
class OutputCapture {
public:
    // Throws std::runtime_error when either cannot be made.
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // COMMAND's ends, for ChildLaunch; closed here once it has them.
    int childStdout() const { return childEnd_[0]; }
    int childStderr() const { return childEnd_[1]; }
    void closeChildEnds();

    // `stream` is 1 for COMMAND's stdout, 2 for its stderr.
    using Sink = std::function<void(int stream, std::span<const char> bytes)>;

    void addPollFds(std::vector<pollfd>& fds) const;
    // One read from each descriptor poll() reported.
    void read(std::span<const pollfd> fds, const Sink& sink);
    // What is still waiting once COMMAND has ended, up to a bound (something
    // COMMAND left behind may hold the other ends and write on).
    void drain(const Sink& sink);

private:
    // One read() of `fd` handed to `sink`; false when nothing came. At the
    // end (EOF, or EIO from a terminal whose other side is closed) `fd` is
    // closed and set to -1, so poll() stops watching it.
    static bool readOnce(int& fd, int stream, const Sink& sink);

    int ourEnd_[2] = {-1, -1};    // pseudo-terminal master, pipe's read end
    int childEnd_[2] = {-1, -1};  // pseudo-terminal slave, pipe's write end
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

#endif
