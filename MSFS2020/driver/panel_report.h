// The panel's USB identity and its two report formats.
#ifndef MSFS_PANEL_PANEL_REPORT_H
#define MSFS_PANEL_PANEL_REPORT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

inline constexpr unsigned short kPanelVendorId = 0x04D8;
inline constexpr unsigned short kPanelProductId = 0xE6D6;

// Input report, 8 bytes:
//   0     report ID (not tested)
//   1..4  button bits 0..31, little-endian (byte 1 holds bits 0..7)
//   5     outer knob detents since the last report, signed, + is clockwise
//   6     inner knob detents, same
//   7     panel mode
inline constexpr std::size_t kInputReportSize = 8;

struct PanelReport {
    std::uint8_t report_id = 0;
    std::uint32_t buttons = 0;  // a bit is 1 while its button is held
    std::uint8_t mode = 0;
    std::int8_t outer_delta = 0;
    std::int8_t inner_delta = 0;

    friend bool operator==(const PanelReport&, const PanelReport&) = default;
};

// Decodes one input report. A buffer shorter than a whole report is not a
// report (its missing bytes would be undefined): nothing comes back.
std::optional<PanelReport> decodeReport(const unsigned char* data, std::size_t length);

// LED output report, 2 bytes: report ID 0x0B, then the LED bits
// (bit 0 AP master ... bit 5 vertical hold; bits 6 and 7 zero).
inline constexpr unsigned char kLedReportId = 0x0B;
using LedReport = std::array<unsigned char, 2>;

inline LedReport makeLedReport(std::uint8_t leds) { return {kLedReportId, leds}; }

#endif
