// What the model of the MobiFlight WASM module needs from the emulator
// around it: the simulator (variables, events) and the client-data areas
// it talks through. The server implements both; the tests use doubles.
#ifndef SIM_EMULATOR_MOBIFLIGHT_PORTS_H
#define SIM_EMULATOR_MOBIFLIGHT_PORTS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace simemu::mobiflight {

class SimulatorPort {
public:
    virtual ~SimulatorPort() = default;
    // A variable by name ("L:NAME", "A:NAME") in `unit`; nothing when it
    // cannot be read in that unit.
    virtual std::optional<double> read(std::string_view name, std::string_view unit) = 0;
    // Sets an L:var (created when new); false when the simulator refuses.
    virtual bool writeLocal(std::string_view name, double value) = 0;
    // A simulator event, applied as a TransmitClientEvent of that name from
    // `client` would be; false when refused.
    virtual bool applyEvent(int client, std::string_view name, std::uint32_t data) = 0;
    // An H: event, which only the aircraft's own code would act on.
    virtual void hEvent(std::string_view name) = 0;
};

class ChannelPort {
public:
    virtual ~ChannelPort() = default;
    // True when the area exists afterwards, made now or before.
    virtual bool createArea(std::string_view name, std::size_t size) = 0;
    // The area's bytes; empty when there is none.
    virtual std::span<const std::uint8_t> area(std::string_view name) = 0;
    // Writes into an area, as a SetClientData would: its readers get it.
    virtual void writeArea(std::string_view name, std::size_t offset, std::span<const std::uint8_t> bytes) = 0;
    // A command the module acts on, for the trace.
    virtual void traceCommand(std::string_view command) = 0;
    // A refusal, for whoever watches the emulator.
    virtual void say(const std::string& text) = 0;
};

}  // namespace simemu::mobiflight

#endif
