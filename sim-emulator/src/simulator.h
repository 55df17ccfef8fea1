// The simulator's clock: events arrive at any time and take effect at a
// frame boundary, optionally some frames late, in the order they arrived.
#ifndef SIM_EMULATOR_SIMULATOR_H
#define SIM_EMULATOR_SIMULATOR_H

#include "input_events.h"
#include "model.h"
#include "named_variables.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace simemu {

struct AppliedEvent {
    int client = 0;
    std::string name;  // as the client mapped it
    std::uint32_t data = 0;
    NameClass name_class = NameClass::Custom;
    const EventInfo* event = nullptr;  // set for NameClass::Sim
    Effect effect;
    std::uint64_t count = 0;  // transmissions so far, for custom and unknown names
};

// Events one client may have waiting for their frame: far above what a
// panel sends in the longest delay a test plays, low enough that a client
// transmitting without end cannot take the machine's memory.
inline constexpr std::size_t kMaxWaitingEvents = 4096;
// Custom and unknown names counted one by one; transmissions of further
// names are counted together under kOtherNames, so that clients coming and
// going with new names cannot grow the counts without end.
inline constexpr std::size_t kMaxCountedNames = 4096;
inline constexpr std::string_view kOtherNames = "(other names)";

// An aircraft as the simulator names it: its TITLE and its aircraft.cfg path.
struct LoadedAircraft {
    std::string title;
    std::string path;
};
// A TITLE fits a STRING256 datum, a path MAX_PATH; a list to cycle through
// needs no more than a few.
inline constexpr std::size_t kMaxTitleBytes = 255;
inline constexpr std::size_t kMaxPathBytes = 259;
inline constexpr std::size_t kMaxAircraft = 64;
// The aircraft without --aircraft; no shipped profile matches it.
inline const LoadedAircraft kDefaultAircraft{"Emulated Aircraft", "SimObjects/Airplanes/Emulated/aircraft.cfg"};

class Simulator {
public:
    // An event name as a client mapped it, shared by the client's table and
    // every waiting transmission of it.
    using Name = std::shared_ptr<const std::string>;

    explicit Simulator(unsigned delay_frames = 0) : delay_frames_(delay_frames) {}

    Model& model() { return model_; }
    const Model& model() const { return model_; }

    // --- Named variables: L:vars and the A:vars the model does not hold
    NamedVariables& named() { return named_; }
    const NamedVariables& named() const { return named_; }
    // Any variable by the name a client gives ("L:NAME", "A:NAME:1", "NAME"):
    // a modelled one in the unit asked (its own when empty; nothing when the
    // unit is unknown or of another family), any other as it is held, in
    // whatever unit (0 when never written). Nothing for an empty name.
    std::optional<double> readVariable(std::string_view name, std::string_view unit) const;
    // Sets an L:var, created when new. False when the name is empty or the
    // store is full.
    bool writeLocal(std::string_view name, double value);

    // --- The loaded aircraft and its input events
    // The aircraft to cycle through, the first loaded now; none keeps
    // kDefaultAircraft.
    void setAircraft(std::vector<LoadedAircraft> list);
    const LoadedAircraft& aircraft() const { return aircraft_[current_]; }
    // Loads the next of the list, after the last the first again.
    const LoadedAircraft& loadNextAircraft();
    InputEvents& inputEvents() { return input_events_; }
    const InputEvents& inputEvents() const { return input_events_; }

    // Queues a transmitted event. It takes effect at the next frame
    // boundary plus the configured delay. False, and nothing queued, when
    // the client already has kMaxWaitingEvents waiting.
    bool receive(int client, Name name, std::uint32_t data);
    bool receive(int client, std::string_view name, std::uint32_t data);

    // Drops the waiting events of a client that has gone.
    void forget(int client);

    // Crosses one frame boundary and applies the events now due. The
    // returned list is valid until the next call.
    const std::vector<AppliedEvent>& advanceFrame();

    // Applies everything still waiting, as at exit, so that the final
    // state reflects every event received.
    const std::vector<AppliedEvent>& flush();

    std::uint64_t frame() const { return frame_; }
    std::size_t pending() const { return queue_.size(); }
    std::size_t waiting(int client) const;
    // Transmissions of events with an empty, dotted or "#nnnn" name.
    const std::map<std::string, std::uint64_t>& customCounts() const { return custom_; }
    // Transmissions of plain names the simulator does not know.
    const std::map<std::string, std::uint64_t>& unknownCounts() const { return unknown_; }

private:
    struct Pending {
        std::uint64_t due = 0;
        int client = 0;
        Name name;
        std::uint32_t data = 0;
    };
    void applyOne(const Pending& p);
    std::uint64_t count(std::map<std::string, std::uint64_t>& counts, const std::string& name);

    Model model_;
    NamedVariables named_;
    std::vector<LoadedAircraft> aircraft_{kDefaultAircraft};
    std::size_t current_ = 0;
    InputEvents input_events_;
    unsigned delay_frames_ = 0;
    std::uint64_t frame_ = 0;
    std::deque<Pending> queue_;
    std::map<int, std::size_t> waiting_;  // per client, those with any
    std::vector<AppliedEvent> applied_;
    std::map<std::string, std::uint64_t> custom_;
    std::map<std::string, std::uint64_t> unknown_;
};

}  // namespace simemu

#endif
