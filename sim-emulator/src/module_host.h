// The MobiFlight module's model on this server: its simulator port reads
// and writes through the Simulator (one store for L:vars and A:vars) and
// queues K: events as a TransmitClientEvent would; its channel port creates
// and writes client-data areas, so that clients' requests see the writes,
// and traces the commands and H: events.
#ifndef SIM_EMULATOR_MODULE_HOST_H
#define SIM_EMULATOR_MODULE_HOST_H

#include "mobiflight/ports.h"

namespace simemu {

class Server;

class ModuleHost final : public mobiflight::SimulatorPort, public mobiflight::ChannelPort {
public:
    explicit ModuleHost(Server& server) : server_(server) {}

    std::optional<double> read(std::string_view name, std::string_view unit) override;
    bool writeLocal(std::string_view name, double value) override;
    bool applyEvent(int client, std::string_view name, std::uint32_t data) override;
    void hEvent(std::string_view name) override;

    bool createArea(std::string_view name, std::size_t size) override;
    std::span<const std::uint8_t> area(std::string_view name) override;
    void writeArea(std::string_view name, std::size_t offset, std::span<const std::uint8_t> bytes) override;
    void traceCommand(std::string_view command) override;
    void say(const std::string& text) override;

private:
    Server& server_;
};

}  // namespace simemu

#endif
