// Child processes for tests (the real binaries: sim-emulator, msfs-panel,
// virtual-panel) and the files they leave behind.
#ifndef TESTS_COMMON_PROCESS_H
#define TESTS_COMMON_PROCESS_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testproc {

// A fresh folder under the temporary directory for one test's files, removed
// with everything in it when done, unless the test failed or KEEP_TEST_FILES
// is set: then it stays, and its path is said, to look into.
class TempDir {
public:
    explicit TempDir(const std::string& prefix)
        : path_((std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string()) {
        if (::mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp(" + path_ + ") failed");
    }
    ~TempDir() {
        if (std::getenv("KEEP_TEST_FILES") != nullptr || ::testing::Test::HasFailure()) {
            std::fprintf(stderr, "test files kept in %s\n", path_.c_str());
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The whole file; empty when it is missing.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Starts argv[0] in `cwd` with standard input from /dev/null, its outputs in
// the two files, and HOME set to `cwd` (so that a SimConnect.cfg in the
// tester's home never redirects the program); with `open_files` > 0, that
// many descriptors at most. The process ID, or -1 when it could not start.
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out_path,
                   const std::string& err_path, int open_files = -1) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid < 0 ? -1 : pid;
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("HOME", cwd.c_str(), 1);
    if (open_files > 0) {
        const rlimit limit{static_cast<rlim_t>(open_files), static_cast<rlim_t>(open_files)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
}

// The exit status, or 128 + the signal that ended it; -1 while it is still
// running after `timeout` (it is left running).
inline int waitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace testproc

#endif
