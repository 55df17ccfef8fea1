// The device side of the virtual panel: how reports reach a program and how
// its output reports come back. The player and the interactive keys only see
// this interface, so another way of presenting the device (a kernel HID
// device, for instance) is one more implementation of it.
#ifndef VIRTUAL_PANEL_PANEL_DEVICE_H
#define VIRTUAL_PANEL_PANEL_DEVICE_H

#include <cstdint>
#include <span>
#include <vector>

#include <poll.h>

namespace vpanel {

// Called from inside PanelDevice::handlePoll: a listener only takes note
// and must not unplug or plug the device from there.
class DeviceListener {
public:
    virtual ~DeviceListener() = default;
    // A program opened the device; called on every open.
    virtual void deviceOpened() = 0;
    // A program wrote an output report.
    virtual void outputReport(std::span<const std::uint8_t> report) = 0;
    // A program's output report was refused (SocketDevice::failWrites).
    virtual void outputRefused(std::span<const std::uint8_t> report) = 0;
};

enum class InputResult { Queued, DroppedFull, DroppedUnplugged };

class PanelDevice {
public:
    virtual ~PanelDevice() = default;

    virtual InputResult sendInput(std::span<const std::uint8_t> report) = 0;
    // Unplugging drops whatever is waiting and fails every open handle.
    virtual void unplug() = 0;
    virtual void plug() = 0;
    virtual bool plugged() const = 0;

    // The device's part of the one poll() of the process: append its
    // descriptors, then handle what poll() reported for exactly those.
    virtual void addPollFds(std::vector<pollfd>& fds) = 0;
    virtual void handlePoll(std::span<const pollfd> fds) = 0;
};

}  // namespace vpanel

#endif
