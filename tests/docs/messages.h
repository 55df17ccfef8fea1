// The messages the program can print on standard error, read from its
// sources, and the troubleshooting page's examples they must match.
#ifndef TESTS_DOCS_MESSAGES_H
#define TESTS_DOCS_MESSAGES_H

#include <string>
#include <vector>

namespace messages {

struct Message {
    std::string where;   // "file:line"
    std::string format;  // printf-style; a term that is not a literal reads as %s
    // Whole: a line the program prints, which an example must match from
    // start to end. Part: a text the network client hands over (through
    // SimConnectNet_LastError) for the program to put in a line, which must
    // appear within an example.
    enum class Kind { Whole, Part } kind = Kind::Whole;
};

// stderr handed to a function of the program (reportFaults(catalog, stderr)),
// whose writes to that parameter are the messages.
struct HandedStream {
    std::string where;     // "file:line" of the call
    std::string function;  // its name, unqualified
    std::size_t argument;  // stderr's position among the arguments
    bool read = false;     // a definition of the function was read
};

struct Found {
    std::vector<Message> messages;
    std::vector<std::string> unreadable;  // "file:line: why", for stderr writes this reader cannot follow
    std::vector<HandedStream> handed;
};

// The program's writes to standard error: fprintf(stderr, "...", ...) and
// fputs("...", stderr), with their literal formats. stderr given as a whole
// argument to another function is noted in `handed`; the usage (kUsage),
// which --help prints too, is no message of its own. Any other use of stderr
// (or of std::cerr, perror) is listed as unreadable.
void readProgramSource(const std::string& where, const std::string& text, Found& found);

// After readProgramSource has read every file: the definitions of the
// functions stderr was handed to, whose fprintf(P, "...") and fputs("...", P)
// to that FILE* parameter P are messages. Any other use of P is unreadable.
void readHandedStreams(const std::string& where, const std::string& text, Found& found);

// The handed streams whose function no file defined, listed as unreadable.
void listUnreadHanded(Found& found);

// The network client's texts: the formats of setLastError, of the reasons
// written into why.text, and the strings assigned to an `error` or `origin`
// (literals kept, other terms as %s).
void readClientSource(const std::string& where, const std::string& text, Found& found);

// The examples of a Markdown page: each line of its fenced blocks, and each
// inline code span.
std::vector<std::string> pageExamples(const std::string& markdown);

// The messages no example matches, as "where: format".
std::vector<std::string> unlisted(const std::vector<Message>& messages, const std::vector<std::string>& examples);

}  // namespace messages

#endif
