#include "child_process.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "wire.h"

namespace vpanel {

namespace {

int pipeWriteEnd = -1;
int pipeReadEnd = -1;

constexpr std::array<int, 3> kHandledSignals{SIGINT, SIGTERM, SIGCHLD};

void onSignal(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const unsigned char event[2] = {static_cast<unsigned char>(signal),
                                    static_cast<unsigned char>(info != nullptr && info->si_code == SI_KERNEL)};
    // A full pipe only loses duplicates: the loop reaps and reacts anyway.
    (void)!::write(pipeWriteEnd, event, sizeof event);
    errno = savedErrno;
}

}  // namespace

SignalPipe::SignalPipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("pipe(signals): ") + std::strerror(errno));
    }
    pipeReadEnd = fds[0];
    pipeWriteEnd = fds[1];
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&action.sa_mask);
    for (int signal : kHandledSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
}

SignalPipe::~SignalPipe() {
    for (int signal : kHandledSignals) {
        ::signal(signal, SIG_DFL);
    }
    ::close(pipeReadEnd);
    ::close(pipeWriteEnd);
    pipeReadEnd = pipeWriteEnd = -1;
}

int SignalPipe::fd() const { return pipeReadEnd; }

bool SignalPipe::next(Event& event) {
    unsigned char bytes[2];
    if (::read(pipeReadEnd, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) {
        return false;
    }
    event.signal = bytes[0];
    event.fromTerminal = bytes[1] != 0;
    return true;
}

bool preloadablePath(std::string_view path) { return path.find_first_of(" :") == std::string_view::npos; }

pid_t spawnChild(const ChildLaunch& launch, std::string& error) {
    if (launch.argv.empty()) {
        error = "exec(): no command";
        return -1;
    }
    if (!preloadablePath(launch.preloadLibrary)) {
        error = "LD_PRELOAD(" + launch.preloadLibrary + "): a space or colon in the path would split it";
        return -1;
    }
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("pipe(exec): ") + std::strerror(errno);
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& arg : launch.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    // The child must not run our handlers between fork and exec.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    for (int signal : kHandledSignals) {
        sigaddset(&blocked, signal);
    }
    ::sigprocmask(SIG_BLOCK, &blocked, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int signal : kHandledSignals) {
            ::signal(signal, SIG_DFL);
        }
        ::signal(SIGPIPE, SIG_DFL);
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (!launch.preloadLibrary.empty()) {
            std::string preload = launch.preloadLibrary;
            if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
                preload += ' ';
                preload += old;
            }
            ::setenv("LD_PRELOAD", preload.c_str(), 1);
            ::setenv(wire::kSocketVariable, launch.socketPath.c_str(), 1);
            // A sanitized COMMAND refuses to start when a preloaded library
            // comes before its runtime; the library itself carries no sanitizer.
            std::string asan = "verify_asan_link_order=0";
            if (const char* old = std::getenv("ASAN_OPTIONS"); old != nullptr && *old != '\0') {
                asan = std::string(old) + ":" + asan;
            }
            ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
        }
        // dup2 leaves the copies open across exec, whatever the originals.
        if (launch.stdoutFd >= 0) {
            ::dup2(launch.stdoutFd, STDOUT_FILENO);
        }
        if (launch.stderrFd >= 0) {
            ::dup2(launch.stderrFd, STDERR_FILENO);
        }
        if (launch.stdinFromNull) {
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::close(null);
            }
        }
        ::execvp(argv[0], argv.data());
        const int code = errno;
        (void)!::write(report[1], &code, sizeof code);
        ::_exit(127);
    }
    const int forkErrno = errno;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        error = std::string("fork(") + launch.argv[0] + "): " + std::strerror(forkErrno);
        return -1;
    }
    int code = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof code)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        error = "exec(" + launch.argv[0] + "): " + std::strerror(code);
        return -1;
    }
    return pid;
}

OutputCapture::OutputCapture() {
    const auto fail = [this](const char* what) {
        const std::string error = std::string(what) + "(COMMAND's output): " + std::strerror(errno);
        for (int& fd : ourEnd_) {
            if (fd >= 0) ::close(fd);
        }
        closeChildEnds();
        throw std::runtime_error(error);
    };
    ourEnd_[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (ourEnd_[0] < 0 || ::grantpt(ourEnd_[0]) != 0 || ::unlockpt(ourEnd_[0]) != 0 ||
        ::ptsname_r(ourEnd_[0], name, sizeof name) != 0) {
        fail("posix_openpt");
    }
    childEnd_[0] = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (childEnd_[0] < 0) {
        fail("open");
    }
    // Bytes pass as written (no "\n" to "\r\n"): our own terminal does that.
    termios mode{};
    if (::tcgetattr(childEnd_[0], &mode) == 0) {
        mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        ::tcsetattr(childEnd_[0], TCSANOW, &mode);
    }
    // COMMAND sees the width of our terminal, when there is one.
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        ::ioctl(childEnd_[0], TIOCSWINSZ, &size);
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    ourEnd_[1] = pipeEnds[0];
    childEnd_[1] = pipeEnds[1];
    for (int fd : ourEnd_) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
}

OutputCapture::~OutputCapture() {
    for (int fd : ourEnd_) {
        if (fd >= 0) ::close(fd);
    }
    closeChildEnds();
}

void OutputCapture::closeChildEnds() {
    for (int& fd : childEnd_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void OutputCapture::addPollFds(std::vector<pollfd>& fds) const {
    for (int fd : ourEnd_) {
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
    }
}

bool OutputCapture::readOnce(int& fd, int stream, const Sink& sink) {
    if (fd < 0) {
        return false;
    }
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        sink(stream, std::span<const char>(buffer, static_cast<std::size_t>(n)));
        return true;
    }
    if (n == 0 || errno != EAGAIN) {
        ::close(fd);
        fd = -1;
    }
    return false;
}

void OutputCapture::read(std::span<const pollfd> fds, const Sink& sink) {
    for (const pollfd& p : fds) {
        for (int stream = 1; stream <= 2; ++stream) {
            if (p.revents != 0 && p.fd == ourEnd_[stream - 1]) {
                readOnce(ourEnd_[stream - 1], stream, sink);
            }
        }
    }
}

void OutputCapture::drain(const Sink& sink) {
    constexpr int kMaxReads = 16;  // 64 KiB a stream
    for (int stream = 1; stream <= 2; ++stream) {
        for (int i = 0; i < kMaxReads && readOnce(ourEnd_[stream - 1], stream, sink); ++i) {
        }
    }
}

int exitStatusFor(int waitStatus, bool endTermSent) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        const int signal = WTERMSIG(waitStatus);
        if (signal == SIGTERM && endTermSent) {
            return 0;
        }
        return 128 + signal;
    }
    return 1;
}

std::string findPreloadLibrary(std::string& error) {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        error = std::string("readlink(/proc/self/exe): ") + std::strerror(errno);
        return {};
    }
    const std::string path(self, static_cast<std::size_t>(n));
    const std::string dir = path.substr(0, path.rfind('/'));
    // The build tree's layout first, then where `cmake --install` puts it.
    const char* const candidates[] = {
        "../lib/libhidapi-virtual.so",
#if defined(VIRTUAL_PANEL_INSTALLED_LIBRARY)
        VIRTUAL_PANEL_INSTALLED_LIBRARY,
#endif
    };
    std::string tried;
    for (const char* relative : candidates) {
        const std::string candidate = dir + "/" + relative;
        char resolved[PATH_MAX];
        if (::realpath(candidate.c_str(), resolved) != nullptr) {
            return resolved;
        }
        tried += (tried.empty() ? "" : ", ") + candidate + ": " + std::strerror(errno);
    }
    error = "library(libhidapi-virtual.so): not found (" + tried + ")";
    return {};
}

}  // namespace vpanel
