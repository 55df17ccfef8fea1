#include "simulator.h"

#include "text.h"

#include <algorithm>

namespace simemu {

std::optional<double> Simulator::readVariable(std::string_view name, std::string_view unit) const {
    const auto ref = parseNamedRef(name);
    if (!ref) {
        return std::nullopt;
    }
    if (ref->kind == NamedKind::Sim) {
        if (const auto var = findVar(ref->name)) {
            const auto u = findUnit(trim(unit).empty() ? info(*var).unit : unit);
            return u ? model_.read(*var, *u) : std::nullopt;
        }
    }
    const auto id = named_.find(ref->kind, ref->name);
    return id ? named_.value(*id) : 0.0;
}

bool Simulator::writeLocal(std::string_view name, double value) {
    name = trim(name);
    const auto id = name.empty() ? std::nullopt : named_.define(NamedKind::Local, name);
    if (!id) {
        return false;
    }
    named_.set(*id, value);
    return true;
}

void Simulator::setAircraft(std::vector<LoadedAircraft> list) {
    if (!list.empty()) {
        aircraft_ = std::move(list);
        current_ = 0;
    }
}

const LoadedAircraft& Simulator::loadNextAircraft() {
    current_ = (current_ + 1) % aircraft_.size();
    return aircraft_[current_];
}

bool Simulator::receive(int client, Name name, std::uint32_t data) {
    std::size_t& waiting = waiting_[client];
    if (waiting >= kMaxWaitingEvents) {
        return false;
    }
    ++waiting;
    queue_.push_back(Pending{frame_ + 1 + delay_frames_, client, std::move(name), data});
    return true;
}

bool Simulator::receive(int client, std::string_view name, std::uint32_t data) {
    return receive(client, std::make_shared<const std::string>(name), data);
}

void Simulator::forget(int client) {
    std::erase_if(queue_, [client](const Pending& p) { return p.client == client; });
    waiting_.erase(client);
}

std::size_t Simulator::waiting(int client) const {
    const auto it = waiting_.find(client);
    return it == waiting_.end() ? 0 : it->second;
}

std::uint64_t Simulator::count(std::map<std::string, std::uint64_t>& counts, const std::string& name) {
    auto it = counts.find(name);
    if (it == counts.end()) {
        const bool room = custom_.size() + unknown_.size() < kMaxCountedNames;
        it = counts.try_emplace(room ? name : std::string(kOtherNames), 0).first;
    }
    return ++it->second;
}

void Simulator::applyOne(const Pending& p) {
    if (const auto it = waiting_.find(p.client); it != waiting_.end() && --it->second == 0) {
        waiting_.erase(it);
    }
    AppliedEvent a;
    a.client = p.client;
    a.data = p.data;
    a.name = *p.name;
    a.name_class = classifyEventName(a.name);
    switch (a.name_class) {
    case NameClass::Sim:
        a.event = findEvent(a.name);
        a.effect = model_.apply(*a.event, p.data);
        break;
    case NameClass::Custom: a.count = count(custom_, a.name); break;
    case NameClass::Unknown: a.count = count(unknown_, a.name); break;
    }
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
