// Just enough JSON for the trace (JSON Lines) and the state output.
#ifndef SIM_EMULATOR_JSON_H
#define SIM_EMULATOR_JSON_H

#include <cstdint>
#include <string>
#include <string_view>

namespace simemu {

class Simulator;

// Wire strings are 8-bit (latin1); bytes from 0x80 up become \u00XX so the
// output stays ASCII and valid JSON whatever a client sends.
void appendJsonString(std::string& out, std::string_view text);
// Shortest text that reads back as the same double; null if not finite.
void appendJsonNumber(std::string& out, double value);

// One object on one line, fields in the order added.
class JsonLine {
public:
    JsonLine& uint(std::string_view key, std::uint64_t value);
    JsonLine& number(std::string_view key, double value);
    JsonLine& string(std::string_view key, std::string_view value);
    JsonLine& null(std::string_view key);
    // Another JsonLine's fields as a nested object.
    JsonLine& object(std::string_view key, const JsonLine& inner);
    // The object closed and a newline appended.
    std::string finish();

private:
    void key(std::string_view k);
    std::string text_ = "{";
};

// Every modelled variable by its SimConnect name, in its own unit, then the
// named variables ("L:NAME", "A:NAME"), the loaded "aircraft" (title,
// path), "input_events" (values by name), then "custom_events" and
// "unknown_events" (transmission counts by name).
std::string stateJson(const Simulator& sim);

}  // namespace simemu

#endif
