#include "output.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace simemu {

Output::Output(std::FILE* file, std::string name, bool owned) : file_(file), name_(std::move(name)), owned_(owned) {}

Output::~Output() { close(); }

void Output::fail(int error) {
    if (failed_) {
        return;
    }
    failed_ = true;
    std::fprintf(stderr, "sim-emulator: %s: %s\n", name_.c_str(), error ? std::strerror(error) : "write error");
}

void Output::write(std::string_view text) {
    if (!file_ || failed_) {
        return;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
        fail(errno);
    }
}

bool Output::close() {
    if (!file_) {
        return !failed_;
    }
    errno = 0;
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    const int flush_error = errno;
    const bool closed = !owned_ || std::fclose(file_) == 0;
    const int close_error = errno;
    file_ = nullptr;
    if (!flushed) {
        fail(flush_error);
    } else if (!closed) {
        fail(close_error);
    }
    return !failed_;
}

namespace {

std::optional<std::string> writeWhole(const std::string& path, std::string_view text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        return std::strerror(errno);
    }
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    const int write_error = errno;
    if (std::fclose(f) != 0 || !written) {
        const int error = written ? errno : write_error;
        return error ? std::strerror(error) : "write error";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view text) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // Renaming over a device would replace the device node itself.
        return writeWhole(path, text);
    }
    const std::string tmp = path + ".tmp";
    if (auto error = writeWhole(tmp, text)) {
        std::remove(tmp.c_str());
        return error;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(tmp.c_str());
        return std::strerror(error);
    }
    return std::nullopt;
}

}  // namespace simemu
