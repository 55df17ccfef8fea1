// The device presented to libhidapi-virtual.so over a Unix socket (see
// wire.h for the messages).
#ifndef VIRTUAL_PANEL_SOCKET_DEVICE_H
#define VIRTUAL_PANEL_SOCKET_DEVICE_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel_device.h"
#include "report_queue.h"
#include "wire.h"

namespace vpanel {

class SocketDevice final : public PanelDevice {
public:
    // Listens on `path`; throws std::runtime_error when it cannot.
    SocketDevice(std::string path, DeviceListener& listener);
    ~SocketDevice() override;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;

    // A report goes straight to the read that has waited longest, if one
    // waits; otherwise into the queue.
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
    using Clock = std::chrono::steady_clock;

    struct Client {
        int fd;
        // A kReadWait not answered yet: nothing else is served meanwhile.
        bool waiting = false;
        std::uint64_t waitOrder = 0;                // older waits are served first
        std::optional<Clock::time_point> deadline;  // none: for ever
    };

    void acceptClient();
    // False when the connection is to be closed.
    bool serveClient(Client& client);
    void closeClients();
    bool sendReport(int fd, std::span<const std::uint8_t> report);
    void expireWaits();
    void armTimer();

    std::string path_;
    DeviceListener& listener_;
    int listenFd_ = -1;
    int timerFd_ = -1;  // fires at the earliest deadline of a waiting read
    std::vector<Client> clients_;
    std::uint64_t waits_ = 0;
    ReportQueue queue_;
    bool plugged_ = true;
    bool failWrites_ = false;
    std::vector<std::uint8_t> packet_;
};

}  // namespace vpanel

#endif
