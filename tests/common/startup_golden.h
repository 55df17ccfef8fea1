// The start-up msfs-panel sends, written down once: STARTUP_GOLDEN
// (tests/golden/startup.jsonl) holds one line per packet, from Open to the
// last data request, as sim-emulator's trace writes them but without the
// time stamp ("t_ns"). The program's own tests, the end-to-end tests, the
// emulator's tests, node-simconnect's replay and the platform checks all
// hold what they see to it; only the program itself has another copy. A
// start-up changed on purpose is written here by hand (or taken from a
// trace's first lines through `sed 's/,"t_ns":[0-9]*//'`), and read in
// review as a diff.
#ifndef TESTS_COMMON_STARTUP_GOLDEN_H
#define TESTS_COMMON_STARTUP_GOLDEN_H

#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "mini_json.h"

namespace golden {

// The golden file's lines.
inline const std::vector<std::string>& startup() {
    static const std::vector<std::string> lines = [] {
        std::ifstream in(STARTUP_GOLDEN);
        if (!in) throw std::runtime_error("cannot read the golden start-up " STARTUP_GOLDEN);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }();
    return lines;
}

// Lines as one text, for comparisons that show a diff.
inline std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// Its packets of one kind ("Open", "MapClientEventToSimEvent",
// "AddToDataDefinition", "RequestDataOnSimObject"), in order.
inline std::vector<minijson::Value> packets(const std::string& call) {
    std::vector<minijson::Value> out;
    for (const std::string& line : startup()) {
        minijson::Value packet = minijson::Parser(line).parse();
        if (packet.str("call") == call) out.push_back(std::move(packet));
    }
    return out;
}

// The simulator event the program maps client event `id` to.
inline std::string eventName(std::int64_t id) {
    for (const minijson::Value& map : packets("MapClientEventToSimEvent")) {
        if (map.num("event") == id) return map.str("name");
    }
    throw std::runtime_error("the golden start-up maps no client event " + std::to_string(id));
}

// The packet that maps simulator event `name`: its client event ID is
// "event", and its "send_id" is what an exception about it names.
inline minijson::Value mapping(const std::string& name) {
    for (minijson::Value& map : packets("MapClientEventToSimEvent")) {
        if (map.str("name") == name) return std::move(map);
    }
    throw std::runtime_error("the golden start-up maps no " + name);
}

// A trace's start-up as the golden file writes it: its first lines, as many
// as the start-up has (fewer while the trace is shorter), each without
// "t_ns". A last line without its newline is still being written: left out.
inline std::vector<std::string> startupOf(const std::string& trace) {
    const std::string stamp = ",\"t_ns\":";
    std::vector<std::string> out;
    std::istringstream in(trace);
    for (std::string line; out.size() < startup().size() && std::getline(in, line) && !in.eof();) {
        if (const std::size_t at = line.find(stamp); at != std::string::npos) {
            std::size_t end = at + stamp.size();
            while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
            line.erase(at, end - at);
        }
        out.push_back(line);
    }
    return out;
}

}  // namespace golden

#endif
