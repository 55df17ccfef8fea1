// The device presented to libhidapi-virtual.so over a Unix socket (see
// wire.hpp for the messages).
#pragma once

#include <string>
#include <vector>

#include "panel_device.hpp"
#include "report_queue.hpp"
#include "wire.hpp"

namespace vpanel {

class SocketDevice final : public PanelDevice {
public:
    // Listens on `path`; throws std::runtime_error when it cannot.
    SocketDevice(std::string path, DeviceListener& listener);
    ~SocketDevice() override;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;

    InputResult sendInput(std::span<const std::uint8_t> report) override;
    void unplug() override;
    void plug() override;
    bool plugged() const override { return plugged_; }

    void addPollFds(std::vector<pollfd>& fds) override;
    void handlePoll(std::span<const pollfd> fds) override;

    // While on, every output report is refused: the program's hid_write
    // returns -1, and the listener hears of it through outputRefused.
    void failWrites(bool on) { failWrites_ = on; }

    const std::string& path() const { return path_; }
    std::size_t queued() const { return queue_.size(); }

private:
    void acceptClient();
    // False when the connection is to be closed.
    bool serveClient(int fd);
    void closeClients();

    std::string path_;
    DeviceListener& listener_;
    int listenFd_ = -1;
    std::vector<int> clients_;
    ReportQueue queue_;
    bool plugged_ = true;
    bool failWrites_ = false;
    std::vector<std::uint8_t> packet_;
};

}  // namespace vpanel
