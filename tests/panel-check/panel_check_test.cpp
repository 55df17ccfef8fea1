// msfs-panel --test-panel end to end: the real program under virtual-panel,
// a simulator listening on the port its SimConnect.cfg names. Every button of
// the controls page's table is pressed and released and must be printed
// under the page's name for it; the LEDs must go round one by one, then all,
// and be off at the end; the simulator must never be contacted.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

struct PageButton {
    unsigned bit;
    std::string name;
};

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The rows of the page's "| Bit | Byte, bit | Mask | Button |" table.
std::vector<PageButton> pageButtons() {
    std::ifstream page(CONTROLS_PAGE);
    std::vector<PageButton> buttons;
    std::string line;
    bool inTable = false;
    while (std::getline(page, line)) {
        if (trim(line).starts_with("| Bit | Byte, bit | Mask | Button |")) {
            inTable = true;
            continue;
        }
        if (!inTable || trim(line).starts_with("|---")) {
            continue;
        }
        if (!trim(line).starts_with("|")) {
            break;
        }
        std::vector<std::string> cells;
        std::istringstream row(trim(line).substr(1));
        std::string cell;
        while (std::getline(row, cell, '|')) {
            cells.push_back(trim(cell));
        }
        buttons.push_back({static_cast<unsigned>(std::stoul(cells.at(0))), cells.at(3)});
    }
    return buttons;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

// Whether `wanted` appears in `seen` in this order, other lines between.
bool inOrder(const std::vector<std::string>& seen, const std::vector<std::string>& wanted) {
    auto at = seen.begin();
    for (const std::string& w : wanted) {
        at = std::find(at, seen.end(), w);
        if (at == seen.end()) {
            return false;
        }
        ++at;
    }
    return true;
}

TEST(PanelCheck, NamesEachControlAsThePageDoesAndGoesRoundTheLeds) {
    const std::vector<PageButton> buttons = pageButtons();
    ASSERT_EQ(buttons.size(), 12U) << "the button table of " << CONTROLS_PAGE;

    // virtual-panel's script: report MODE BUTTONS OUTER INNER.
    std::string script = "report 3 0 0 0\nreport 3 0 2 0\nreport 3 0 0 -1\nreport 3 0 -3 0\n";
    std::vector<std::string> expected = {"mode NAV2", "outer +2 (total +2)", "inner -1 (total -1)",
                                         "outer -3 (total -1)"};
    for (const PageButton& b : buttons) {
        script += "report 3 " + std::to_string(1U << b.bit) + " 0 0\nreport 3 0 0 0\n";
        expected.push_back(b.name + " pressed");
        expected.push_back(b.name + " released");
    }
    script += "report 6 0x1 0 0\nreport 6 0 0 0\n";
    expected.insert(expected.end(), {"mode AP", "button bit 0 pressed", "button bit 0 released"});
    // A whole round of the LEDs: seven steps of half a second.
    script += "wait 4000\n";

    e2e::RunOptions options;
    options.script = script;
    options.program_args = {"--test-panel"};
    // The simulator leaves after a while; a connection attempt before that
    // shows in its trace, one after it fails the run.
    options.stop_emulator_after_ms = 300;
    const e2e::RunResult r = e2e::run(options);

    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(r.trace_text, "") << "the simulator was contacted";
    EXPECT_NE(r.panel_stderr.find("msfs-panel: panel opened"), std::string::npos) << r.panel_stderr;
    EXPECT_EQ(r.panel_stderr.find("simulator"), std::string::npos) << r.panel_stderr;

    std::vector<std::string> controls;
    std::vector<std::string> ledLines;
    for (const std::string& line : lines(r.panel_stdout)) {
        (line.starts_with("LED") ? ledLines : controls).push_back(line);
    }
    EXPECT_EQ(controls, expected) << r.panel_stdout;
    EXPECT_TRUE(inOrder(
        ledLines, {"LED AP on", "LED HDG on", "LED NAV on", "LED APR on", "LED ALT on", "LED VS on", "LEDs all on"}))
        << r.panel_stdout;
    EXPECT_TRUE(inOrder(r.leds, {"0b 01", "0b 02", "0b 04", "0b 08", "0b 10", "0b 20", "0b 3f"}))
        << testing::PrintToString(r.leds);
    ASSERT_FALSE(r.leds.empty());
    EXPECT_EQ(r.leds.back(), "0b 00") << "the LEDs are left lit";
}

}  // namespace
