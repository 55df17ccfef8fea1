#include "output_file.h"

#include <cerrno>
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

void OutputFile::fail(const std::string& what, int error) {
    failed_ = true;
    error_ = "virtual-panel: " + option_ + "(" + path_ + "): " + what + std::strerror(error);
}

bool OutputFile::open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        fail("", errno);
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
            fail("write failed: ", n < 0 ? errno : ENOSPC);
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
        fail("close failed: ", errno);
    }
    return !failed_;
}

}  // namespace vpanel
