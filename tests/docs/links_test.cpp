// The links between the documents: every relative link of the README and of
// docs/*.md names a file of the tree and, after a #, a heading of it (as the
// anchors GitHub makes from headings), so that moving a section breaks no
// reader's path.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A heading's anchor: lower case, spaces to hyphens, other punctuation gone.
std::string anchorOf(const std::string& heading) {
    std::string anchor;
    for (const char c : heading) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_') {
            anchor += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (c == ' ') {
            anchor += '-';
        }
    }
    return anchor;
}

// The anchors of a Markdown file's headings, outside fenced blocks.
std::set<std::string> anchors(const fs::path& file) {
    std::set<std::string> result;
    std::istringstream in(readFile(file));
    std::string line;
    bool fenced = false;
    while (std::getline(in, line)) {
        if (line.starts_with("```")) {
            fenced = !fenced;
        } else if (!fenced && line.starts_with("#")) {
            result.insert(anchorOf(line.substr(line.find_first_not_of('#') + 1)));
        }
    }
    return result;
}

TEST(DocumentLinks, LeadToAFileAndAHeadingOfIt) {
    const fs::path root = SOURCE_ROOT;
    std::vector<fs::path> pages = {root / "README.md"};
    for (const auto& entry : fs::directory_iterator(root / "docs")) {
        if (entry.path().extension() == ".md") {
            pages.push_back(entry.path());
        }
    }
    ASSERT_GE(pages.size(), 4U);
    int checked = 0;
    for (const fs::path& page : pages) {
        const std::string text = readFile(page);
        // [text](target), the text possibly over several lines.
        for (std::size_t at = 0; (at = text.find("](", at)) != std::string::npos;) {
            at += 2;
            const std::size_t end = text.find_first_of(") \n", at);
            if (end == std::string::npos || text[end] != ')') {
                continue;
            }
            const std::string target = text.substr(at, end - at);
            if (target.starts_with("http://") || target.starts_with("https://")) {
                continue;
            }
            const std::size_t hash = target.find('#');
            const std::string path = target.substr(0, hash);
            const fs::path file = path.empty() ? page : page.parent_path() / path;
            ++checked;
            if (!fs::exists(file)) {
                ADD_FAILURE() << page.filename() << " links to " << target << ": no file " << file;
                continue;
            }
            if (hash != std::string::npos && !anchors(file).contains(target.substr(hash + 1))) {
                ADD_FAILURE() << page.filename() << " links to " << target << ": no such heading in " << file;
            }
        }
    }
    EXPECT_GE(checked, 20);
}

}  // namespace
