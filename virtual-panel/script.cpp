#include "script.h"

#include <charconv>

#include "panel_report.h"
#include "wire.h"

namespace vpanel {

namespace {

// A day is far beyond any sensible pause and keeps deadlines from overflowing.
constexpr std::uint32_t kMaxWaitMs = 24u * 3600u * 1000u;

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

// Decimal, or hexadecimal with a 0x prefix; an optional sign for signed
// fields only. Whole word or nothing.
std::optional<std::int64_t> parseInteger(std::string_view word, bool allowSign) {
    bool negative = false;
    if (allowSign && !word.empty() && (word[0] == '-' || word[0] == '+')) {
        negative = word[0] == '-';
        word.remove_prefix(1);
    }
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    }
    if (word.empty() || word[0] == '+' || word[0] == '-') {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (ec != std::errc{} || end != word.data() + word.size() || value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    const auto signedValue = static_cast<std::int64_t>(value);
    return negative ? -signedValue : signedValue;
}

struct Field {
    std::string_view name;
    std::int64_t min;
    std::int64_t max;
    bool allowSign;
};

std::optional<std::int64_t> parseField(std::string_view word, const Field& field, std::string& reason) {
    const auto value = parseInteger(word, field.allowSign);
    if (!value || *value < field.min || *value > field.max) {
        reason = std::string(field.name) + "(" + std::string(word) + "): expected a number from " +
                 std::to_string(field.min) + " to " + std::to_string(field.max);
        return std::nullopt;
    }
    return value;
}

bool wrongCount(const std::vector<std::string_view>& words, std::size_t expected, const char* usage,
                std::string& reason) {
    if (words.size() == expected + 1) {
        return false;
    }
    reason = std::string(words[0]) + ": expected " + usage + ", got " + std::to_string(words.size() - 1) + " argument" +
             (words.size() == 2 ? "" : "s");
    return true;
}

std::optional<ScriptAction> parseReport(const std::vector<std::string_view>& w, std::string& reason) {
    if (wrongCount(w, 4, "MODE BUTTONS OUTER INNER", reason)) {
        return std::nullopt;
    }
    const auto mode = parseField(w[1], {"MODE", 0, 255, false}, reason);
    if (!mode) return std::nullopt;
    const auto buttons = parseField(w[2], {"BUTTONS", 0, 0xFFFFFFFF, false}, reason);
    if (!buttons) return std::nullopt;
    const auto outer = parseField(w[3], {"OUTER", -128, 127, true}, reason);
    if (!outer) return std::nullopt;
    const auto inner = parseField(w[4], {"INNER", -128, 127, true}, reason);
    if (!inner) return std::nullopt;

    PanelInput in;
    in.mode = static_cast<std::uint8_t>(*mode);
    in.buttons = static_cast<std::uint32_t>(*buttons);
    in.outer = static_cast<std::int8_t>(*outer);
    in.inner = static_cast<std::int8_t>(*inner);
    const auto bytes = encodeInput(in);
    ScriptAction action;
    action.bytes.assign(bytes.begin(), bytes.end());
    return action;
}

std::optional<ScriptAction> parseRaw(const std::vector<std::string_view>& w, std::string& reason) {
    if (w.size() < 2 || w.size() > 1 + wire::kMaxInputReport) {
        reason = "raw: expected 1 to " + std::to_string(wire::kMaxInputReport) + " hex bytes, got " +
                 std::to_string(w.size() - 1);
        return std::nullopt;
    }
    ScriptAction action;
    for (std::size_t i = 1; i < w.size(); ++i) {
        unsigned value = 0;
        const std::string_view word = w[i];
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
        if (word.size() > 2 || ec != std::errc{} || end != word.data() + word.size()) {
            reason = "raw(" + std::string(word) + "): expected a hex byte such as 0b or ff";
            return std::nullopt;
        }
        action.bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return action;
}

std::optional<ScriptAction> parseLine(const std::vector<std::string_view>& w, std::string& reason) {
    const std::string_view command = w[0];
    if (command == "report") {
        return parseReport(w, reason);
    }
    if (command == "raw") {
        return parseRaw(w, reason);
    }
    if (command == "wait") {
        if (wrongCount(w, 1, "MS", reason)) return std::nullopt;
        const auto ms = parseField(w[1], {"MS", 0, kMaxWaitMs, false}, reason);
        if (!ms) return std::nullopt;
        ScriptAction action;
        action.kind = ScriptAction::Kind::Wait;
        action.ms = static_cast<std::uint32_t>(*ms);
        return action;
    }
    if (command == "unplug" || command == "plug") {
        if (wrongCount(w, 0, "no arguments", reason)) return std::nullopt;
        ScriptAction action;
        action.kind = command == "unplug" ? ScriptAction::Kind::Unplug : ScriptAction::Kind::Plug;
        return action;
    }
    if (command == "leds") {
        if (w.size() != 2) {
            reason = "leds: expected fail or ok";
            return std::nullopt;
        }
        if (w[1] != "fail" && w[1] != "ok") {
            reason = "leds(" + std::string(w[1]) + "): expected fail or ok";
            return std::nullopt;
        }
        ScriptAction action;
        action.kind = w[1] == "fail" ? ScriptAction::Kind::LedsFail : ScriptAction::Kind::LedsOk;
        return action;
    }
    reason = "command(" + std::string(command) + "): unknown; expected report, raw, wait, unplug, plug or leds";
    return std::nullopt;
}

}  // namespace

ParsedScript parseScript(std::string_view text) {
    ParsedScript result;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);

        line = line.substr(0, line.find('#'));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const auto words = splitWords(line);
        if (words.empty()) {
            continue;
        }
        std::string reason;
        auto action = parseLine(words, reason);
        if (!action) {
            result.error = ScriptError{lineNumber, reason};
            result.actions.clear();
            return result;
        }
        action->line = lineNumber;
        result.actions.push_back(std::move(*action));
    }
    return result;
}

}  // namespace vpanel
