#include "output_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace vpanel {

OutputFile::OutputFile(std::string option, std::string path) : option_(std::move(option)), path_(std::move(path)) {}

OutputFile::~OutputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void OutputFile::report(const std::string& what, int error) {
    std::fprintf(stderr, "virtual-panel: %s(%s): %s%s\n", option_.c_str(), path_.c_str(), what.c_str(),
                 std::strerror(error));
}

bool OutputFile::open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        report("", errno);
        return false;
    }
    return true;
}

bool OutputFile::writeLine(std::string_view line) {
    if (failed_ || fd_ < 0) {
        return false;
    }
    std::string text(line);
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A zero-length write of a non-empty buffer makes no progress:
            // treated as a full device rather than retried for ever.
            report("write failed: ", n < 0 ? errno : ENOSPC);
            failed_ = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0) {
        return !failed_;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    // Linux closes the descriptor even when close() reports an error (an
    // NFS write-back failure, say): the lines may be lost, so it counts.
    if (result != 0 && errno != EINTR) {
        report("close failed: ", errno);
        failed_ = true;
    }
    return !failed_;
}

}  // namespace vpanel
