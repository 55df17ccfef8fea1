// docs/panel.svg against docs/controls.md: the picture names every mode of
// the selector, every button and every LED the page's tables name, in the
// page's words, and nothing else in bold (its labels of controls).
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Column `column` of the rows of the table whose header line starts with `header`.
std::set<std::string> tableColumn(const std::string& page, const std::string& header, std::size_t column) {
    std::set<std::string> cells;
    std::istringstream in(page);
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.starts_with(header)) {
            inTable = true;
        } else if (inTable && !line.starts_with("|")) {
            break;
        } else if (inTable && !line.starts_with("|---")) {
            std::istringstream row(line.substr(1));
            std::string cell;
            for (std::size_t i = 0; std::getline(row, cell, '|'); ++i) {
                if (i == column) {
                    cells.insert(trim(cell));
                }
            }
        }
    }
    return cells;
}

TEST(PanelPicture, NamesWhatTheControlsPageNames) {
    const std::string page = readFile(CONTROLS_PAGE);
    std::set<std::string> names = tableColumn(page, "| Mode | Byte 7 |", 0);
    ASSERT_EQ(names.erase("other"), 1U) << "the Modes table of " << CONTROLS_PAGE;
    ASSERT_EQ(names.size(), 8U);
    const std::set<std::string> buttons = tableColumn(page, "| Bit | Byte, bit | Mask | Button |", 3);
    const std::set<std::string> leds = tableColumn(page, "| Bit | Mask | LED |", 2);
    ASSERT_EQ(buttons.size(), 12U);
    ASSERT_EQ(leds.size(), 6U);
    names.insert(buttons.begin(), buttons.end());
    names.insert(leds.begin(), leds.end());
    names.insert({"outer", "inner"});

    // The picture's labels of controls are its bold texts.
    const std::string svg = readFile(PANEL_PICTURE);
    std::set<std::string> labels;
    for (std::size_t at = 0; (at = svg.find("<text ", at)) != std::string::npos;) {
        const std::size_t open = svg.find('>', at);
        const std::size_t close = svg.find("</text>", open);
        ASSERT_NE(close, std::string::npos) << "an unclosed <text> in " << PANEL_PICTURE;
        if (svg.substr(at, open - at).find(R"(font-weight="bold")") != std::string::npos) {
            labels.insert(svg.substr(open + 1, close - open - 1));
        }
        at = close;
    }
    labels.erase("The panel, schematic: which controls it has and their names, not where they sit");
    EXPECT_EQ(labels, names);
}

}  // namespace
