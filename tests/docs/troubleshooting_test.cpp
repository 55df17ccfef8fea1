// docs/troubleshooting.md against the sources: every message the program can
// print on standard error, and every text the network client hands it, must
// have an example on the page. A message added without one fails here, named
// with its file and line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "messages.h"

namespace {

namespace fs = std::filesystem;
using messages::Found;
using messages::Message;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every .cpp and .h under `dir`, read by `reader`.
void readTree(const fs::path& dir, void (*reader)(const std::string&, const std::string&, Found&), Found& found) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const fs::path& p = entry.path();
        if (entry.is_regular_file() && (p.extension() == ".cpp" || p.extension() == ".h")) {
            reader(fs::relative(p, SOURCE_ROOT).string(), readFile(p), found);
        }
    }
}

struct ReaderCase {
    const char* name;
    const char* program;  // program source
    const char* client;   // client source
    const char* page;
    std::vector<std::string> unlisted;
    std::vector<std::string> unreadable;
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

class Reader : public testing::TestWithParam<ReaderCase> {};

TEST_P(Reader, FindsWhatThePageLacks) {
    const ReaderCase& c = GetParam();
    Found found;
    messages::readProgramSource("p.cpp", c.program, found);
    messages::readHandedStreams("p.cpp", c.program, found);
    messages::listUnreadHanded(found);
    messages::readClientSource("c.cpp", c.client, found);
    EXPECT_EQ(messages::unlisted(found.messages, messages::pageExamples(c.page)), c.unlisted);
    EXPECT_EQ(found.unreadable, c.unreadable);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Reader,
    testing::Values(
        ReaderCase{"ListedWholeInABlockOrASpan",
                   "std::fprintf(stderr, \"msfs-panel: panel \" \"at %s (%04x)\\n\", p, id);\n"
                   "std::fputs(\"msfs-panel: gone\\n\", stderr);",
                   "",
                   "```\nmsfs-panel: panel at /dev/hidraw0 (04d8)\n```\nand `msfs-panel: gone`.",
                   {},
                   {}},
        ReaderCase{"AMessageWithoutExampleIsNamed",
                   "int f() {\n  fputs(\"msfs-panel: gone\\n\", stderr);\n  fprintf(stderr, \"x %d\\n\", 1);\n}",
                   "",
                   "`x 12`",
                   {"p.cpp:2: msfs-panel: gone"},
                   {}},
        ReaderCase{"AnExampleMustMatchWhole",
                   "fputs(\"msfs-panel: gone\\n\", stderr);",
                   "",
                   "`msfs-panel: gone away`",
                   {"p.cpp:1: msfs-panel: gone"},
                   {}},
        ReaderCase{"EachLineOfAMessage", "fprintf(stderr, \"first line\\n%s\", usage);", "", "`first line`", {}, {}},
        ReaderCase{"CommentsAndOtherStreamsAreNoMessages",
                   "// fputs(\"said in a comment\\n\", stderr);\n/* fprintf(stderr, \"nor here\"); */\n"
                   "fprintf(out, \"LED %s on\\n\", n); printf(\"Connected\\n\");",
                   "",
                   "",
                   {},
                   {}},
        ReaderCase{"AWriteThatCannotBeReadIsNamed",
                   "void f() {\n  std::fprintf(stderr, kText, 1);\n  std::cerr << x;\n}",
                   "",
                   "",
                   {},
                   {"p.cpp:2: its text is no string literal",
                    "p.cpp:3: cerr used other than as fprintf(stderr, \"...\", ...) or fputs(\"...\", stderr)"}},
        ReaderCase{"StderrHandedToAFunctionIsFollowed",
                   "void report(int n, std::FILE* to) {\n  std::fprintf(to, \"msfs-panel: %d faults\\n\", n);\n"
                   "  std::fflush(to);\n}\nvoid f() { report(3, stderr); }\nvoid g() { show(stderr); }\n"
                   "void h() { std::fputs(kUsage.c_str(), stderr); }",
                   "",
                   "",
                   {"p.cpp:2: msfs-panel: %d faults"},
                   {"p.cpp:3: to (stderr from p.cpp:5) used other than as the stream of fprintf or fputs",
                    "p.cpp:6: stderr handed to show, whose definition was not found"}},
        ReaderCase{"ClientTextsAppearWithinAMessage",
                   "",
                   "setLastError(\"no answer from %s within %d s (%s)\", p, 5, o);\n"
                   "std::snprintf(why.text, sizeof why.text, \"connect(%s): %s\", peer, e);\n"
                   "std::snprintf(peer, sizeof peer, \"%s:%u\", ip, port);\n"
                   "result.error = \"SimConnect.cfg(\" + path + \"): cannot be read\";\n"
                   "void setLastError(const char* format, ...);\n",
                   "`msfs-panel: cannot connect to the simulator: no answer from 10.0.0.2:500 within 5 s (from x)`",
                   {"c.cpp:2: connect(%s): %s", "c.cpp:4: SimConnect.cfg(%s): cannot be read"},
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TroubleshootingPage, ListsEveryMessageOnStandardError) {
    Found found;
    readTree(fs::path(SOURCE_ROOT) / "MSFS2020", messages::readProgramSource, found);
    readTree(fs::path(SOURCE_ROOT) / "MSFS2020", messages::readHandedStreams, found);
    messages::listUnreadHanded(found);
    const std::size_t programMessages = found.messages.size();
    readTree(fs::path(SOURCE_ROOT) / "simconnect-client" / "src", messages::readClientSource, found);
    // The reader must have found the sources' messages, not nothing.
    ASSERT_GE(programMessages, 15U);
    ASSERT_GE(found.messages.size() - programMessages, 20U);
    for (const std::string& u : found.unreadable) {
        ADD_FAILURE() << u << " (write it so that this test can read the message, and list it on the page)";
    }

    const std::string page = readFile(TROUBLESHOOTING_PAGE);
    ASSERT_FALSE(page.empty()) << "cannot read " << TROUBLESHOOTING_PAGE;
    for (const std::string& m : messages::unlisted(found.messages, messages::pageExamples(page))) {
        ADD_FAILURE() << "docs/troubleshooting.md has no example of the message at " << m
                      << "\n  (add it as the program prints it, in a code block or span, with what it means and what "
                         "to do)";
    }
}

}  // namespace
