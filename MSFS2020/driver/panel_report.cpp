#include "driver/panel_report.h"

std::optional<PanelReport> decodeReport(const unsigned char* data, std::size_t length) {
    if (data == nullptr || length < kInputReportSize) {
        return std::nullopt;
    }
    PanelReport report;
    report.report_id = data[0];
    report.buttons = static_cast<std::uint32_t>(data[1]) | static_cast<std::uint32_t>(data[2]) << 8 |
                     static_cast<std::uint32_t>(data[3]) << 16 | static_cast<std::uint32_t>(data[4]) << 24;
    report.outer_delta = static_cast<std::int8_t>(data[5]);
    report.inner_delta = static_cast<std::int8_t>(data[6]);
    report.mode = data[7];
    return report;
}
