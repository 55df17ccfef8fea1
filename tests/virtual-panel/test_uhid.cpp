// The kernel-device backend's bytes: the report descriptor read back the way
// the kernel's HID parser reads it, and the uhid messages in both directions.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include <linux/input.h>

#include "uhid_event.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One main item as the parser sees it, with the global state in force.
struct Field {
    std::uint8_t tag;  // 0x8 Input, 0x9 Output, 0xB Feature
    std::uint32_t flags;
    std::uint8_t reportId;
    std::uint32_t usagePage;
    std::vector<std::uint32_t> usages;  // local usages given before the item
    std::int32_t logicalMin;
    std::int32_t logicalMax;
    std::uint32_t bits;  // report size * report count
};

struct Parsed {
    bool ok = true;
    std::vector<Field> fields;
    std::uint32_t applicationPage = 0;
    int depth = 0;
};

// Short items only (the panel needs no long ones), signed where the HID
// rules make them signed (logical minimum and maximum).
Parsed parseDescriptor(std::span<const std::uint8_t> d) {
    Parsed p;
    std::uint32_t page = 0, size = 0, count = 0;
    std::int32_t min = 0, max = 0;
    std::uint8_t id = 0;
    std::vector<std::uint32_t> usages;
    for (std::size_t i = 0; i < d.size();) {
        const std::uint8_t prefix = d[i];
        const std::size_t n = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (prefix == 0xFE || i + 1 + n > d.size()) {
            p.ok = false;
            return p;
        }
        std::uint32_t u = 0;
        for (std::size_t k = 0; k < n; ++k) u |= std::uint32_t(d[i + 1 + k]) << (8 * k);
        std::int32_t s = static_cast<std::int32_t>(u);
        if (n == 1) s = static_cast<std::int8_t>(u);
        if (n == 2) s = static_cast<std::int16_t>(u);
        const std::uint8_t tag = prefix >> 4, type = (prefix >> 2) & 3;
        if (type == 0) {  // main
            if (tag == 0x8 || tag == 0x9 || tag == 0xB) {
                p.fields.push_back({tag, u, id, page, usages, min, max, size * count});
            } else if (tag == 0xA) {
                if (p.depth++ == 0 && u == 1) p.applicationPage = page;
            } else if (tag == 0xC) {
                --p.depth;
            }
            usages.clear();
        } else if (type == 1) {  // global
            switch (tag) {
            case 0x0: page = u; break;
            case 0x1: min = s; break;
            case 0x2: max = s; break;
            case 0x7: size = u; break;
            case 0x8: id = static_cast<std::uint8_t>(u); break;
            case 0x9: count = u; break;
            default: break;
            }
        } else if (type == 2) {                   // local
            if (tag <= 0x2) usages.push_back(u);  // usage, usage minimum, usage maximum
        }
        i += 1 + n;
    }
    return p;
}

TEST(UhidDescriptor, DeclaresThePanelsTwoReportsInsideAVendorCollection) {
    const Parsed p = parseDescriptor(vpanel::uhid::reportDescriptor());
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.depth, 0) << "collections not closed";
    // Not an input application: the kernel makes no input device of it.
    EXPECT_GE(p.applicationPage, 0xFF00u);

    std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint32_t> bits;  // (tag, id) -> bits
    for (const Field& f : p.fields) bits[{f.tag, f.reportId}] += f.bits;
    // Byte 0 (the ID) is not counted: 7 data bytes in, 1 out, nothing else.
    const std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint32_t> expected{{{0x8, 1}, 56}, {{0x9, 0x0B}, 8}};
    EXPECT_EQ(bits, expected);
}

TEST(UhidDescriptor, ButtonsKnobsModeAndLedsHaveTheirRanges) {
    const Parsed p = parseDescriptor(vpanel::uhid::reportDescriptor());
    ASSERT_EQ(p.fields.size(), 4u);
    const Field& buttons = p.fields[0];
    EXPECT_EQ(buttons.usagePage, 0x09u);
    EXPECT_EQ(buttons.bits, 32u);
    EXPECT_EQ(buttons.usages, (std::vector<std::uint32_t>{1, 32}));
    EXPECT_EQ(buttons.logicalMax, 1);

    const Field& knobs = p.fields[1];
    EXPECT_EQ(knobs.bits, 16u);
    EXPECT_EQ(knobs.logicalMin, -128);
    EXPECT_EQ(knobs.logicalMax, 127);
    EXPECT_EQ(knobs.flags & 0x04, 0x04u) << "deltas are relative";

    const Field& mode = p.fields[2];
    EXPECT_EQ(mode.bits, 8u);
    EXPECT_EQ(mode.logicalMin, 0);
    EXPECT_EQ(mode.logicalMax, 255);

    const Field& leds = p.fields[3];
    EXPECT_EQ(leds.tag, 0x9);
    // Not the LED page (8): the kernel's keyboard LEDs never write it.
    EXPECT_GE(leds.usagePage, 0xFF00u);
    EXPECT_EQ(leds.logicalMax, 255);
}

std::unique_ptr<uhid_event> blank() { return std::make_unique<uhid_event>(); }

TEST(UhidEncode, CreateNamesTheUsbPanelAndCarriesTheDescriptor) {
    auto e = blank();
    std::memset(e.get(), 0xAA, sizeof *e);
    vpanel::uhid::encodeCreate(*e, std::string(200, 'n'), "sn");
    EXPECT_EQ(e->type, UHID_CREATE2);
    const uhid_create2_req& c = e->u.create2;
    EXPECT_EQ(c.bus, BUS_USB);
    EXPECT_EQ(c.vendor, 0x04D8u);
    EXPECT_EQ(c.product, 0xE6D6u);
    // A name too long for its field is cut, and still terminated.
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(c.name)), sizeof c.name - 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(c.uniq), "sn");
    const auto d = vpanel::uhid::reportDescriptor();
    ASSERT_EQ(c.rd_size, d.size());
    EXPECT_EQ(Bytes(c.rd_data, c.rd_data + c.rd_size), Bytes(d.begin(), d.end()));
    EXPECT_EQ(c.rd_data[c.rd_size], 0) << "stale bytes after the descriptor";
}

TEST(UhidEncode, InputCarriesTheReportWithItsIdByte) {
    auto e = blank();
    const Bytes report{1, 0x78, 0x56, 0x34, 0x12, 0xFF, 0x80, 2};
    ASSERT_TRUE(vpanel::uhid::encodeInput(*e, report));
    EXPECT_EQ(e->type, UHID_INPUT2);
    ASSERT_EQ(e->u.input2.size, report.size());
    EXPECT_EQ(Bytes(e->u.input2.data, e->u.input2.data + report.size()), report);

    // Refused reports leave the message as it was.
    const Bytes tooLong(UHID_DATA_MAX + 1, 1);
    EXPECT_FALSE(vpanel::uhid::encodeInput(*e, tooLong));
    EXPECT_FALSE(vpanel::uhid::encodeInput(*e, {}));
    EXPECT_EQ(e->u.input2.size, report.size());
}

TEST(UhidEncode, RepliesAnswerTheRequestById) {
    auto e = blank();
    vpanel::uhid::encodeGetReportReply(*e, 77, 5);
    EXPECT_EQ(e->type, UHID_GET_REPORT_REPLY);
    EXPECT_EQ(e->u.get_report_reply.id, 77u);
    EXPECT_EQ(e->u.get_report_reply.err, 5);
    EXPECT_EQ(e->u.get_report_reply.size, 0);
    vpanel::uhid::encodeSetReportReply(*e, 78, 0);
    EXPECT_EQ(e->type, UHID_SET_REPORT_REPLY);
    EXPECT_EQ(e->u.set_report_reply.id, 78u);
    EXPECT_EQ(e->u.set_report_reply.err, 0);
    vpanel::uhid::encodeDestroy(*e);
    EXPECT_EQ(e->type, UHID_DESTROY);
}

using Kind = vpanel::uhid::Received::Kind;

TEST(UhidDecode, OutputReportComesBackAsWritten) {
    auto e = blank();
    std::memset(e.get(), 0, sizeof *e);
    e->type = UHID_OUTPUT;
    e->u.output.data[0] = 0x0B;
    e->u.output.data[1] = 0x21;
    e->u.output.size = 2;
    e->u.output.rtype = UHID_OUTPUT_REPORT;
    const auto r = vpanel::uhid::decode(*e, sizeof *e);
    ASSERT_EQ(r.kind, Kind::Output);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.end()), (Bytes{0x0B, 0x21}));
    EXPECT_EQ(r.reportType, UHID_OUTPUT_REPORT);
}

TEST(UhidDecode, SetReportKeepsItsIdAndBytes) {
    auto e = blank();
    std::memset(e.get(), 0, sizeof *e);
    e->type = UHID_SET_REPORT;
    e->u.set_report.id = 9;
    e->u.set_report.rtype = UHID_OUTPUT_REPORT;
    e->u.set_report.size = 2;
    e->u.set_report.data[0] = 0x0B;
    e->u.set_report.data[1] = 0x01;
    const std::size_t header = sizeof e->type + sizeof e->u.set_report - sizeof e->u.set_report.data;
    const auto r = vpanel::uhid::decode(*e, header + 2);
    ASSERT_EQ(r.kind, Kind::SetReport);
    EXPECT_EQ(r.id, 9u);
    EXPECT_EQ(Bytes(r.data.begin(), r.data.end()), (Bytes{0x0B, 0x01}));
    // Claiming more bytes than were read is malformed, not read past.
    EXPECT_EQ(vpanel::uhid::decode(*e, header + 1).kind, Kind::Malformed);
}

struct DecodeCase {
    const char* name;
    std::uint32_t type;
    std::size_t length;  // 0: the whole event
    std::uint16_t outputSize;
    Kind kind;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class UhidDecodeKind : public testing::TestWithParam<DecodeCase> {};

TEST_P(UhidDecodeKind, Classifies) {
    const DecodeCase& c = GetParam();
    auto e = blank();
    std::memset(e.get(), 0, sizeof *e);
    e->type = c.type;
    e->u.output.size = c.outputSize;
    EXPECT_EQ(vpanel::uhid::decode(*e, c.length == 0 ? sizeof *e : c.length).kind, c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Events, UhidDecodeKind,
    testing::Values(DecodeCase{"Open", UHID_OPEN, 4, 0, Kind::Open}, DecodeCase{"Close", UHID_CLOSE, 0, 0, Kind::Close},
                    DecodeCase{"Start", UHID_START, 0, 0, Kind::Start}, DecodeCase{"Stop", UHID_STOP, 0, 0, Kind::Stop},
                    DecodeCase{"GetReport", UHID_GET_REPORT, 0, 0, Kind::GetReport},
                    DecodeCase{"GetReportCut", UHID_GET_REPORT, 6, 0, Kind::Malformed},
                    DecodeCase{"Unknown", 99, 0, 0, Kind::Other},
                    DecodeCase{"ShorterThanItsType", UHID_OPEN, 3, 0, Kind::Malformed},
                    DecodeCase{"OutputCut", UHID_OUTPUT, 100, 2, Kind::Malformed},
                    DecodeCase{"OutputSizeTooLarge", UHID_OUTPUT, 0, UHID_DATA_MAX + 1, Kind::Malformed}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
