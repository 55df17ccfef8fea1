#include "json.h"

#include "simulator.h"

#include <charconv>
#include <cmath>

namespace simemu {

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20 || b >= 0x7F) {
                out += "\\u00";
                out += kHex[b >> 4];
                out += kHex[b & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (value == 0.0) {
        value = 0.0;  // no "-0"
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void JsonLine::key(std::string_view k) {
    if (text_.size() > 1) {
        text_ += ',';
    }
    appendJsonString(text_, k);
    text_ += ':';
}

JsonLine& JsonLine::uint(std::string_view k, std::uint64_t value) {
    key(k);
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    text_.append(buf, r.ptr);
    return *this;
}

JsonLine& JsonLine::number(std::string_view k, double value) {
    key(k);
    appendJsonNumber(text_, value);
    return *this;
}

JsonLine& JsonLine::string(std::string_view k, std::string_view value) {
    key(k);
    appendJsonString(text_, value);
    return *this;
}

JsonLine& JsonLine::null(std::string_view k) {
    key(k);
    text_ += "null";
    return *this;
}

JsonLine& JsonLine::object(std::string_view k, const JsonLine& inner) {
    key(k);
    text_ += inner.text_;
    text_ += '}';
    return *this;
}

std::string JsonLine::finish() {
    text_ += "}\n";
    return std::move(text_);
}

namespace {

void appendCounts(std::string& out, const std::map<std::string, std::uint64_t>& counts) {
    out += '{';
    bool first = true;
    for (const auto& [name, count] : counts) {
        if (!first) {
            out += ", ";
        }
        first = false;
        appendJsonString(out, name);
        out += ": ";
        out += std::to_string(count);
    }
    out += '}';
}

}  // namespace

std::string stateJson(const Simulator& sim) {
    std::string out = "{\n";
    for (std::size_t i = 0; i < kVarCount; ++i) {
        const auto v = static_cast<Var>(i);
        out += "  ";
        appendJsonString(out, info(v).name);
        out += ": ";
        appendJsonNumber(out, sim.model().value(v));
        out += ",\n";
    }
    for (const auto id : sim.named().sorted()) {
        out += "  ";
        appendJsonString(out, sim.named().displayName(id));
        out += ": ";
        appendJsonNumber(out, sim.named().value(id));
        out += ",\n";
    }
    out += "  \"aircraft\": {\"title\": ";
    appendJsonString(out, sim.aircraft().title);
    out += ", \"path\": ";
    appendJsonString(out, sim.aircraft().path);
    out += "},\n  \"input_events\": {";
    bool first = true;
    for (const auto& e : sim.inputEvents().all()) {
        out += first ? "" : ", ";
        first = false;
        appendJsonString(out, e.name);
        out += ": ";
        appendJsonNumber(out, e.value);
    }
    out += "},\n  \"custom_events\": ";
    appendCounts(out, sim.customCounts());
    out += ",\n  \"unknown_events\": ";
    appendCounts(out, sim.unknownCounts());
    out += "\n}\n";
    return out;
}

}  // namespace simemu
