// The panel as a kernel HID device: its report descriptor, and the uhid
// messages (linux/uhid.h) that create it, feed it and bring its output
// reports back. Pure encoding and decoding, so that it can be checked on a
// kernel without uhid.
#ifndef VIRTUAL_PANEL_UHID_EVENT_H
#define VIRTUAL_PANEL_UHID_EVENT_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <linux/uhid.h>

namespace vpanel::uhid {

// Report ID 1 in (32 buttons, two signed knob deltas, the mode byte) and
// report ID 0x0B out (the LED byte), all inside a vendor-defined application
// collection: the kernel then makes a hidraw node only, no input device, and
// its keyboard-LED handling never writes output reports of its own.
std::span<const std::uint8_t> reportDescriptor();

// Each encoder fills the whole of `event`; the message to write is all of it.
void encodeCreate(uhid_event& event, std::string_view name, std::string_view serial);
void encodeDestroy(uhid_event& event);
// False, with `event` untouched, for an empty report or one longer than
// UHID_DATA_MAX.
bool encodeInput(uhid_event& event, std::span<const std::uint8_t> report);
// `error` 0 is success, otherwise an errno value handed to the reader.
void encodeGetReportReply(uhid_event& event, std::uint32_t id, std::uint16_t error);
void encodeSetReportReply(uhid_event& event, std::uint32_t id, std::uint16_t error);

struct Received {
    enum class Kind { Start, Stop, Open, Close, Output, GetReport, SetReport, Other, Malformed };
    Kind kind = Kind::Malformed;
    std::span<const std::uint8_t> data;  // Output and SetReport: the report
    std::uint32_t id = 0;                // GetReport and SetReport: to be answered
    std::uint8_t reportType = 0;         // Output and SetReport: UHID_OUTPUT_REPORT etc.
};

// `length` bytes of `event` were read from the device. Malformed when they
// do not hold the message their type promises; `data` points into `event`.
Received decode(const uhid_event& event, std::size_t length);

}  // namespace vpanel::uhid

#endif
