#include "uhid_event.h"

#include <algorithm>
#include <cstring>

#include <linux/input.h>

#include "panel_report.h"

namespace vpanel::uhid {

namespace {

constexpr std::uint8_t kVendorPageLow = 0x00;
constexpr std::uint8_t kVendorPageHigh = 0xFF;

// clang-format off
constexpr std::uint8_t kDescriptor[] = {
    0x06, kVendorPageLow, kVendorPageHigh,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,                             // Usage (panel)
    0xA1, 0x01,                             // Collection (Application)
    0x85, kInputReportId,                   //   Report ID (1)
    0x05, 0x09,                             //   Usage Page (Button)
    0x19, 0x01,                             //   Usage Minimum (1)
    0x29, 0x20,                             //   Usage Maximum (32)
    0x15, 0x00,                             //   Logical Minimum (0)
    0x25, 0x01,                             //   Logical Maximum (1)
    0x75, 0x01,                             //   Report Size (1)
    0x95, 0x20,                             //   Report Count (32)
    0x81, 0x02,                             //   Input (Data, Variable, Absolute): bytes 1..4
    0x05, 0x01,                             //   Usage Page (Generic Desktop)
    0x09, 0x37,                             //   Usage (Dial): outer knob
    0x09, 0x37,                             //   Usage (Dial): inner knob
    0x15, 0x80,                             //   Logical Minimum (-128)
    0x25, 0x7F,                             //   Logical Maximum (127)
    0x75, 0x08,                             //   Report Size (8)
    0x95, 0x02,                             //   Report Count (2)
    0x81, 0x06,                             //   Input (Data, Variable, Relative): bytes 5, 6
    0x06, kVendorPageLow, kVendorPageHigh,  //   Usage Page (vendor 0xFF00)
    0x09, 0x02,                             //   Usage (mode)
    0x15, 0x00,                             //   Logical Minimum (0)
    0x26, 0xFF, 0x00,                       //   Logical Maximum (255)
    0x95, 0x01,                             //   Report Count (1)
    0x81, 0x02,                             //   Input (Data, Variable, Absolute): byte 7
    0x85, kLedReportId,                     //   Report ID (0x0B)
    0x09, 0x03,                             //   Usage (LEDs)
    0x91, 0x02,                             //   Output (Data, Variable, Absolute): the LED byte
    0xC0,                                   // End Collection
};
// clang-format on

// Fixed-size text fields of the create message, always nul-terminated.
template <std::size_t N>
void copyText(std::uint8_t (&field)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

void clear(uhid_event& event, std::uint32_t type) {
    std::memset(&event, 0, sizeof event);
    event.type = type;
}

}  // namespace

std::span<const std::uint8_t> reportDescriptor() { return kDescriptor; }

void encodeCreate(uhid_event& event, std::string_view name, std::string_view serial) {
    clear(event, UHID_CREATE2);
    uhid_create2_req& req = event.u.create2;
    copyText(req.name, name);
    copyText(req.phys, "virtual-panel");
    copyText(req.uniq, serial);
    req.rd_size = sizeof kDescriptor;
    req.bus = BUS_USB;
    req.vendor = kVendorId;
    req.product = kProductId;
    std::memcpy(req.rd_data, kDescriptor, sizeof kDescriptor);
}

void encodeDestroy(uhid_event& event) { clear(event, UHID_DESTROY); }

bool encodeInput(uhid_event& event, std::span<const std::uint8_t> report) {
    if (report.empty() || report.size() > UHID_DATA_MAX) {
        return false;
    }
    clear(event, UHID_INPUT2);
    event.u.input2.size = static_cast<std::uint16_t>(report.size());
    std::memcpy(event.u.input2.data, report.data(), report.size());
    return true;
}

void encodeGetReportReply(uhid_event& event, std::uint32_t id, std::uint16_t error) {
    clear(event, UHID_GET_REPORT_REPLY);
    event.u.get_report_reply.id = id;
    event.u.get_report_reply.err = error;
}

void encodeSetReportReply(uhid_event& event, std::uint32_t id, std::uint16_t error) {
    clear(event, UHID_SET_REPORT_REPLY);
    event.u.set_report_reply.id = id;
    event.u.set_report_reply.err = error;
}

Received decode(const uhid_event& event, std::size_t length) {
    Received r;
    if (length < sizeof event.type || length > sizeof event) {
        return r;
    }
    // The payload a type needs must have been read in full; the kernel may
    // write short events, which the reader extends with zeros, so a payload
    // is checked against what its own size field claims.
    const std::size_t payload = length - sizeof event.type;
    switch (event.type) {
    case UHID_START: r.kind = Received::Kind::Start; return r;
    case UHID_STOP: r.kind = Received::Kind::Stop; return r;
    case UHID_OPEN: r.kind = Received::Kind::Open; return r;
    case UHID_CLOSE: r.kind = Received::Kind::Close; return r;
    case UHID_OUTPUT: {
        const uhid_output_req& out = event.u.output;
        const std::size_t size = out.size;
        if (payload < sizeof out || size > UHID_DATA_MAX) {
            return r;
        }
        r.kind = Received::Kind::Output;
        r.data = std::span<const std::uint8_t>(out.data, size);
        r.reportType = out.rtype;
        return r;
    }
    case UHID_GET_REPORT:
        if (payload < sizeof event.u.get_report) {
            return r;
        }
        r.kind = Received::Kind::GetReport;
        r.id = event.u.get_report.id;
        r.reportType = event.u.get_report.rtype;
        return r;
    case UHID_SET_REPORT: {
        const uhid_set_report_req& set = event.u.set_report;
        const std::size_t size = set.size;
        const std::size_t header = sizeof set - sizeof set.data;
        if (payload < header || size > UHID_DATA_MAX || payload - header < size) {
            return r;
        }
        r.kind = Received::Kind::SetReport;
        r.id = set.id;
        r.reportType = set.rtype;
        r.data = std::span<const std::uint8_t>(set.data, size);
        return r;
    }
    default: r.kind = Received::Kind::Other; return r;
    }
}

}  // namespace vpanel::uhid
