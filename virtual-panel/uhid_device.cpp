#include "uhid_device.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "uhid_event.h"

namespace vpanel {

namespace {

// hidapi reports these as the product string and the serial number.
constexpr const char* kName = "Virtual cockpit panel";
constexpr const char* kSerial = "virtual-panel";

std::runtime_error systemError(const std::string& what, const std::string& argument) {
    return std::runtime_error(what + "(" + argument + "): " + std::strerror(errno));
}

}  // namespace

UhidDevice::UhidDevice(DeviceListener& listener, std::string path, std::chrono::milliseconds settle)
    : listener_(listener),
      path_(std::move(path)),
      settle_(settle),
      out_(std::make_unique<uhid_event>()),
      in_(std::make_unique<uhid_event>()) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        std::string reason = std::strerror(error);
        if (error == ENOENT) {
            reason += " (this kernel offers no uhid; try: modprobe uhid)";
        }
        throw std::runtime_error("open(" + path_ + "): " + reason);
    }
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        const auto error = systemError("timerfd_create", path_);
        ::close(fd_);
        throw error;
    }
    uhid::encodeCreate(*out_, kName, kSerial);
    if (!writeOut()) {
        const auto error = systemError("create", path_);
        ::close(timerFd_);
        ::close(fd_);
        throw error;
    }
    plugged_ = true;
}

UhidDevice::~UhidDevice() {
    // Closing the uhid descriptor removes the device as well.
    ::close(timerFd_);
    ::close(fd_);
}

bool UhidDevice::writeOut() {
    ssize_t n;
    do {
        n = ::write(fd_, out_.get(), sizeof *out_);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof *out_);
}

InputResult UhidDevice::sendInput(std::span<const std::uint8_t> report) {
    if (!plugged_ || !uhid::encodeInput(*out_, report)) {
        return InputResult::DroppedUnplugged;
    }
    // The kernel refuses input until its HID driver has started the device.
    return writeOut() ? InputResult::Queued : InputResult::DroppedUnplugged;
}

void UhidDevice::unplug() {
    if (!plugged_) {
        return;
    }
    plugged_ = false;
    armSettle(false);
    uhid::encodeDestroy(*out_);
    if (!writeOut()) {
        std::fprintf(stderr, "virtual-panel: destroy(%s): %s\n", path_.c_str(), std::strerror(errno));
    }
}

void UhidDevice::plug() {
    if (plugged_) {
        return;
    }
    uhid::encodeCreate(*out_, kName, kSerial);
    if (!writeOut()) {
        std::fprintf(stderr, "virtual-panel: create(%s): %s\n", path_.c_str(), std::strerror(errno));
        return;
    }
    plugged_ = true;
}

void UhidDevice::armSettle(bool on) {
    itimerspec when{};
    if (on) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(settle_).count();
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        // A zero value would disarm the timer: at least one nanosecond.
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000) + (ns == 0 ? 1 : 0);
    }
    ::timerfd_settime(timerFd_, 0, &when, nullptr);
}

void UhidDevice::addPollFds(std::vector<pollfd>& fds) {
    fds.push_back({fd_, POLLIN, 0});
    fds.push_back({timerFd_, POLLIN, 0});
}

void UhidDevice::handlePoll(std::span<const pollfd> fds) {
    for (const pollfd& p : fds) {
        if (p.revents == 0) {
            continue;
        }
        if (p.fd == fd_) {
            readEvents();
        } else if (p.fd == timerFd_) {
            std::uint64_t expirations = 0;
            if (::read(timerFd_, &expirations, sizeof expirations) == sizeof expirations && plugged_) {
                listener_.deviceOpened();
            }
        }
    }
}

void UhidDevice::readEvents() {
    using Kind = uhid::Received::Kind;
    for (;;) {
        // Short events are to be read as if padded with zeros.
        std::memset(in_.get(), 0, sizeof *in_);
        const ssize_t n = ::read(fd_, in_.get(), sizeof *in_);
        if (n <= 0) {
            return;  // EAGAIN: all read; errors show again on the next poll
        }
        const uhid::Received event = uhid::decode(*in_, static_cast<std::size_t>(n));
        switch (event.kind) {
        case Kind::Open:
            // Before the settle time is over the kernel may still drop
            // input (its driver is finishing the probe).
            armSettle(true);
            break;
        case Kind::Close: armSettle(false); break;
        case Kind::Output: listener_.outputReport(event.data); break;
        case Kind::GetReport:
            // The panel has no feature or readable reports.
            uhid::encodeGetReportReply(*out_, event.id, EIO);
            (void)writeOut();
            break;
        case Kind::SetReport: {
            const bool output = event.reportType == UHID_OUTPUT_REPORT;
            uhid::encodeSetReportReply(*out_, event.id, output ? 0 : EIO);
            (void)writeOut();
            if (output) {
                listener_.outputReport(event.data);
            }
            break;
        }
        case Kind::Malformed:
            std::fprintf(stderr, "virtual-panel: read(%s): malformed event of %zd bytes\n", path_.c_str(), n);
            break;
        case Kind::Start:
        case Kind::Stop:
        case Kind::Other: break;
        }
    }
}

}  // namespace vpanel
