// The panel's report layout and names, written down once for the script
// player, the interactive keys and the verbose log.
#ifndef VIRTUAL_PANEL_PANEL_REPORT_H
#define VIRTUAL_PANEL_PANEL_REPORT_H

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vpanel {

inline constexpr std::uint16_t kVendorId = 0x04D8;
inline constexpr std::uint16_t kProductId = 0xE6D6;

inline constexpr std::uint8_t kInputReportId = 0x01;
inline constexpr std::uint8_t kLedReportId = 0x0B;

// Input report, 8 bytes:
//   0     report ID
//   1..4  buttons, little-endian (byte 1 holds bits 0..7)
//   5     outer knob detents since the last report, signed, clockwise positive
//   6     inner knob detents, same sense
//   7     mode (0..7 named below; any byte can be sent)
inline constexpr std::size_t kInputReportSize = 8;

struct PanelInput {
    std::uint8_t mode = 0;
    std::uint32_t buttons = 0;
    std::int8_t outer = 0;
    std::int8_t inner = 0;
};

std::array<std::uint8_t, kInputReportSize> encodeInput(const PanelInput& in);

// Reads back what encodeInput wrote; false for a report shorter than 8 bytes.
bool decodeInput(std::span<const std::uint8_t> bytes, PanelInput& out);

struct NamedButton {
    int bit;
    std::string_view name;
};

inline constexpr std::array<NamedButton, 12> kButtons{{
    {4, "DIRECT_TO"},
    {5, "MENU"},
    {6, "CLR"},
    {7, "ENT"},
    {8, "SWAP"},
    {9, "KNOB_PUSH"},
    {14, "AP/CDI"},
    {15, "HDG/OBS"},
    {16, "NAV/MSG"},
    {17, "APR/FPL"},
    {18, "ALT/VNAV"},
    {19, "VS/PROC"},
}};

inline constexpr std::array<std::string_view, 8> kModeNames{"COM1", "COM2", "NAV1", "NAV2",
                                                            "FMS1", "FMS2", "AP",   "XPDR"};

// LED byte of the output report, bits 0..5.
inline constexpr std::array<std::string_view, 6> kLedNames{"AP", "HDG", "NAV", "APR", "ALT", "VS"};

std::string modeName(std::uint8_t mode);

// The name of a button bit, e.g. "HDG/OBS" for 15; "bit N" for an unnamed one.
std::string buttonName(int bit);

// One readable line for what a report does compared with the one before,
// e.g. "NAV1 outer +1" or "AP press HDG/OBS".
std::string describeInput(const PanelInput& previous, const PanelInput& now);

// "0b 01" for {0x0B, 0x01}.
std::string hexBytes(std::span<const std::uint8_t> bytes);

// "AP HDG" for 0x03, "all off" for 0.
std::string describeLeds(std::uint8_t leds);

}  // namespace vpanel

#endif
