#include "input_events.h"

namespace simemu {

std::uint64_t inputEventHash(std::string_view name) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const char c : name) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3u;
    }
    return h;
}

InputEvents::InputEvents(const std::vector<std::string>& names) {
    for (const auto& name : names) {
        events_.push_back(InputEvent{name, inputEventHash(name), 0.0});
    }
}

InputEvent* InputEvents::find(std::uint64_t hash) {
    for (auto& e : events_) {
        if (e.hash == hash) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace simemu
