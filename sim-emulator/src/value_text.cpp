#include "value_text.h"

#include "aircraft.h"
#include "text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace simemu {
namespace {

std::string shortest(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// A value of the variable as --set and --limit take it, checked against
// what the variable can hold.
std::optional<double> parseValue(Var var, std::string_view text, std::string& error) {
    const std::string_view valueText = trim(text);
    if (valueText.empty()) {
        error = "no value for " + std::string(info(var).name);
        return std::nullopt;
    }
    const std::string valueString(valueText);
    double value = 0.0;
    const Family family = info(var).family;
    if (family == Family::Squawk) {
        // "0x1200" is the BCO16 value itself; "1200" the squawk digits,
        // which are the same nibbles.
        std::string_view digits = valueText;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.remove_prefix(2);
        }
        unsigned code = 0;
        auto r = std::from_chars(digits.data(), digits.data() + digits.size(), code, 16);
        if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || digits.size() > 4) {
            error = "\"" + valueString + "\" is not a squawk code such as 0x1200";
            return std::nullopt;
        }
        value = code;
    } else if (family == Family::Boolean) {
        const std::string lower = lowerCase(valueText);
        if (lower == "1" || lower == "true" || lower == "on") {
            value = 1.0;
        } else if (lower == "0" || lower == "false" || lower == "off") {
            value = 0.0;
        } else {
            error = "\"" + valueString + "\" is not a Bool (0, 1, true, false, on, off)";
            return std::nullopt;
        }
    } else {
        char* end = nullptr;
        value = std::strtod(valueString.c_str(), &end);
        if (end != valueString.c_str() + valueString.size()) {
            error = "\"" + valueString + "\" is not a number";
            return std::nullopt;
        }
    }
    Model probe;
    if (auto why = probe.set(var, value)) {
        error = "\"" + valueString + "\" for " + std::string(info(var).name) + ": " + *why;
        return std::nullopt;
    }
    return value;
}

bool hasPrefix(std::string_view name, char letter) {
    return name.size() >= 2 && name[1] == ':' && (name[0] == letter || name[0] == letter - 'A' + 'a');
}

// The modelled variable named before the '=' of "NAME=..." (with or without
// the "A:" prefix), and what follows it.
std::optional<std::pair<Var, std::string_view>> splitName(std::string_view text, std::string_view form,
                                                          std::string& error) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "expected " + std::string(form);
        return std::nullopt;
    }
    std::string_view name = trim(text.substr(0, eq));
    const auto var = findVar(hasPrefix(name, 'A') ? name.substr(2) : name);
    if (!var) {
        error = "unknown variable \"" + std::string(name) + "\"";
        if (!hasPrefix(name, 'A') && !hasPrefix(name, 'L')) {
            error += " (write A:NAME or L:NAME for a variable the emulator does not model)";
        }
        return std::nullopt;
    }
    return std::pair{*var, text.substr(eq + 1)};
}

// "L:NAME=VALUE" or "A:NAME=VALUE" of a variable the model does not hold.
std::optional<Setting> parseNamedSetting(std::string_view text, std::string& error) {
    const std::size_t eq = text.find('=');
    const auto ref = parseNamedRef(text.substr(0, eq));
    if (!ref) {
        error = "no variable name after the prefix";
        return std::nullopt;
    }
    const std::string valueString(trim(text.substr(eq + 1)));
    char* end = nullptr;
    const double value = std::strtod(valueString.c_str(), &end);
    if (valueString.empty() || end != valueString.c_str() + valueString.size() || !std::isfinite(value)) {
        error = "\"" + valueString + "\" is not a finite number";
        return std::nullopt;
    }
    return Setting{.var = Var::Count, .kind = ref->kind, .name = std::string(ref->name), .value = value};
}

}  // namespace

std::optional<Setting> parseSetting(std::string_view text, std::string& error) {
    const std::size_t eq = text.find('=');
    const std::string_view name = trim(text.substr(0, eq));
    if (eq != std::string_view::npos && (hasPrefix(name, 'L') || (hasPrefix(name, 'A') && !findVar(name.substr(2))))) {
        return parseNamedSetting(text, error);
    }
    const auto named = splitName(text, "NAME=VALUE", error);
    if (!named) {
        return std::nullopt;
    }
    const auto value = parseValue(named->first, named->second, error);
    if (!value) {
        return std::nullopt;
    }
    return Setting{.var = named->first, .kind = NamedKind::Sim, .name = {}, .value = *value};
}

std::optional<Limit> parseLimit(std::string_view text, std::string& error) {
    const auto named = splitName(text, "NAME=MIN:MAX", error);
    if (!named) {
        return std::nullopt;
    }
    const auto [var, range] = *named;
    const std::size_t colon = range.find(':');
    if (colon == std::string_view::npos || range.find(':', colon + 1) != std::string_view::npos) {
        error = "expected MIN:MAX after the name, e.g. -2000:2000";
        return std::nullopt;
    }
    const auto min = parseValue(var, range.substr(0, colon), error);
    const auto max = min ? parseValue(var, range.substr(colon + 1), error) : std::nullopt;
    if (!max) {
        return std::nullopt;
    }
    if (*min > *max) {
        error = "MIN " + formatValue(var, *min) + " above MAX " + formatValue(var, *max);
        return std::nullopt;
    }
    return Limit{var, *min, *max};
}

std::string formatValue(Var v, double value) {
    char buf[64];
    switch (info(v).family) {
    case Family::Frequency: std::snprintf(buf, sizeof buf, isCom(v) ? "%.3f" : "%.2f", value); return buf;
    case Family::Squawk: std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(value)); return buf;
    case Family::Boolean: return value != 0.0 ? "1" : "0";
    case Family::Pressure: std::snprintf(buf, sizeof buf, "%.2f", value); return buf;
    case Family::Angle:
    case Family::Length:
    case Family::VerticalSpeed: break;
    }
    return shortest(value);
}

}  // namespace simemu
