#include "named_variables.h"

#include "text.h"

namespace simemu {

std::optional<NamedRef> parseNamedRef(std::string_view text) {
    text = trim(text);
    NamedRef ref;
    if (text.size() >= 2 && text[1] == ':' && (text[0] == 'L' || text[0] == 'l')) {
        ref.kind = NamedKind::Local;
        text.remove_prefix(2);
    } else if (text.size() >= 2 && text[1] == ':' && (text[0] == 'A' || text[0] == 'a')) {
        text.remove_prefix(2);
    }
    ref.name = trim(text);
    if (ref.name.empty()) {
        return std::nullopt;
    }
    return ref;
}

std::string NamedVariables::key(NamedKind kind, std::string_view name) {
    return (kind == NamedKind::Local ? "l" : "a") + lowerCase(name);
}

std::optional<NamedVariables::Id> NamedVariables::find(NamedKind kind, std::string_view name) const {
    const auto it = index_.find(key(kind, name));
    if (it == index_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<NamedVariables::Id> NamedVariables::define(NamedKind kind, std::string_view name) {
    if (const auto id = find(kind, name)) {
        return id;
    }
    if (entries_.size() >= kMaxNamedVariables) {
        return std::nullopt;
    }
    const auto id = static_cast<Id>(entries_.size());
    entries_.push_back(Entry{kind, std::string(name), 0.0});
    index_.emplace(key(kind, name), id);
    return id;
}

std::string NamedVariables::displayName(Id id) const {
    const Entry& e = entries_[id];
    return (e.kind == NamedKind::Local ? "L:" : "A:") + e.name;
}

std::vector<NamedVariables::Id> NamedVariables::sorted() const {
    std::vector<Id> out;
    out.reserve(entries_.size());
    for (const char kind : {'l', 'a'}) {
        for (const auto& [k, id] : index_) {
            if (k.front() == kind) {
                out.push_back(id);
            }
        }
    }
    return out;
}

}  // namespace simemu
