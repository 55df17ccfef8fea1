// The emulated aircraft's input events (B: events): the names given with
// --input-event, each with the hash a client enumerates and sets it by, and
// the value it was last set to.
#ifndef SIM_EMULATOR_INPUT_EVENTS_H
#define SIM_EMULATOR_INPUT_EVENTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simemu {

// The hash of an input event: 64-bit FNV-1a of its name's bytes as given.
// MSFS's own hashes are opaque numbers; this one is stable across runs and
// uses all 64 bits, so that a client keeping fewer is caught.
std::uint64_t inputEventHash(std::string_view name);

// Far above the few hundred a complex aircraft defines.
inline constexpr std::size_t kMaxInputEvents = 1024;
// Bytes of a descriptor's name field, its NUL included.
inline constexpr std::size_t kInputEventNameField = 64;
// Descriptors per ENUMERATE_INPUT_EVENTS record: a longer list comes in
// several, as MSFS cuts long lists.
inline constexpr std::size_t kInputEventsPerRecord = 64;

struct InputEvent {
    std::string name;
    std::uint64_t hash = 0;
    double value = 0.0;
};

class InputEvents {
public:
    InputEvents() = default;
    // Names checked by the caller (distinct, not empty, fitting the field).
    explicit InputEvents(const std::vector<std::string>& names);
    const std::vector<InputEvent>& all() const { return events_; }
    InputEvent* find(std::uint64_t hash);

private:
    std::vector<InputEvent> events_;
};

}  // namespace simemu

#endif
