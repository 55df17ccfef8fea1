#include "profiles/profile_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

#include <toml++/toml.h>

namespace profiles {

namespace {

// SimConnect's names travel in fields of 256 bytes, NUL included.
constexpr std::size_t kMaxNameLength = 255;

std::string_view trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.'; }

// Event names: stock (AP_MASTER), an aircraft's dotted ones
// (A32NX.FCU_HDG_INC), numbered ones (#69632).
bool isEventName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    if (name.front() == '#') {
        return name.size() > 1 && std::all_of(name.begin() + 1, name.end(),
                                              [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
    }
    return std::all_of(name.begin(), name.end(), isNameChar);
}

bool isVariableName(std::string_view name) {
    return !name.empty() && name.size() + 2 <= kMaxNameLength && std::all_of(name.begin(), name.end(), isNameChar);
}

// A decimal number, as the value of an L:var or input event, or a compared value.
std::optional<double> parseNumber(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// An integer in decimal or 0x hexadecimal, optionally negative, within
// `lowest` to `highest`.
std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t lowest, std::int64_t highest) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    const std::int64_t value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (value < lowest || value > highest) return std::nullopt;
    return value;
}

constexpr std::string_view kActionKinds = "K:, L:, B:, H:, RPN:, builtin or none";

// "NAME=VALUE", "NAME+=STEP", "NAME-=STEP" after L: (B: takes only "=").
bool splitAssignment(std::string_view rest, bool steps, std::string_view& name, char& op, std::string_view& value) {
    const std::size_t equals = rest.find('=');
    if (equals == std::string_view::npos) return false;
    op = '=';
    std::size_t nameEnd = equals;
    if (steps && equals > 0 && (rest[equals - 1] == '+' || rest[equals - 1] == '-')) {
        op = rest[equals - 1];
        nameEnd = equals - 1;
    }
    name = trim(rest.substr(0, nameEnd));
    value = rest.substr(equals + 1);
    return true;
}

}  // namespace

std::optional<Action> parseAction(std::string_view text, std::string& fault) {
    Action action;
    action.text = std::string(text);
    const std::string_view written = trim(text);
    const std::size_t colon = written.find(':');
    const std::string_view kind = colon == std::string_view::npos ? written : written.substr(0, colon);
    const std::string_view rest = colon == std::string_view::npos ? std::string_view{} : written.substr(colon + 1);
    if (kind == "K") {
        action.kind = Action::Kind::Event;
        const std::size_t dataColon = rest.find(':');
        const std::string_view name = trim(rest.substr(0, dataColon));
        if (!isEventName(name)) {
            fault = "bad event name in " + inQuotes(text) + ": letters, digits, _ and . (or #NUMBER)";
            return std::nullopt;
        }
        action.name = std::string(name);
        if (dataColon != std::string_view::npos) {
            const auto data = parseInteger(rest.substr(dataColon + 1), std::numeric_limits<std::int32_t>::min(),
                                           std::numeric_limits<std::uint32_t>::max());
            if (!data) {
                fault = "bad event data in " + inQuotes(text) +
                        ": an integer (decimal, 0x hexadecimal, or negative) that fits 32 bits";
                return std::nullopt;
            }
            action.data = static_cast<std::uint32_t>(*data);
        }
        return action;
    }
    if (kind == "L" || kind == "B") {
        std::string_view name;
        std::string_view value;
        char op = '=';
        const bool lvar = kind == "L";
        if (!splitAssignment(rest, lvar, name, op, value)) {
            fault = lvar ? "L: needs =VALUE, +=STEP or -=STEP in " + inQuotes(text)
                         : "B: needs =VALUE in " + inQuotes(text);
            return std::nullopt;
        }
        if (!isVariableName(name)) {
            fault = std::string("bad ") + (lvar ? "L:var" : "input event") + " name in " + inQuotes(text) +
                    ": letters, digits, _ and .";
            return std::nullopt;
        }
        const std::optional<double> number = parseNumber(value);
        if (!number) {
            fault = "bad number in " + inQuotes(text);
            return std::nullopt;
        }
        action.name = std::string(name);
        action.value = op == '-' ? -*number : *number;
        action.kind = !lvar ? Action::Kind::SetInput : op == '=' ? Action::Kind::SetLvar : Action::Kind::AddLvar;
        return action;
    }
    if (kind == "H") {
        const std::string_view name = trim(rest);
        if (!isVariableName(name)) {
            fault = "bad H: event name in " + inQuotes(text) + ": letters, digits, _ and .";
            return std::nullopt;
        }
        action.kind = Action::Kind::HEvent;
        action.name = std::string(name);
        return action;
    }
    if (kind == "RPN") {
        const std::string_view code = trim(rest);
        if (code.empty() || code.size() > kMaxNameLength) {
            fault = "RPN: needs its code (at most 255 characters) in " + inQuotes(text);
            return std::nullopt;
        }
        action.kind = Action::Kind::Rpn;
        action.name = std::string(code);
        return action;
    }
    fault = "unknown action kind " + inQuotes(colon == std::string_view::npos ? written : kind) + " in " +
            inQuotes(text) + " (actions: " + std::string(kActionKinds) + ")";
    return std::nullopt;
}

std::optional<LedTerm> parseLedTerm(std::string_view text, std::string& fault) {
    LedTerm term;
    term.text = std::string(text);
    const std::string_view written = trim(text);
    std::string_view rest;
    if (written.starts_with("L:")) {
        term.source = LedTerm::Source::Lvar;
    } else if (written.starts_with("A:")) {
        term.source = LedTerm::Source::Simvar;
    } else if (written.starts_with("R:")) {
        // The code gives the value itself: a comparison belongs inside it.
        term.source = LedTerm::Source::Rpn;
        term.variable = std::string(trim(written.substr(2)));
        if (term.variable.empty() || term.variable.size() > kMaxNameLength) {
            fault = "R: needs its code (at most 255 characters) in " + inQuotes(text);
            return std::nullopt;
        }
        return term;
    } else {
        const std::size_t colon = written.find(':');
        fault = "unknown LED source " +
                inQuotes(colon == std::string_view::npos ? written : written.substr(0, colon + 1)) + " in " +
                inQuotes(text) + " (sources: L:NAME, A:NAME[:INDEX][, UNIT], R:CODE, builtin or off)";
        return std::nullopt;
    }
    rest = written.substr(2);
    const std::size_t opAt = rest.find_first_of("=!<>&");
    std::string_view variable = trim(rest.substr(0, opAt));
    if (opAt != std::string_view::npos) {
        std::string_view tail = rest.substr(opAt);
        struct Operator {
            std::string_view text;
            LedTerm::Test test;
        };
        // Two-character operators first, so that "<=" is not read as "<".
        static constexpr Operator kOperators[] = {
            {"==", LedTerm::Test::Equal},        {"!=", LedTerm::Test::NotEqual}, {"<=", LedTerm::Test::LessEqual},
            {">=", LedTerm::Test::GreaterEqual}, {"<", LedTerm::Test::Less},      {">", LedTerm::Test::Greater},
            {"&", LedTerm::Test::Mask},
        };
        const Operator* found = nullptr;
        for (const Operator& op : kOperators) {
            if (tail.starts_with(op.text)) {
                found = &op;
                break;
            }
        }
        // "=<", "=>", "!": an operator character that makes none of them.
        if (found == nullptr || (tail.size() > found->text.size() &&
                                 std::string_view("=!<>&").find(tail[found->text.size()]) != std::string_view::npos)) {
            const std::size_t opEnd = tail.find_first_not_of("=!<>&");
            fault = "unknown operator " + inQuotes(tail.substr(0, opEnd)) + " in " + inQuotes(text) +
                    " (operators: == != < <= > >= &)";
            return std::nullopt;
        }
        term.test = found->test;
        const std::string_view operand = tail.substr(found->text.size());
        if (term.test == LedTerm::Test::Mask) {
            const auto mask = parseInteger(operand, 1, std::numeric_limits<std::int64_t>::max());
            if (!mask) {
                fault = "bad mask in " + inQuotes(text) + ": a positive integer (decimal or 0x hexadecimal)";
                return std::nullopt;
            }
            term.mask = static_cast<std::uint64_t>(*mask);
        } else {
            const std::optional<double> number = parseNumber(operand);
            if (!number) {
                fault = "bad number after the operator in " + inQuotes(text);
                return std::nullopt;
            }
            term.operand = *number;
        }
    }
    if (term.source == LedTerm::Source::Lvar) {
        if (!isVariableName(variable)) {
            fault = "bad L:var name in " + inQuotes(text) + ": letters, digits, _ and .";
            return std::nullopt;
        }
        term.variable = std::string(variable);
        return term;
    }
    // A:NAME[:INDEX][, UNIT]
    std::string_view unit = "number";
    if (const std::size_t comma = variable.find(','); comma != std::string_view::npos) {
        unit = trim(variable.substr(comma + 1));
        variable = trim(variable.substr(0, comma));
    }
    std::string_view name = variable;
    if (const std::size_t colon = variable.find(':'); colon != std::string_view::npos) {
        name = trim(variable.substr(0, colon));
        if (!parseInteger(variable.substr(colon + 1), 0, 255)) {
            fault = "bad index in " + inQuotes(text) + ": A:NAME:INDEX with INDEX 0 to 255";
            return std::nullopt;
        }
    }
    const bool goodName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == ' ';
    });
    const bool goodUnit = !unit.empty() && unit.size() < 64 && std::all_of(unit.begin(), unit.end(), [](char c) {
        return std::isprint(static_cast<unsigned char>(c)) != 0 && c != '"';
    });
    if (!goodName || variable.size() > kMaxNameLength) {
        fault = "bad simulation variable in " + inQuotes(text) + ": A:NAME[:INDEX][, UNIT]";
        return std::nullopt;
    }
    if (!goodUnit) {
        fault = "bad unit in " + inQuotes(text);
        return std::nullopt;
    }
    term.variable = std::string(variable);
    term.unit = std::string(unit);
    return term;
}

namespace {

constexpr std::string_view kControlList =
    "outer, inner, push, swap, direct_to, menu, clr, ent, ap_cdi, hdg_obs, nav_msg, apr_fpl, alt_vnav, vs_proc";

int lineOf(const toml::node& node, int fallback) {
    const int line = static_cast<int>(node.source().begin.line);
    return line > 0 ? line : fallback;
}

int lineOf(const toml::key& key, int fallback) {
    const int line = static_cast<int>(key.source().begin.line);
    return line > 0 ? line : fallback;
}

// toml++ keeps a table's keys sorted by name; faults are said in the order
// of the file.
std::vector<std::pair<const toml::key*, const toml::node*>> inFileOrder(const toml::table& table) {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (auto&& [key, node] : table) entries.emplace_back(&key, &node);
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const auto at = [](const auto& e) {
            return std::make_pair(lineOf(*e.first, 0), e.first->source().begin.column);
        };
        return at(a) < at(b);
    });
    return entries;
}

std::string modeList() {
    std::string list;
    for (const char* name : kModeNames) list += (list.empty() ? "" : " ") + std::string(name);
    return list;
}

std::string ledList() {
    std::string list;
    for (std::string_view name : kLedNames) list += (list.empty() ? "" : " ") + std::string(name);
    return list;
}

// Reads one table after another into the profile, collecting faults.
class Reader {
public:
    Reader(const std::string& shown, Profile& profile) : shown_(shown), profile_(profile) {}

    std::vector<std::string> faults;

    void fault(int line, const std::string& what) {
        if (faults.size() < kMaxFaults) {
            faults.push_back(shown_ + ":" + std::to_string(line) + ": " + what);
        }
    }

    void readTop(const toml::table& top) {
        for (auto&& [keyAt, nodeAt] : inFileOrder(top)) {
            const toml::key& key = *keyAt;
            const toml::node& node = *nodeAt;
            const int line = lineOf(key, lineOf(node, 1));
            const std::string_view name = key.str();
            if (name == "name") {
                if (const auto* text = node.as_string(); text != nullptr && !text->get().empty()) {
                    profile_.name = text->get();
                } else {
                    fault(line, "name must be a non-empty string");
                }
            } else if (name == "match") {
                readMatch(node, line);
            } else if (name == "accelerate") {
                if (const auto* flag = node.as_boolean()) {
                    profile_.accelerate = flag->get();
                } else {
                    fault(line, "accelerate must be true or false");
                }
            } else if (name == "leds") {
                if (const auto* table = node.as_table()) {
                    readLeds(*table);
                } else {
                    fault(line, "leds must be a table: [leds]");
                }
            } else if (const auto* table = node.as_table()) {
                readModeTable(name, *table, line);
            } else {
                fault(line, "unknown key " + inQuotes(name) +
                                " (at the top: name, match, accelerate, [leds] and tables of modes)");
            }
        }
        checkShiftReachable();
    }

private:
    const std::string& shown_;
    Profile& profile_;
    // Per mode and shift flag, where each control was named, for the fault
    // of naming it twice.
    std::array<std::array<std::array<int, kControlCount>, kModeCount>, 2> named_at_{};
    std::array<std::array<std::array<int, 2>, kModeCount>, 2> knob_set_at_{};
    std::array<int, kModeCount> shift_table_at_{};

    void readMatch(const toml::node& node, int line) {
        const auto add = [&](const toml::node& item) {
            const auto* text = item.as_string();
            if (text == nullptr || text->get().empty()) {
                fault(lineOf(item, line), "match takes non-empty strings: match = [\"A32NX\"]");
                return;
            }
            profile_.match.push_back(text->get());
        };
        if (const auto* list = node.as_array()) {
            for (const toml::node& item : *list) add(item);
        } else {
            add(node);
        }
    }

    void readLeds(const toml::table& table) {
        for (auto&& [keyAt, nodeAt] : inFileOrder(table)) {
            const toml::key& key = *keyAt;
            const toml::node& node = *nodeAt;
            const int line = lineOf(key, lineOf(node, 1));
            const auto led = std::find(kLedNames.begin(), kLedNames.end(), key.str());
            if (led == kLedNames.end()) {
                fault(line, "unknown LED " + inQuotes(key.str()) + " (LEDs: " + ledList() + ")");
                continue;
            }
            LedSource& source = profile_.leds[static_cast<std::size_t>(led - kLedNames.begin())];
            source.line = line;
            if (const auto* text = node.as_string()) {
                if (text->get() == "builtin") {
                    source.kind = LedSource::Kind::Builtin;
                    continue;
                }
                if (text->get() == "off") {
                    source.kind = LedSource::Kind::Off;
                    continue;
                }
            }
            source.kind = LedSource::Kind::Terms;
            const auto addTerm = [&](const toml::node& item) {
                const int itemLine = lineOf(item, line);
                const auto* text = item.as_string();
                if (text == nullptr) {
                    fault(itemLine, "an LED source is a string, or a list of strings");
                    return;
                }
                std::string why;
                if (std::optional<LedTerm> term = parseLedTerm(text->get(), why)) {
                    term->line = itemLine;
                    source.any.push_back(std::move(*term));
                } else {
                    fault(itemLine, why);
                }
            };
            if (const auto* list = node.as_array()) {
                if (list->empty()) fault(line, "an empty list of LED sources: write \"off\"");
                for (const toml::node& item : *list) addTerm(item);
            } else {
                addTerm(node);
            }
        }
    }

    void readModeTable(std::string_view header, const toml::table& table, int line) {
        std::vector<std::size_t> modes;
        std::size_t start = 0;
        while (start < header.size()) {
            const std::size_t end = std::min(header.find(' ', start), header.size());
            const std::string_view word = header.substr(start, end - start);
            start = end + 1;
            if (word.empty()) continue;
            const auto mode = std::find(kModeNames.begin(), kModeNames.end(), word);
            if (mode == kModeNames.end()) {
                fault(line, "unknown mode " + inQuotes(word) + " (modes: " + modeList() + ")");
                return;
            }
            const auto index = static_cast<std::size_t>(mode - kModeNames.begin());
            if (std::find(modes.begin(), modes.end(), index) != modes.end()) {
                fault(line, "mode " + inQuotes(word) + " named twice in " + inQuotes(header));
                return;
            }
            modes.push_back(index);
        }
        if (modes.empty()) {
            fault(line, "a table of modes names at least one mode (modes: " + modeList() + ")");
            return;
        }
        readControls(modes, false, table, line);
        if (const toml::node* shift = table.get("shift")) {
            const toml::table* shifted = shift->as_table();
            const int shiftLine = lineOf(*shift, line);
            if (shifted == nullptr) {
                fault(shiftLine, "shift must be a table: [\"" + std::string(header) + "\".shift]");
                return;
            }
            for (std::size_t mode : modes) {
                if (mode == FMS1 || mode == FMS2) {
                    fault(shiftLine, std::string("shift is never on in ") + kModeNames[mode] +
                                         ": the knob push there is the navigator's");
                    return;
                }
                shift_table_at_[mode] = shiftLine;
            }
            readControls(modes, true, *shifted, shiftLine);
        }
    }

    void readControls(const std::vector<std::size_t>& modes, bool shift, const toml::table& table, int tableLine) {
        for (auto&& [keyAt, nodeAt] : inFileOrder(table)) {
            const toml::key& key = *keyAt;
            const toml::node& node = *nodeAt;
            const std::string_view name = key.str();
            const int line = lineOf(key, lineOf(node, tableLine));
            if (name == "shift" && !shift) continue;  // read by the caller
            if (name == "outer" || name == "inner") {
                readKnob(modes, shift, name == "outer" ? 0 : 1, node, line);
                continue;
            }
            const auto button =
                std::find_if(kButtons.begin(), kButtons.end(), [&](const ButtonName& b) { return b.name == name; });
            if (button == kButtons.end()) {
                fault(line, "unknown control " + inQuotes(name) + " (controls: " + std::string(kControlList) + ")");
                continue;
            }
            if (shift && button->control == Control::Push) {
                fault(line,
                      "push cannot be re-mapped with shift on: re-mapping push keeps shift off in its mode "
                      "(name it in the table without .shift)");
                continue;
            }
            if (std::optional<Binding> binding = readBinding(node, line, true)) {
                place(modes, shift, button->control, *binding, name);
            }
        }
    }

    void readKnob(const std::vector<std::size_t>& modes, bool shift, int knob, const toml::node& node, int line) {
        const auto* table = node.as_table();
        const char* knobName = knob == 0 ? "outer" : "inner";
        if (table == nullptr) {
            fault(line, std::string(knobName) + " takes cw and ccw: " + knobName + ".cw = \"K:...\"");
            return;
        }
        for (auto&& [keyAt, valueAt] : inFileOrder(*table)) {
            const toml::key& key = *keyAt;
            const toml::node& value = *valueAt;
            const int keyLine = lineOf(key, lineOf(value, line));
            const std::string_view name = key.str();
            if (name == "accelerate") {
                const auto* flag = value.as_boolean();
                if (flag == nullptr) {
                    fault(keyLine, std::string(knobName) + ".accelerate must be true or false");
                    continue;
                }
                for (std::size_t mode : modes) {
                    int& at = knob_set_at_[shift][mode][static_cast<std::size_t>(knob)];
                    if (at != 0) {
                        fault(keyLine, std::string(knobName) + ".accelerate for " + kModeNames[mode] +
                                           " already given at line " + std::to_string(at));
                        return;
                    }
                    at = keyLine;
                    Knob& setting =
                        (shift ? profile_.shifted : profile_.plain)[mode].knobs[static_cast<std::size_t>(knob)];
                    setting.accelerate = flag->get();
                    setting.line = keyLine;
                }
                continue;
            }
            if (name != "cw" && name != "ccw") {
                fault(keyLine, "unknown control " + inQuotes(std::string(knobName) + "." + std::string(name)) +
                                   " (a knob has cw, ccw and accelerate)");
                continue;
            }
            const auto control = static_cast<Control>(2 * knob + (name == "cw" ? 0 : 1));
            if (std::optional<Binding> binding = readBinding(value, keyLine, false)) {
                place(modes, shift, control, *binding, std::string(knobName) + "." + std::string(name));
            }
        }
    }

    void place(const std::vector<std::size_t>& modes, bool shift, Control control, const Binding& binding,
               std::string_view name) {
        for (std::size_t mode : modes) {
            int& at = named_at_[shift][mode][static_cast<std::size_t>(control)];
            if (at != 0) {
                fault(binding.line, std::string(name) + " for " + kModeNames[mode] + (shift ? " with shift" : "") +
                                        " already given at line " + std::to_string(at));
                return;
            }
            at = binding.line;
            (shift ? profile_.shifted : profile_.plain)[mode].controls[static_cast<std::size_t>(control)] = binding;
        }
    }

    // A list of actions: one string, or an array of them run in order.
    bool readActions(const toml::node& node, int line, std::vector<Action>& into) {
        const auto one = [&](const toml::node& item) {
            const int itemLine = lineOf(item, line);
            const auto* text = item.as_string();
            if (text == nullptr) {
                fault(itemLine, "an action is a string, e.g. \"K:AP_MASTER\"");
                return false;
            }
            if (text->get() == "builtin" || text->get() == "none") {
                fault(itemLine, inQuotes(text->get()) + " stands alone, not in a list or a press/release table");
                return false;
            }
            std::string why;
            std::optional<Action> action = parseAction(text->get(), why);
            if (!action) {
                fault(itemLine, why);
                return false;
            }
            action->line = itemLine;
            into.push_back(std::move(*action));
            return true;
        };
        if (const auto* list = node.as_array()) {
            if (list->empty()) {
                fault(line, "an empty list of actions: write \"none\"");
                return false;
            }
            bool good = true;
            for (const toml::node& item : *list) good = one(item) && good;
            return good;
        }
        return one(node);
    }

    std::optional<Binding> readBinding(const toml::node& node, int line, bool button) {
        Binding binding;
        binding.line = lineOf(node, line);
        if (const auto* text = node.as_string()) {
            if (text->get() == "builtin") {
                binding.builtin = true;
                return binding;
            }
            if (text->get() == "none") return binding;
        }
        if (const auto* table = node.as_table()) {
            if (!button) {
                fault(line, "a knob direction runs once per detent: no press/release table");
                return std::nullopt;
            }
            const toml::node* press = table->get("press");
            bool good = true;
            for (auto&& [key, value] : *table) {
                if (key.str() != "press" && key.str() != "release") {
                    fault(lineOf(key, line),
                          "unknown key " + inQuotes(key.str()) + " (a button takes press and release)");
                    good = false;
                }
            }
            if (press == nullptr) {
                fault(line, "a press/release table needs press (\"none\" for nothing)");
                return std::nullopt;
            }
            const auto* pressText = press->as_string();
            if (pressText == nullptr || pressText->get() != "none") {
                good = readActions(*press, line, binding.press) && good;
            }
            if (const toml::node* release = table->get("release")) {
                const auto* releaseText = release->as_string();
                if (releaseText == nullptr || releaseText->get() != "none") {
                    good = readActions(*release, line, binding.release) && good;
                }
            }
            if (!good) return std::nullopt;
            return binding;
        }
        if (!readActions(node, line, binding.press)) return std::nullopt;
        return binding;
    }

    // A .shift table where push is re-mapped can never apply.
    void checkShiftReachable() {
        for (std::size_t mode = 0; mode < kModeCount; ++mode) {
            const std::optional<Binding>& push = profile_.plain[mode].controls[static_cast<std::size_t>(Control::Push)];
            if (shift_table_at_[mode] != 0 && push && !push->builtin) {
                fault(shift_table_at_[mode], std::string("the shift table of ") + kModeNames[mode] +
                                                 " can never apply: push is re-mapped there at line " +
                                                 std::to_string(push->line) + ", so shift stays off");
            }
        }
    }
};

}  // namespace

ReadResult parseProfile(std::string_view text, const std::string& shown, const std::string& file_name) {
    ReadResult result;
    toml::parse_result parsed = toml::parse(text, std::string_view(shown));
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        result.faults.push_back(shown + ":" + std::to_string(error.source().begin.line) + ": " +
                                std::string(error.description()));
        return result;
    }
    Profile profile;
    profile.path = shown;
    profile.file_name = file_name;
    Reader reader(shown, profile);
    reader.readTop(parsed.table());
    if (profile.name.empty()) {
        profile.name = std::filesystem::path(file_name).stem().string();
    }
    result.faults = std::move(reader.faults);
    if (result.faults.empty()) result.profile = std::move(profile);
    return result;
}

ReadResult readProfile(const std::filesystem::path& path, const std::string& shown) {
    ReadResult result;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        result.faults.push_back(shown + ": cannot read it: " + error.message());
        return result;
    }
    if (size > kMaxProfileBytes) {
        result.faults.push_back(shown + ": too large for a profile (" + std::to_string(size) + " bytes, at most " +
                                std::to_string(kMaxProfileBytes) + ")");
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        result.faults.push_back(shown + ": cannot read it");
        return result;
    }
    return parseProfile(text, shown, path.filename().string());
}

const Binding* bindingFor(const Profile& profile, std::size_t mode, bool shift, Control control) {
    if (mode >= kModeCount) return nullptr;
    const auto index = static_cast<std::size_t>(control);
    const std::optional<Binding>* found = &profile.plain[mode].controls[index];
    if (shift && profile.shifted[mode].controls[index]) {
        found = &profile.shifted[mode].controls[index];
    }
    if (!*found || (*found)->builtin) return nullptr;
    return &**found;
}

}  // namespace profiles
