#include "mobiflight/calculator.h"

#include "text.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace simemu::mobiflight {
namespace {

struct Token {
    enum class Kind { Number, Operator, Read, Write } kind = Kind::Number;
    double number = 0.0;
    char op = 0;
    char prefix = 0;        // L, A, K, H ... of a variable or event
    std::string_view name;  // without prefix and unit
    std::string_view unit;  // after the comma, if any
    std::string_view text;  // as written, for messages
};

std::string quoted(std::string_view text) { return "\"" + printable(text) + "\""; }

// "(L:NAME, unit)" or "(>K:NAME)" into its parts; false when not of that form.
bool parseVariable(std::string_view inner, Token& t) {
    if (!inner.empty() && inner.front() == '>') {
        t.kind = Token::Kind::Write;
        inner.remove_prefix(1);
    } else {
        t.kind = Token::Kind::Read;
    }
    if (inner.size() < 3 || inner[1] != ':') {
        return false;
    }
    t.prefix = static_cast<char>(inner[0] >= 'a' && inner[0] <= 'z' ? inner[0] - 'a' + 'A' : inner[0]);
    inner.remove_prefix(2);
    if (const auto comma = inner.find(','); comma != std::string_view::npos) {
        t.unit = trim(inner.substr(comma + 1));
        inner = inner.substr(0, comma);
    }
    t.name = trim(inner);
    return !t.name.empty();
}

bool tokenize(std::string_view code, std::vector<Token>& out, std::string& error) {
    std::size_t at = 0;
    while (at < code.size()) {
        if (code[at] == ' ' || code[at] == '\t') {
            ++at;
            continue;
        }
        Token t;
        if (code[at] == '(') {
            const auto close = code.find(')', at);
            if (close == std::string_view::npos) {
                error = "no ')' after " + quoted(code.substr(at));
                return false;
            }
            t.text = code.substr(at, close + 1 - at);
            at = close + 1;
            if (!parseVariable(t.text.substr(1, t.text.size() - 2), t)) {
                error = "not a variable or event: " + quoted(t.text);
                return false;
            }
        } else {
            std::size_t end = at;
            while (end < code.size() && code[end] != ' ' && code[end] != '\t' && code[end] != '(') {
                ++end;
            }
            t.text = code.substr(at, end - at);
            at = end;
            if (t.text.size() == 1 && std::string_view("+-*/").find(t.text[0]) != std::string_view::npos) {
                t.kind = Token::Kind::Operator;
                t.op = t.text[0];
            } else {
                const auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), t.number);
                if (r.ec != std::errc() || r.ptr != t.text.data() + t.text.size() || !std::isfinite(t.number)) {
                    error = "not understood: " + quoted(t.text);
                    return false;
                }
            }
        }
        out.push_back(t);
    }
    return true;
}

// An event's data from a stack value, as the simulator narrows it.
std::optional<std::uint32_t> eventData(double v) {
    if (!std::isfinite(v) || v < -2147483648.0 || v > 4294967295.0) {
        return std::nullopt;
    }
    const auto whole = static_cast<std::int64_t>(std::trunc(v));
    return static_cast<std::uint32_t>(whole);
}

}  // namespace

Outcome run(std::string_view code, SimulatorPort& sim, int client, Effects effects) {
    Outcome out;
    std::vector<Token> tokens;
    if (!tokenize(code, tokens, out.error)) {
        return out;
    }
    for (const Token& t : tokens) {
        if (t.kind == Token::Kind::Write && effects == Effects::Refused) {
            out.error = "a value to read cannot write or send: " + quoted(t.text);
            return out;
        }
    }
    std::vector<double> stack;
    const auto pop = [&stack]() {
        const double v = stack.back();
        stack.pop_back();
        return v;
    };
    for (const Token& t : tokens) {
        if (stack.size() >= kMaxStack) {
            out.error = "more than " + std::to_string(kMaxStack) + " values on the stack";
            return out;
        }
        switch (t.kind) {
        case Token::Kind::Number: stack.push_back(t.number); break;
        case Token::Kind::Operator: {
            if (stack.size() < 2) {
                out.error = quoted(t.text) + " needs two values";
                return out;
            }
            const double b = pop();
            const double a = pop();
            double r = 0.0;
            switch (t.op) {
            case '+': r = a + b; break;
            case '-': r = a - b; break;
            case '*': r = a * b; break;
            default: r = b == 0.0 ? 0.0 : a / b; break;  // the simulator's calculator gives 0
            }
            stack.push_back(r);
            break;
        }
        case Token::Kind::Read: {
            if (t.prefix != 'L' && t.prefix != 'A') {
                out.error = "only L: and A: variables are read here: " + quoted(t.text);
                return out;
            }
            const std::string name = std::string(1, t.prefix) + ":" + std::string(t.name);
            const auto v = sim.read(name, t.prefix == 'L' && t.unit.empty() ? "number" : t.unit);
            if (!v) {
                out.error = "cannot read " + quoted(t.text);
                return out;
            }
            stack.push_back(*v);
            break;
        }
        case Token::Kind::Write:
            if (t.prefix == 'H') {
                sim.hEvent(t.name);
            } else if (t.prefix == 'K') {
                const auto data = eventData(stack.empty() ? 0.0 : pop());
                if (!data) {
                    out.error = "no event data fits 32 bits for " + quoted(t.text);
                    return out;
                }
                if (!sim.applyEvent(client, t.name, *data)) {
                    out.error = "the simulator refused " + quoted(t.text);
                    return out;
                }
            } else if (t.prefix == 'L') {
                if (stack.empty()) {
                    out.error = quoted(t.text) + " needs a value";
                    return out;
                }
                if (!sim.writeLocal(t.name, pop())) {
                    out.error = "the simulator refused " + quoted(t.text);
                    return out;
                }
            } else {
                out.error = "only L: variables, K: and H: events are set here: " + quoted(t.text);
                return out;
            }
            break;
        }
    }
    if (!stack.empty()) {
        out.value = stack.back();
    }
    return out;
}

}  // namespace simemu::mobiflight
