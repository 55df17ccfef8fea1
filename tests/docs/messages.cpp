#include "messages.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <optional>
#include <set>

namespace messages {
namespace {

struct Token {
    enum class Type { Ident, String, Punct, Other } type;
    std::string text;  // a string literal's decoded characters
    int line;
};

bool identStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// The characters of the literal whose opening quote is at `i`; `i` ends past
// its closing quote.
std::string readString(const std::string& s, std::size_t& i, int& line) {
    std::string out;
    for (++i; i < s.size() && s[i] != '"'; ++i) {
        char c = s[i];
        if (c == '\n') {
            ++line;
        }
        if (c == '\\' && i + 1 < s.size()) {
            c = s[++i];
            switch (c) {
            case 'n': c = '\n'; break;
            case 't': c = '\t'; break;
            case 'r': c = '\r'; break;
            case '0': c = '\0'; break;
            default: break;  // \" \\ \' and the rest as themselves
            }
        }
        out += c;
    }
    ++i;
    return out;
}

// C++ source as tokens, without comments, preprocessor lines and the
// prefixes of string literals.
std::vector<Token> lex(const std::string& s) {
    std::vector<Token> tokens;
    int line = 1;
    bool lineStart = true;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\n') {
            ++line;
            lineStart = true;
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            ++i;
        } else if (s.compare(i, 2, "//") == 0) {
            i = s.find('\n', i);
            i = i == std::string::npos ? s.size() : i;
        } else if (s.compare(i, 2, "/*") == 0) {
            const std::size_t end = s.find("*/", i + 2);
            const std::size_t stop = end == std::string::npos ? s.size() : end + 2;
            for (; i < stop; ++i) {
                line += s[i] == '\n' ? 1 : 0;
            }
        } else if (c == '#' && lineStart) {
            // To the end of the line, and of the lines a backslash continues.
            while (i < s.size() && !(s[i] == '\n' && s[i - 1] != '\\')) {
                line += s[i] == '\n' ? 1 : 0;
                ++i;
            }
        } else if (c == '"') {
            const int at = line;
            tokens.push_back({Token::Type::String, readString(s, i, line), at});
            lineStart = false;
        } else if (c == '\'') {
            for (++i; i < s.size() && s[i] != '\''; ++i) {
                i += s[i] == '\\' ? 1 : 0;
            }
            ++i;
            tokens.push_back({Token::Type::Other, "'", line});
            lineStart = false;
        } else if (identStart(c)) {
            const std::size_t start = i;
            while (i < s.size() && identChar(s[i])) {
                ++i;
            }
            std::string word = s.substr(start, i - start);
            const bool prefix = word == "L" || word == "u" || word == "U" || word == "u8";
            if (!(prefix && i < s.size() && (s[i] == '"' || s[i] == '\''))) {
                tokens.push_back({Token::Type::Ident, std::move(word), line});
            }
            lineStart = false;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            const std::size_t start = i;
            while (i < s.size() && (identChar(s[i]) || s[i] == '.' || s[i] == '\'')) {
                ++i;
            }
            tokens.push_back({Token::Type::Other, s.substr(start, i - start), line});
            lineStart = false;
        } else {
            tokens.push_back({Token::Type::Punct, std::string(1, c), line});
            ++i;
            lineStart = false;
        }
    }
    return tokens;
}

bool is(const std::vector<Token>& t, std::size_t i, const char* text) { return i < t.size() && t[i].text == text; }

using Arg = std::vector<std::size_t>;  // indexes of an argument's tokens

// The arguments of the call whose "(" is at `open`; `end` gets the index of
// its ")".
std::vector<Arg> callArgs(const std::vector<Token>& t, std::size_t open, std::size_t& end) {
    std::vector<Arg> args(1);
    int depth = 0;
    for (std::size_t i = open; i < t.size(); ++i) {
        const bool punct = t[i].type == Token::Type::Punct;
        if (punct && (t[i].text == "(" || t[i].text == "[" || t[i].text == "{")) {
            if (depth++ == 0) {
                continue;
            }
        } else if (punct && (t[i].text == ")" || t[i].text == "]" || t[i].text == "}")) {
            if (--depth == 0) {
                end = i;
                return args;
            }
        } else if (punct && t[i].text == "," && depth == 1) {
            args.emplace_back();
            continue;
        }
        args.back().push_back(i);
    }
    end = t.size();
    return args;
}

// The concatenated literals of an argument made of string literals alone.
std::optional<std::string> literal(const std::vector<Token>& t, const Arg& arg) {
    if (arg.empty()) {
        return std::nullopt;
    }
    std::string text;
    for (const std::size_t i : arg) {
        if (t[i].type != Token::Type::String) {
            return std::nullopt;
        }
        text += t[i].text;
    }
    return text;
}

bool argIs(const std::vector<Token>& t, const Arg& arg, std::initializer_list<const char*> words) {
    if (arg.size() != words.size()) {
        return false;
    }
    std::size_t k = 0;
    for (const char* w : words) {
        if (t[arg[k++]].text != w) {
            return false;
        }
    }
    return true;
}

std::string at(const std::string& where, int line) { return where + ":" + std::to_string(line); }

// A string expression as a format: its literals kept (% doubled), every
// other term a %s. Empty when it holds no literal.
std::string expressionFormat(const std::vector<Token>& t, std::size_t from, std::size_t to) {
    std::string format;
    bool anyLiteral = false;
    bool inTerm = false;  // a non-literal term has begun
    int depth = 0;
    for (std::size_t i = from; i < to; ++i) {
        const std::string& x = t[i].text;
        if (t[i].type == Token::Type::Punct && (x == "(" || x == "[")) {
            ++depth;
        } else if (t[i].type == Token::Type::Punct && (x == ")" || x == "]")) {
            --depth;
        }
        if (depth == 0 && t[i].type == Token::Type::Punct && x == "+") {
            inTerm = false;
        } else if (depth == 0 && t[i].type == Token::Type::String) {
            for (const char c : x) {
                format += c == '%' ? std::string("%%") : std::string(1, c);
            }
            anyLiteral = true;
        } else if (!inTerm) {
            format += "%s";
            inTerm = true;
        }
    }
    return anyLiteral ? format : std::string();
}

// A printf format as pieces to match: text, and the kinds of text a
// conversion can print.
struct Piece {
    enum class Kind { Text, Any, Digits, SignedDigits, Hex, Char } kind;
    std::string text;
};

// The conversion at format[i] == '%'; `i` ends past it.
Piece conversion(const std::string& format, std::size_t& i) {
    std::size_t j = i + 1;
    bool plus = false;
    while (j < format.size() && std::string_view("-+ #0123456789.*hlzjt").find(format[j]) != std::string_view::npos) {
        plus = plus || format[j] == '+';
        ++j;
    }
    const char c = j < format.size() ? format[j] : '%';
    i = j + 1;
    switch (c) {
    case '%': return {Piece::Kind::Text, "%"};
    case 'd':
    case 'i': return {plus ? Piece::Kind::SignedDigits : Piece::Kind::Digits, ""};
    case 'u': return {Piece::Kind::Digits, ""};
    case 'x':
    case 'X': return {Piece::Kind::Hex, ""};
    case 'c': return {Piece::Kind::Char, ""};
    default: return {Piece::Kind::Any, ""};  // s, and anything else
    }
}

std::vector<Piece> pieces(const std::string& format) {
    std::vector<Piece> result;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] == '%') {
            Piece p = conversion(format, i);
            if (p.kind != Piece::Kind::Text) {
                result.push_back(std::move(p));
                continue;
            }
            if (result.empty() || result.back().kind != Piece::Kind::Text) {
                result.push_back({Piece::Kind::Text, ""});
            }
            result.back().text += p.text;
            continue;
        }
        if (result.empty() || result.back().kind != Piece::Kind::Text) {
            result.push_back({Piece::Kind::Text, ""});
        }
        result.back().text += format[i++];
    }
    return result;
}

bool inClass(Piece::Kind kind, char c) {
    const auto u = static_cast<unsigned char>(c);
    return kind == Piece::Kind::Hex ? std::isxdigit(u) != 0 : std::isdigit(u) != 0;
}

// Whether pieces[p...] match text[t...], to its end when `whole`.
bool matchFrom(const std::vector<Piece>& pieces, std::size_t p, std::string_view text, std::size_t t, bool whole) {
    if (p == pieces.size()) {
        return !whole || t == text.size();
    }
    const Piece& piece = pieces[p];
    switch (piece.kind) {
    case Piece::Kind::Text:
        return text.substr(t).starts_with(piece.text) && matchFrom(pieces, p + 1, text, t + piece.text.size(), whole);
    case Piece::Kind::Char: return t < text.size() && matchFrom(pieces, p + 1, text, t + 1, whole);
    case Piece::Kind::Any:
        for (std::size_t end = t; end <= text.size(); ++end) {
            if (matchFrom(pieces, p + 1, text, end, whole)) {
                return true;
            }
        }
        return false;
    default: {
        std::size_t end = t;
        const bool sign = end < text.size() && (text[end] == '-' || text[end] == '+');
        if (piece.kind == Piece::Kind::SignedDigits && !sign) {
            return false;
        }
        if (sign && (piece.kind == Piece::Kind::SignedDigits || text[end] == '-')) {
            ++end;
        }
        const std::size_t first = end;
        while (end < text.size() && inClass(piece.kind, text[end])) {
            ++end;
        }
        // Every length of the run, the longest first.
        for (; end > first; --end) {
            if (matchFrom(pieces, p + 1, text, end, whole)) {
                return true;
            }
        }
        return false;
    }
    }
}

bool matches(const std::vector<Piece>& pieces, const std::string& text, bool whole) {
    for (std::size_t start = 0; start <= (whole ? 0 : text.size()); ++start) {
        if (matchFrom(pieces, 0, text, start, whole)) {
            return true;
        }
    }
    return false;
}

// A format with no word of its own ("%s", "%s (%s)") says nothing a page could list.
bool hasText(const std::string& format) {
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] == '%') {
            conversion(format, i);
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(format[i++])) != 0) {
            return true;
        }
    }
    return false;
}

// The call that takes the token at `i` as a whole argument, if any: its
// function's name (fprintf and fputs excepted) and the argument's position.
std::optional<HandedStream> handedTo(const std::vector<Token>& t, std::size_t i) {
    if (i == 0 || !(is(t, i - 1, "(") || is(t, i - 1, ",")) || !(is(t, i + 1, ")") || is(t, i + 1, ","))) {
        return std::nullopt;
    }
    std::size_t argument = 0;
    int depth = 0;
    for (std::size_t k = i; k-- > 0;) {
        const bool punct = t[k].type == Token::Type::Punct;
        if (punct && (t[k].text == ")" || t[k].text == "]" || t[k].text == "}")) {
            ++depth;
        } else if (punct && (t[k].text == "(" || t[k].text == "[" || t[k].text == "{")) {
            if (depth-- > 0) {
                continue;
            }
            if (t[k].text != "(" || k == 0 || t[k - 1].type != Token::Type::Ident || t[k - 1].text == "fprintf" ||
                t[k - 1].text == "fputs") {
                return std::nullopt;
            }
            return HandedStream{"", t[k - 1].text, argument};
        } else if (punct && t[k].text == "," && depth == 0) {
            ++argument;
        }
    }
    return std::nullopt;
}

}  // namespace

void readProgramSource(const std::string& where, const std::string& text, Found& found) {
    const std::vector<Token> t = lex(text);
    std::set<std::size_t> followed;  // the stderr tokens of the calls read
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        if (t[i].type != Token::Type::Ident || !is(t, i + 1, "(") || (t[i].text != "fprintf" && t[i].text != "fputs")) {
            continue;
        }
        std::size_t end = 0;
        const std::vector<Arg> args = callArgs(t, i + 1, end);
        const bool fprintf = t[i].text == "fprintf";
        const Arg& stream = fprintf ? args.front() : args.back();
        if (args.size() < 2 || !argIs(t, stream, {"stderr"})) {
            continue;
        }
        followed.insert(stream.front());
        const Arg& text = fprintf ? args[1] : args[0];
        if (const std::optional<std::string> format = literal(t, text)) {
            found.messages.push_back({at(where, t[i].line), *format, Message::Kind::Whole});
        } else if (!argIs(t, text, {"kUsage", ".", "c_str", "(", ")"})) {
            found.unreadable.push_back(at(where, t[i].line) + ": its text is no string literal");
        }
    }
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::string& x = t[i].text;
        if (t[i].type != Token::Type::Ident || (x != "stderr" && x != "cerr" && x != "perror") ||
            followed.contains(i)) {
            continue;
        }
        if (x == "stderr") {
            if (std::optional<HandedStream> handed = handedTo(t, i)) {
                handed->where = at(where, t[i].line);
                found.handed.push_back(std::move(*handed));
                continue;
            }
        }
        found.unreadable.push_back(at(where, t[i].line) + ": " + x +
                                   " used other than as fprintf(stderr, \"...\", ...) or fputs(\"...\", stderr)");
    }
}

void readHandedStreams(const std::string& where, const std::string& text, Found& found) {
    const std::vector<Token> t = lex(text);
    for (HandedStream& handed : found.handed) {
        for (std::size_t i = 0; i + 1 < t.size(); ++i) {
            if (t[i].type != Token::Type::Ident || t[i].text != handed.function || !is(t, i + 1, "(")) {
                continue;
            }
            std::size_t close = 0;
            const std::vector<Arg> params = callArgs(t, i + 1, close);
            std::size_t open = close + 1;
            while (is(t, open, "const") || is(t, open, "noexcept")) {
                ++open;
            }
            // A definition: its body follows, and the parameter is a FILE*.
            if (!is(t, open, "{") || handed.argument >= params.size()) {
                continue;
            }
            const Arg& param = params[handed.argument];
            const bool file =
                std::any_of(param.begin(), param.end(), [&](std::size_t k) { return t[k].text == "FILE"; });
            if (!file || param.empty() || t[param.back()].type != Token::Type::Ident) {
                continue;
            }
            handed.read = true;
            const std::string& stream = t[param.back()].text;
            std::size_t end = 0;
            callArgs(t, open, end);  // the body's closing brace
            std::set<std::size_t> followed;
            for (std::size_t k = open; k < end; ++k) {
                if (t[k].type != Token::Type::Ident || !is(t, k + 1, "(") ||
                    (t[k].text != "fprintf" && t[k].text != "fputs")) {
                    continue;
                }
                std::size_t callEnd = 0;
                const std::vector<Arg> args = callArgs(t, k + 1, callEnd);
                const bool fprintf = t[k].text == "fprintf";
                const Arg& to = fprintf ? args.front() : args.back();
                if (args.size() < 2 || !argIs(t, to, {stream.c_str()})) {
                    continue;
                }
                followed.insert(to.front());
                if (const std::optional<std::string> format = literal(t, fprintf ? args[1] : args[0])) {
                    found.messages.push_back({at(where, t[k].line), *format, Message::Kind::Whole});
                } else {
                    found.unreadable.push_back(at(where, t[k].line) + ": its text is no string literal");
                }
            }
            for (std::size_t k = open; k < end; ++k) {
                if (t[k].type == Token::Type::Ident && t[k].text == stream && !followed.contains(k)) {
                    found.unreadable.push_back(at(where, t[k].line) + ": " + stream + " (stderr from " + handed.where +
                                               ") used other than as the stream of fprintf or fputs");
                }
            }
        }
    }
}

void listUnreadHanded(Found& found) {
    for (const HandedStream& handed : found.handed) {
        if (!handed.read) {
            found.unreadable.push_back(handed.where + ": stderr handed to " + handed.function +
                                       ", whose definition was not found");
        }
    }
}

void readClientSource(const std::string& where, const std::string& text, Found& found) {
    const std::vector<Token> t = lex(text);
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        if (t[i].type != Token::Type::Ident) {
            continue;
        }
        const std::string& x = t[i].text;
        if ((x == "setLastError" || x == "snprintf") && is(t, i + 1, "(")) {
            std::size_t end = 0;
            const std::vector<Arg> args = callArgs(t, i + 1, end);
            std::optional<std::string> format;
            if (x == "setLastError") {
                format = literal(t, args.front());  // none in its declaration
            } else if (args.size() >= 3 && argIs(t, args[0], {"why", ".", "text"})) {
                format = literal(t, args[2]);
            }
            if (format) {
                found.messages.push_back({at(where, t[i].line), *format, Message::Kind::Part});
            }
        } else if ((x == "error" || x == "origin") && is(t, i + 1, "=") && !is(t, i + 2, "=")) {
            std::size_t end = i + 2;
            while (end < t.size() && !is(t, end, ";")) {
                ++end;
            }
            if (const std::string format = expressionFormat(t, i + 2, end); !format.empty()) {
                found.messages.push_back({at(where, t[i].line), format, Message::Kind::Part});
            }
        }
    }
}

std::vector<std::string> pageExamples(const std::string& markdown) {
    std::vector<std::string> examples;
    bool fenced = false;
    std::size_t start = 0;
    while (start < markdown.size()) {
        std::size_t stop = markdown.find('\n', start);
        stop = stop == std::string::npos ? markdown.size() : stop;
        const std::string line = markdown.substr(start, stop - start);
        start = stop + 1;
        const std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && line.compare(first, 3, "```") == 0) {
            fenced = !fenced;
            continue;
        }
        if (fenced) {
            examples.push_back(first == std::string::npos ? std::string() : line.substr(first));
            continue;
        }
        // Inline code: between two runs of as many backticks.
        for (std::size_t i = 0; (i = line.find('`', i)) != std::string::npos;) {
            const std::size_t run = line.find_first_not_of('`', i) - i;
            const std::string fence(run, '`');
            const std::size_t close = line.find(fence, i + run);
            if (close == std::string::npos) {
                break;
            }
            std::string span = line.substr(i + run, close - i - run);
            // ``  `x`  `` may pad the span with one space each side.
            if (run > 1 && span.size() >= 2 && span.front() == ' ' && span.back() == ' ') {
                span = span.substr(1, span.size() - 2);
            }
            examples.push_back(span);
            i = close + run;
        }
    }
    return examples;
}

std::vector<std::string> unlisted(const std::vector<Message>& messages, const std::vector<std::string>& examples) {
    std::vector<std::string> missing;
    for (const Message& m : messages) {
        // A line at a time: a message may print several.
        std::size_t start = 0;
        while (start <= m.format.size()) {
            std::size_t stop = m.format.find('\n', start);
            stop = stop == std::string::npos ? m.format.size() : stop;
            const std::string part = m.format.substr(start, stop - start);
            start = stop + 1;
            if (!hasText(part)) {
                continue;
            }
            const std::vector<Piece> pattern = pieces(part);
            bool listed = false;
            for (const std::string& example : examples) {
                if ((listed = matches(pattern, example, m.kind == Message::Kind::Whole))) {
                    break;
                }
            }
            if (!listed) {
                missing.push_back(m.where + ": " + part);
            }
        }
    }
    return missing;
}

}  // namespace messages
