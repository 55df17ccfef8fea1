// Just enough JSON for the tests' own files and the emulator's outputs (the
// golden vectors and start-up, trace lines, the state file): objects,
// arrays, strings (with simple escapes), numbers, true/false/null.
#ifndef TESTS_COMMON_MINI_JSON_H
#define TESTS_COMMON_MINI_JSON_H

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace minijson {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Value> items;
    std::map<std::string, Value> members;

    const Value& operator[](const std::string& key) const {
        auto it = members.find(key);
        if (it == members.end()) {
            throw std::runtime_error("json: no member \"" + key + "\"");
        }
        return it->second;
    }
    bool has(const std::string& key) const { return members.count(key) != 0; }

    // A member read as a string, a whole number or any number; a member of
    // another kind is an error that names it.
    const std::string& str(const std::string& key) const { return member(key, Kind::String).text; }
    std::int64_t num(const std::string& key) const {
        const double n = member(key, Kind::Number).number;
        if (n != std::trunc(n)) {
            throw std::runtime_error("json: \"" + key + "\" is not a whole number");
        }
        return static_cast<std::int64_t>(n);
    }
    double real(const std::string& key) const { return member(key, Kind::Number).number; }

private:
    const Value& member(const std::string& key, Kind want) const {
        const Value& v = (*this)[key];
        if (v.kind != want) {
            throw std::runtime_error("json: \"" + key + "\" is not a " + (want == Kind::String ? "string" : "number"));
        }
        return v;
    }
};

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    Value parse() {
        Value v = value();
        space();
        if (i_ != s_.size()) {
            fail("trailing characters");
        }
        return v;
    }

private:
    [[noreturn]] void fail(const char* what) {
        throw std::runtime_error("json(offset " + std::to_string(i_) + "): " + what);
    }
    void space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) {
            ++i_;
        }
    }
    bool eat(char c) {
        space();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void want(char c) {
        if (!eat(c)) {
            fail("unexpected character");
        }
    }
    std::string string() {
        want('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c == '\\') {
                if (i_ >= s_.size()) {
                    fail("bad escape");
                }
                char e = s_[i_++];
                switch (e) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'u':
                    // The vectors are ASCII; keep \u00XX only.
                    if (i_ + 4 > s_.size()) {
                        fail("bad \\u escape");
                    }
                    out += static_cast<char>(std::stoi(std::string(s_.substr(i_, 4)), nullptr, 16));
                    i_ += 4;
                    break;
                default: out += e; break;
                }
            } else {
                out += c;
            }
        }
        want('"');
        return out;
    }
    Value value() {
        space();
        if (i_ >= s_.size()) {
            fail("unexpected end");
        }
        Value v;
        const char c = s_[i_];
        if (c == '{') {
            v.kind = Value::Kind::Object;
            ++i_;
            if (!eat('}')) {
                do {
                    space();
                    std::string key = string();
                    want(':');
                    v.members.emplace(std::move(key), value());
                } while (eat(','));
                want('}');
            }
        } else if (c == '[') {
            v.kind = Value::Kind::Array;
            ++i_;
            if (!eat(']')) {
                do {
                    v.items.push_back(value());
                } while (eat(','));
                want(']');
            }
        } else if (c == '"') {
            v.kind = Value::Kind::String;
            v.text = string();
        } else if (s_.substr(i_, 4) == "true" || s_.substr(i_, 5) == "false") {
            v.kind = Value::Kind::Bool;
            v.boolean = s_[i_] == 't';
            i_ += v.boolean ? 4 : 5;
        } else if (s_.substr(i_, 4) == "null") {
            i_ += 4;
        } else {
            std::size_t used = 0;
            v.kind = Value::Kind::Number;
            v.number = std::stod(std::string(s_.substr(i_, 32)), &used);
            i_ += used;
        }
        return v;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// The whole of `path`, parsed; an unreadable file is an error that names it.
inline Value parseFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        throw std::runtime_error("json: cannot read " + path);
    }
    return Parser(text.str()).parse();
}

}  // namespace minijson

#endif
