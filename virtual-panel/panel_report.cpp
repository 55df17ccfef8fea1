#include "panel_report.h"

#include <cstdio>

namespace vpanel {

std::array<std::uint8_t, kInputReportSize> encodeInput(const PanelInput& in) {
    return {
        kInputReportId,
        static_cast<std::uint8_t>(in.buttons),
        static_cast<std::uint8_t>(in.buttons >> 8),
        static_cast<std::uint8_t>(in.buttons >> 16),
        static_cast<std::uint8_t>(in.buttons >> 24),
        static_cast<std::uint8_t>(in.outer),
        static_cast<std::uint8_t>(in.inner),
        in.mode,
    };
}

bool decodeInput(std::span<const std::uint8_t> bytes, PanelInput& out) {
    if (bytes.size() < kInputReportSize) {
        return false;
    }
    out.buttons = static_cast<std::uint32_t>(bytes[1]) | static_cast<std::uint32_t>(bytes[2]) << 8 |
                  static_cast<std::uint32_t>(bytes[3]) << 16 | static_cast<std::uint32_t>(bytes[4]) << 24;
    out.outer = static_cast<std::int8_t>(bytes[5]);
    out.inner = static_cast<std::int8_t>(bytes[6]);
    out.mode = bytes[7];
    return true;
}

std::string modeName(std::uint8_t mode) {
    if (mode < kModeNames.size()) {
        return std::string(kModeNames[mode]);
    }
    return "mode " + std::to_string(mode);
}

std::string buttonName(int bit) {
    for (const NamedButton& b : kButtons) {
        if (b.bit == bit) {
            return std::string(b.name);
        }
    }
    return "bit " + std::to_string(bit);
}

namespace {

void appendDelta(std::string& out, const char* knob, int delta) {
    if (delta != 0) {
        out += ' ';
        out += knob;
        out += delta > 0 ? " +" : " ";
        out += std::to_string(delta);
    }
}

}  // namespace

std::string describeInput(const PanelInput& previous, const PanelInput& now) {
    std::string out = modeName(now.mode);
    if (now.mode != previous.mode) {
        out += " (mode selected)";
    }
    appendDelta(out, "outer", now.outer);
    appendDelta(out, "inner", now.inner);
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t mask = std::uint32_t{1} << bit;
        const bool was = (previous.buttons & mask) != 0;
        const bool is = (now.buttons & mask) != 0;
        if (was != is) {
            out += is ? " press " : " release ";
            out += buttonName(bit);
        }
    }
    if (now.mode == previous.mode && now.outer == 0 && now.inner == 0 && now.buttons == previous.buttons) {
        out += " (no change)";
    }
    return out;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    char two[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        if (i != 0) {
            out += ' ';
        }
        out += two;
    }
    return out;
}

std::string describeLeds(std::uint8_t leds) {
    std::string out;
    for (std::size_t i = 0; i < kLedNames.size(); ++i) {
        if ((leds & (1u << i)) != 0) {
            if (!out.empty()) {
                out += ' ';
            }
            out += kLedNames[i];
        }
    }
    return out.empty() ? "all off" : out;
}

}  // namespace vpanel
