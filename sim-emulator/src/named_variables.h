// L:vars, and the simulation variables (A:vars) the emulated aircraft does
// not model: one number each, found by name. Aircraft keep much of their
// state in such variables; a client may read any of them, and the emulator
// holds what it is told (--set, SetDataOnSimObject) without knowing what the
// variable means.
//
// Names are matched case-insensitively and shown as first given. Nothing is
// ever removed (in the simulator an L:var lives as long as the flight), so a
// variable's Id stays valid; the store holds at most a fixed number of them,
// so that clients naming ever new variables cannot take the memory.
#ifndef SIM_EMULATOR_NAMED_VARIABLES_H
#define SIM_EMULATOR_NAMED_VARIABLES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simemu {

enum class NamedKind : std::uint8_t {
    Local,  // "L:NAME"
    Sim,    // "A:NAME", or a plain simulation variable name
};

struct NamedRef {
    NamedKind kind = NamedKind::Sim;
    std::string_view name;  // without the prefix, trimmed
};

// What a variable name given by a client or on the command line stands for:
// "L:NAME" an L:var, "A:NAME" or "NAME" a simulation variable (the prefixes
// in either case). Nothing for an empty name.
std::optional<NamedRef> parseNamedRef(std::string_view text);

// L:vars and unmodelled A:vars together; far above what an aircraft and its
// panels use.
inline constexpr std::size_t kMaxNamedVariables = 4096;

class NamedVariables {
public:
    using Id = std::uint32_t;

    // The variable's Id, the variable created at 0 when new; nothing when it
    // is new and the store already holds kMaxNamedVariables.
    std::optional<Id> define(NamedKind kind, std::string_view name);
    std::optional<Id> find(NamedKind kind, std::string_view name) const;

    double value(Id id) const { return entries_[id].value; }
    void set(Id id, double value) { entries_[id].value = value; }
    NamedKind kind(Id id) const { return entries_[id].kind; }
    // "L:NAME" or "A:NAME", as first given.
    std::string displayName(Id id) const;

    std::size_t size() const { return entries_.size(); }
    // Every variable, L:vars first, each kind in name order (ignoring case).
    std::vector<Id> sorted() const;

private:
    struct Entry {
        NamedKind kind;
        std::string name;
        double value = 0.0;
    };
    static std::string key(NamedKind kind, std::string_view name);
    std::vector<Entry> entries_;
    std::map<std::string, Id> index_;  // by key(): kind letter and lower-cased name
};

}  // namespace simemu

#endif
