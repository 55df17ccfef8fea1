// The panel as a real kernel HID device through /dev/uhid: programs open it
// with the system's hidapi (hidraw backend), so nothing is preloaded into
// them. The kernel's hidraw queue is the input queue here: a report sent
// while no program has the device open is dropped by the kernel, not kept.
#ifndef VIRTUAL_PANEL_UHID_DEVICE_H
#define VIRTUAL_PANEL_UHID_DEVICE_H

#include <chrono>
#include <memory>
#include <string>

#include "panel_device.h"

struct uhid_event;

namespace vpanel {

class UhidDevice final : public PanelDevice {
public:
    static constexpr const char* kDefaultPath = "/dev/uhid";

    // Opens `path` and creates the device; throws std::runtime_error when it
    // cannot. A program's open is passed on to the listener `settle` after
    // the kernel reports it, once hidraw delivers what is sent.
    UhidDevice(DeviceListener& listener, std::string path = kDefaultPath,
               std::chrono::milliseconds settle = std::chrono::milliseconds(100));
    ~UhidDevice() override;
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    InputResult sendInput(std::span<const std::uint8_t> report) override;
    void unplug() override;
    void plug() override;
    bool plugged() const override { return plugged_; }

    void addPollFds(std::vector<pollfd>& fds) override;
    void handlePoll(std::span<const pollfd> fds) override;

private:
    // Writes out_; false (with errno set) when the kernel refused it.
    bool writeOut();
    void readEvents();
    void armSettle(bool on);

    DeviceListener& listener_;
    std::string path_;
    std::chrono::milliseconds settle_;
    int fd_ = -1;
    int timerFd_ = -1;
    bool plugged_ = false;
    // About 4 KiB each, so kept off the stack and allocated once.
    std::unique_ptr<uhid_event> out_;
    std::unique_ptr<uhid_event> in_;
};

}  // namespace vpanel

#endif
