#include "simulator.h"

namespace simemu {

void Simulator::receive(int client, std::string_view name, std::uint32_t data) {
    queue_.push_back(Pending{frame_ + 1 + delay_frames_, client, std::string(name), data});
}

void Simulator::applyOne(Pending& p) {
    AppliedEvent a;
    a.client = p.client;
    a.data = p.data;
    a.name_class = classifyEventName(p.name);
    switch (a.name_class) {
    case NameClass::Sim:
        a.event = findEvent(p.name);
        a.effect = model_.apply(*a.event, p.data);
        break;
    case NameClass::Custom:
        a.count = ++custom_[p.name];
        break;
    case NameClass::Unknown:
        a.count = ++unknown_[p.name];
        break;
    }
    a.name = std::move(p.name);
    applied_.push_back(std::move(a));
}

const std::vector<AppliedEvent>& Simulator::advanceFrame() {
    applied_.clear();
    ++frame_;
    while (!queue_.empty() && queue_.front().due <= frame_) {
        applyOne(queue_.front());
        queue_.pop_front();
    }
    return applied_;
}

const std::vector<AppliedEvent>& Simulator::flush() {
    applied_.clear();
    while (!queue_.empty()) {
        applyOne(queue_.front());
        queue_.pop_front();
    }
    return applied_;
}

}  // namespace simemu
