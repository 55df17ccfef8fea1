// The controls page (docs/controls.md) read as data: each row of its tables
// is played through the program's own report decoder, hand-over, dispatcher
// and operations over the recording SimConnect, and every mode, shift state,
// knob, button bit and LED must have exactly one row. The page is the only
// copy of the tables; this file knows its legends, not its rows.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "driver/main_loop.h"
#include "driver/panel_report.h"
#include "driver/panel_state.h"
#include "msfs_fixture.h"

namespace {

namespace sc = simconnect_double;

// ---- The page's tables ------------------------------------------------------

struct Row {
    int line = 0;
    std::map<std::string, std::string> cells;  // by header

    const std::string& operator[](const std::string& header) const {
        static const std::string none;
        const auto found = cells.find(header);
        return found == cells.end() ? none : found->second;
    }
};

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(trim(part));
    }
    return parts;
}

// "| a | b |" as {"a", "b"}.
std::vector<std::string> tableCells(const std::string& line) {
    const std::string inner = trim(line);
    return split(inner.substr(1, inner.size() - 2), '|');
}

// The rows of every table whose header is `header`, in page order.
std::vector<Row> tableRows(const std::vector<std::string>& header) {
    std::ifstream page(CONTROLS_PAGE);
    EXPECT_TRUE(page) << "cannot read " << CONTROLS_PAGE;
    std::vector<Row> rows;
    std::string line;
    int number = 0;
    bool inTable = false;
    bool wanted = false;
    while (std::getline(page, line)) {
        ++number;
        if (trim(line).rfind('|', 0) != 0) {
            inTable = false;
            continue;
        }
        const std::vector<std::string> cells = tableCells(line);
        if (!inTable) {
            inTable = true;
            wanted = cells == header;
            std::getline(page, line);  // the |---| line
            ++number;
            continue;
        }
        if (!wanted) {
            continue;
        }
        EXPECT_EQ(cells.size(), header.size()) << CONTROLS_PAGE << ":" << number << ": cell count";
        Row row{number, {}};
        for (std::size_t i = 0; i < header.size() && i < cells.size(); ++i) {
            row.cells[header[i]] = cells[i];
        }
        rows.push_back(row);
    }
    EXPECT_FALSE(rows.empty()) << "no table with header " << ::testing::PrintToString(header);
    return rows;
}

// The `code` spans of a cell, in order.
std::vector<std::string> codeSpans(const std::string& cell) {
    std::vector<std::string> spans;
    for (std::size_t open = cell.find('`'); open != std::string::npos;) {
        const std::size_t close = cell.find('`', open + 1);
        if (close == std::string::npos) {
            break;
        }
        spans.push_back(cell.substr(open + 1, close - open - 1));
        open = cell.find('`', close + 1);
    }
    return spans;
}

// "8–255" or "7" as {low, high}.
std::pair<int, int> numberRange(const std::string& cell) {
    const std::string dash = "\xE2\x80\x93";  // en dash
    const std::size_t at = cell.find(dash);
    if (at == std::string::npos) {
        const int value = std::atoi(cell.c_str());
        return {value, value};
    }
    return {std::atoi(cell.substr(0, at).c_str()), std::atoi(cell.substr(at + dash.size()).c_str())};
}

std::string where(const Row& row) { return std::string(CONTROLS_PAGE) + ":" + std::to_string(row.line); }

// ---- The legends -----------------------------------------------------------

// Mode names and the byte 7 values they stand for.
std::map<std::string, std::vector<std::uint8_t>> readModes() {
    std::map<std::string, std::vector<std::uint8_t>> modes;
    std::set<int> seen;
    for (const Row& row : tableRows({"Mode", "Byte 7", "The knobs and buttons work"})) {
        const auto [low, high] = numberRange(row["Byte 7"]);
        for (int value = low; value <= high; ++value) {
            EXPECT_TRUE(seen.insert(value).second) << where(row) << ": value " << value << " twice";
            modes[row["Mode"]].push_back(static_cast<std::uint8_t>(value));
        }
    }
    EXPECT_EQ(seen.size(), 256U) << "the modes table must cover every value of byte 7";
    return modes;
}

// Shift: off, on, any (both), or — (cannot be on: tried with off, and checked).
struct ShiftCell {
    std::vector<bool> states;
    bool unreachable = false;
};

ShiftCell readShift(const Row& row) {
    const std::string& cell = row["Shift"];
    if (cell == "off") return {{false}, false};
    if (cell == "on") return {{true}, false};
    if (cell == "any") return {{false, true}, false};
    if (cell == "\xE2\x80\x94") return {{false}, true};
    ADD_FAILURE() << where(row) << ": Shift is off, on, any or \xE2\x80\x94, not \"" << cell << "\"";
    return {};
}

// Where the input report's fields and button bits lie, from its two tables.
struct InputLayout {
    std::map<std::string, std::pair<int, int>> fields;   // field -> first, last byte
    std::map<std::string, std::pair<int, int>> buttons;  // button -> byte, bit
    std::map<std::string, std::uint32_t> masks;          // button -> mask
};

InputLayout readInputLayout() {
    InputLayout layout;
    for (const Row& row : tableRows({"Input byte", "Field", "Content"})) {
        layout.fields[row["Field"]] = numberRange(row["Input byte"]);
    }
    for (const Row& row : tableRows({"Bit", "Byte, bit", "Mask", "Button"})) {
        const std::vector<std::string> at = split(row["Byte, bit"], ',');
        EXPECT_EQ(at.size(), 2U) << where(row);
        if (at.size() == 2) {
            layout.buttons[row["Button"]] = {std::atoi(at[0].c_str()), std::atoi(at[1].c_str())};
        }
        const std::uint32_t mask = static_cast<std::uint32_t>(std::strtoul(row["Mask"].c_str(), nullptr, 16));
        EXPECT_EQ(mask, 1U << std::atoi(row["Bit"].c_str())) << where(row) << ": mask and bit disagree";
        layout.masks[row["Button"]] = mask;
    }
    return layout;
}

// ---- Playing rows through the program ---------------------------------------

struct ControlsPage : Msfs {
    PanelState panel{nullptr, false, &sim};
    std::map<DWORD, std::string> names;  // client event ID -> name mapped at set-up
    std::map<std::string, std::vector<std::uint8_t>> modes = readModes();
    InputLayout layout = readInputLayout();

    void SetUp() override {
        Msfs::SetUp();
        sim.setupConnection();
        for (const sc::Map& map : sc::recorder().maps) {
            names[map.id] = map.name;
        }
    }

    std::vector<std::uint8_t> modeValues(const Row& row, const std::string& header) {
        std::vector<std::uint8_t> values;
        for (const std::string& name : split(row[header], ',')) {
            const auto found = modes.find(name);
            if (found == modes.end()) {
                ADD_FAILURE() << where(row) << ": no mode \"" << name << "\" in the modes table";
                continue;
            }
            values.insert(values.end(), found->second.begin(), found->second.end());
        }
        return values;
    }

    // The panel in `mode` with `shift`, its simulator values mid-range so
    // that a few detents either way wrap nothing.
    void prepare(std::uint8_t mode, bool shift) {
        sim.forgetSimulator();
        sim.nav1_standby = sim.nav2_standby = 112.50;
        sim.heading_bug = sim.obs1 = sim.obs2 = 180.0;
        sim.ap_altitude = 5000.0;
        sim.ap_vertical_speed = 0.0;
        sim.transponder_code = 0x1234;
        panel.mode = mode;
        panel.shift = shift;
        panel.previous_report = PanelReport{};
        panel.previous_report.mode = mode;
        clearSent();
    }

    // One 8-byte report laid out as the page says, through the program's
    // decoder and the main loop's hand-over.
    using Bit = std::optional<std::pair<int, int>>;  // byte, bit of a pressed button
    void play(std::uint8_t mode, Bit pressed, int outer, int inner) {
        std::array<unsigned char, kInputReportSize> raw{};
        auto put = [&](const std::string& field, int value) {
            const auto found = layout.fields.find(field);
            ASSERT_NE(found, layout.fields.end()) << "no input field \"" << field << "\"";
            ASSERT_LT(found->second.first, static_cast<int>(raw.size()));
            raw[static_cast<std::size_t>(found->second.first)] = static_cast<unsigned char>(value);
        };
        put("mode", mode);
        put("outer", outer);
        put("inner", inner);
        if (pressed) {
            raw.at(static_cast<std::size_t>(pressed->first)) |= static_cast<unsigned char>(1U << pressed->second);
        }
        const std::optional<PanelReport> report = decodeReport(raw.data(), raw.size());
        ASSERT_TRUE(report.has_value());
        acceptReport(panel, *report);
    }

    // What went out, by simulator name; events mapped to no name (private to
    // the program, which the page leaves out) skipped.
    std::vector<std::pair<std::string, DWORD>> sentEvents() {
        std::vector<std::pair<std::string, DWORD>> events;
        for (const auto& [id, data] : sent()) {
            if (!names[id].empty()) {
                events.emplace_back(names[id], data);
            }
        }
        return events;
    }

    std::vector<std::string> sentNames() {
        std::vector<std::string> result;
        for (const auto& event : sentEvents()) {
            result.push_back(event.first);
        }
        return result;
    }

    // Whether shift can be on in `mode`: entered from a mode with shift on,
    // then the knob pushed, through the loop's hand-over.
    bool shiftReachable(std::uint8_t mode) {
        const std::uint8_t from = mode == COM1 ? COM2 : COM1;
        prepare(from, true);
        acceptReport(panel,
                     PanelReport{.report_id = 0, .buttons = 0, .mode = mode, .outer_delta = 0, .inner_delta = 0});
        acceptReport(
            panel,
            PanelReport{.report_id = 0, .buttons = BTN_KNOB_PUSH, .mode = mode, .outer_delta = 0, .inner_delta = 0});
        return panel.shift;
    }

    // A row's Shift cell says whether shift can be on in its modes.
    void checkShiftCell(const Row& row, const ShiftCell& shift, std::uint8_t mode) {
        if (shift.unreachable) {
            EXPECT_FALSE(shiftReachable(mode)) << where(row) << ": shift can be on in mode " << int{mode};
        } else if (!shift.states.empty() && shift.states.back()) {
            EXPECT_TRUE(shiftReachable(mode)) << where(row) << ": shift cannot be on in mode " << int{mode};
        }
    }
};

// "1 MHz", "0.05 MHz", "10°", "0100 octal": the amount in the unit the
// event's data decodes to.
double parseStep(const std::string& cell, std::string& unit) {
    std::size_t end = 0;
    while (end < cell.size() && (std::isdigit(static_cast<unsigned char>(cell[end])) || cell[end] == '.')) {
        ++end;
    }
    unit = trim(cell.substr(end));
    const std::string number = cell.substr(0, end);
    return unit == "octal" ? static_cast<double>(std::strtol(number.c_str(), nullptr, 8)) : std::atof(number.c_str());
}

// The value an absolute event sets, and its unit as the page writes it.
bool decodeSet(const std::string& event, DWORD data, double& value, std::string& unit) {
    auto digits = [](DWORD code, int base) {
        double result = 0.0;
        for (double place = 1.0; code != 0; code >>= 4, place *= base) {
            result += static_cast<double>(code & 0xF) * place;
        }
        return result;
    };
    if (event == "NAV1_STBY_SET" || event == "NAV2_STBY_SET") {
        value = digits(data, 10) / 100.0;  // BCD hundredths of a megahertz
        unit = "MHz";
    } else if (event == "HEADING_BUG_SET" || event == "VOR1_SET" || event == "VOR2_SET") {
        value = data;
        unit = "\xC2\xB0";  // degree sign
    } else if (event == "AP_ALT_VAR_SET_ENGLISH") {
        value = static_cast<std::int32_t>(data);
        unit = "ft";
    } else if (event == "AP_VS_VAR_SET_ENGLISH") {
        value = static_cast<std::int32_t>(data);
        unit = "ft/min";
    } else if (event == "XPNDR_SET") {
        value = digits(data, 8);  // BCO16
        unit = "octal";
    } else {
        return false;
    }
    return true;
}

std::vector<std::string> repeated(const std::vector<std::string>& names, int times) {
    std::vector<std::string> result;
    for (int i = 0; i < times; ++i) {
        result.insert(result.end(), names.begin(), names.end());
    }
    return result;
}

// ---- The checks --------------------------------------------------------------

TEST_F(ControlsPage, EveryKnobRowIsWhatTheProgramDoes) {
    const std::vector<std::string> header{"Mode",
                                          "Shift",
                                          "Knob",
                                          "Sets",
                                          "Per detent",
                                          "Range",
                                          "Detents in one report",
                                          "Clockwise sends",
                                          "Counter-clockwise sends"};
    std::map<std::tuple<int, bool, std::string>, int> covered;
    for (const Row& row : tableRows(header)) {
        const ShiftCell shift = readShift(row);
        const std::string& knobCell = row["Knob"];
        std::vector<std::string> knobs{knobCell};
        if (knobCell == "both") {
            knobs = {"outer", "inner"};
        } else if (knobCell != "outer" && knobCell != "inner") {
            ADD_FAILURE() << where(row) << ": Knob is outer, inner or both";
        }
        const std::string& kind = row["Detents in one report"];
        const std::vector<std::string> clockwise = codeSpans(row["Clockwise sends"]);
        const std::vector<std::string> counter = codeSpans(row["Counter-clockwise sends"]);
        if (kind == "\xE2\x80\x94") {
            EXPECT_TRUE(clockwise.empty() && counter.empty())
                << where(row) << ": a knob that does nothing sends nothing";
        } else if (kind != "each" && kind != "summed" && kind != "once") {
            ADD_FAILURE() << where(row) << ": Detents in one report is each, summed, once or \xE2\x80\x94";
            continue;
        }
        std::string stepUnit;
        const double step = parseStep(row["Per detent"], stepUnit);

        for (std::uint8_t mode : modeValues(row, "Mode")) {
            checkShiftCell(row, shift, mode);
            for (bool on : shift.states) {
                for (const std::string& knob : knobs) {
                    ++covered[{mode, on, knob}];
                    // Values set by one, three, minus one and minus three detents.
                    std::map<int, double> set;
                    for (int detents : {1, 3, -1, -3}) {
                        prepare(mode, on);
                        play(mode, std::nullopt, knob == "outer" ? detents : 0, knob == "inner" ? detents : 0);
                        const std::vector<std::string>& single = detents > 0 ? clockwise : counter;
                        const int count = std::abs(detents);
                        const std::vector<std::string> expected = kind == "each" ? repeated(single, count) : single;
                        const auto events = sentEvents();
                        EXPECT_EQ(sentNames(), expected) << where(row) << ": mode " << int{mode} << " shift " << on
                                                         << ", " << knob << " knob, " << detents << " detents";
                        std::string unit;
                        if (events.size() == 1 && decodeSet(events[0].first, events[0].second, set[detents], unit)) {
                            EXPECT_EQ(unit, stepUnit) << where(row) << ": Per detent unit";
                        } else if (kind == "summed") {
                            ADD_FAILURE() << where(row) << ": summed, yet no single event that sets a value";
                        }
                    }
                    // An event that sets a value: its step, and whether
                    // three detents move it three steps or one.
                    if (set.size() == 4) {
                        const double further = kind == "summed" ? 2 * step : 0.0;
                        EXPECT_NEAR(set[1] - set[-1], 2 * step, 1e-6) << where(row) << ": Per detent";
                        EXPECT_NEAR(set[3] - set[1], further, 1e-6) << where(row) << ": " << kind;
                        EXPECT_NEAR(set[-1] - set[-3], further, 1e-6) << where(row) << ": " << kind;
                    }
                }
            }
        }
    }
    for (int mode = 0; mode < 256; ++mode) {
        const bool reachable = shiftReachable(static_cast<std::uint8_t>(mode));
        for (bool on : {false, true}) {
            for (const char* knob : {"outer", "inner"}) {
                if (on && !reachable) {
                    continue;
                }
                EXPECT_EQ((covered[{mode, on, knob}]), 1)
                    << "knob rows for mode " << mode << " shift " << on << " " << knob;
            }
        }
    }
}

TEST_F(ControlsPage, EveryButtonRowIsWhatTheProgramDoes) {
    std::map<std::tuple<std::string, int, bool>, int> covered;
    for (const Row& row : tableRows({"Button", "Modes", "Shift", "Sends"})) {
        const std::string& button = row["Button"];
        if (layout.buttons.count(button) == 0) {
            ADD_FAILURE() << where(row) << ": no button \"" << button << "\" in the input report";
            continue;
        }
        const std::string& sends = row["Sends"];
        const std::vector<std::string> events = codeSpans(sends);
        const bool toggles = sends == "toggles shift";
        if (events.empty() && !toggles && sends != "nothing") {
            ADD_FAILURE() << where(row) << ": Sends is nothing, toggles shift, or events in `code`";
        }
        const ShiftCell shift = readShift(row);
        for (std::uint8_t mode : modeValues(row, "Modes")) {
            checkShiftCell(row, shift, mode);
            for (bool on : shift.states) {
                ++covered[{button, mode, on}];
                prepare(mode, on);
                play(mode, layout.buttons.at(button), 0, 0);
                EXPECT_EQ(sentNames(), events) << where(row) << ": mode " << int{mode} << " shift " << on;
                EXPECT_EQ(panel.shift, toggles ? !on : on) << where(row) << ": mode " << int{mode};
            }
        }
    }
    for (const auto& [button, at] : layout.buttons) {
        for (int mode = 0; mode < 256; ++mode) {
            const bool reachable = shiftReachable(static_cast<std::uint8_t>(mode));
            for (bool on : {false, true}) {
                if (!on || reachable) {
                    EXPECT_EQ((covered[{button, mode, on}]), 1)
                        << "button rows for " << button << " in mode " << mode << " shift " << on;
                }
            }
        }
    }
}

TEST_F(ControlsPage, InputReportLayoutIsTheDecoders) {
    int lastByte = 0;
    for (const auto& [field, bytes] : layout.fields) {
        lastByte = std::max(lastByte, bytes.second);
    }
    EXPECT_EQ(static_cast<std::size_t>(lastByte) + 1, kInputReportSize);

    // Each button's byte and bit decode to its mask.
    const auto [firstButtonByte, lastButtonByte] = layout.fields["buttons"];
    for (const auto& [button, at] : layout.buttons) {
        EXPECT_GE(at.first, firstButtonByte) << button;
        EXPECT_LE(at.first, lastButtonByte) << button;
        std::array<unsigned char, kInputReportSize> raw{};
        raw.at(static_cast<std::size_t>(at.first)) = static_cast<unsigned char>(1U << at.second);
        EXPECT_EQ(decodeReport(raw.data(), raw.size())->buttons, layout.masks[button]) << button;
    }
    // Any other bit of the buttons field does nothing in any mode.
    for (int byte = firstButtonByte; byte <= lastButtonByte; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            bool listed = false;
            for (const auto& [button, at] : layout.buttons) {
                listed = listed || at == std::pair{byte, bit};
            }
            if (listed) {
                continue;
            }
            for (int mode = 0; mode < 256; ++mode) {
                for (bool on : {false, true}) {
                    prepare(static_cast<std::uint8_t>(mode), on);
                    play(static_cast<std::uint8_t>(mode), std::pair{byte, bit}, 0, 0);
                    EXPECT_TRUE(sentNames().empty()) << "byte " << byte << " bit " << bit << " mode " << mode;
                    EXPECT_EQ(panel.shift, on) << "byte " << byte << " bit " << bit << " mode " << mode;
                }
            }
        }
    }
}

TEST_F(ControlsPage, LedReportIsWhatTheProgramWrites) {
    const std::vector<Row> bytes = tableRows({"Output byte", "Field", "Content"});
    ASSERT_EQ(bytes.size(), std::tuple_size_v<LedReport>);
    const std::vector<std::string> id = codeSpans(bytes[0]["Content"]);
    ASSERT_EQ(id.size(), 1U) << where(bytes[0]);
    const auto reportId = static_cast<unsigned char>(std::strtoul(id[0].c_str(), nullptr, 16));

    // The program's data blocks, laid out as it defined them, with the
    // variables in `lit` at 1 and every other 0 (or every one at 1); then
    // the LEDs it would light.
    const std::vector<sc::Definition>& definitions = sc::recorder().definitions;
    auto lightOnly = [&](const std::set<std::string>& lit, bool every = false) {
        sim.forgetSimulator();
        for (const sc::Request& request : sc::recorder().requests) {
            std::vector<unsigned char> block;
            for (const sc::Definition& d : definitions) {
                if (d.definition != request.definition) {
                    continue;
                }
                const bool on = every || lit.count(d.variable) != 0;
                if (d.type == SIMCONNECT_DATATYPE_INT32) {
                    const std::int32_t value = on ? 1 : 0;
                    const auto* raw = reinterpret_cast<const unsigned char*>(&value);
                    block.insert(block.end(), raw, raw + sizeof value);
                } else {
                    const double value = on ? 1.0 : 0.0;
                    const auto* raw = reinterpret_cast<const unsigned char*>(&value);
                    block.insert(block.end(), raw, raw + sizeof value);
                }
            }
            sim.storeDataBlock(request.request, block.data(), block.size());
        }
        return sim.getLedState();
    };

    std::uint8_t allMasks = 0;
    for (const Row& row : tableRows({"Bit", "Mask", "LED", "Lit while the simulator variable is non-zero"})) {
        const std::vector<std::string> variable = codeSpans(row["Lit while the simulator variable is non-zero"]);
        ASSERT_EQ(variable.size(), 1U) << where(row);
        const auto mask = static_cast<std::uint8_t>(std::strtoul(row["Mask"].c_str(), nullptr, 16));
        EXPECT_EQ(mask, 1U << std::atoi(row["Bit"].c_str())) << where(row) << ": mask and bit disagree";
        EXPECT_EQ(lightOnly({variable[0]}), mask) << where(row);
        EXPECT_EQ(makeLedReport(mask), (LedReport{reportId, mask})) << where(row);
        allMasks = static_cast<std::uint8_t>(allMasks | mask);
    }
    // No variable lights a bit the page does not list.
    EXPECT_EQ(lightOnly({}, true), allMasks);
    EXPECT_EQ(lightOnly({}), 0);
}

}  // namespace
