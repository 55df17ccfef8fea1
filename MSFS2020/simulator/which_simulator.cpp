#include "simulator/which_simulator.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "simconnect_protocol/protocol.h"

namespace {

struct KnownSimulator {
    std::string_view application;
    const char* title;
};

constexpr KnownSimulator kKnownSimulators[] = {
    {"KittyHawk", "Microsoft Flight Simulator 2020"},
    {"SunRise", "Microsoft Flight Simulator 2024"},
};

// Names longer than this are not a simulator's; the rest is cut.
constexpr std::size_t kShownNameBytes = 40;

}  // namespace

std::string describeSimulator(const SIMCONNECT_RECV_OPEN& open) {
    // The name field need not be NUL-terminated.
    const std::string_view name(open.szApplicationName, strnlen(open.szApplicationName, sizeof open.szApplicationName));
    char application[24];
    std::snprintf(application, sizeof application, "%lu.%lu",
                  static_cast<unsigned long>(open.dwApplicationVersionMajor),
                  static_cast<unsigned long>(open.dwApplicationVersionMinor));
    char simConnect[40];
    std::snprintf(simConnect, sizeof simConnect, "SimConnect %lu.%lu",
                  static_cast<unsigned long>(open.dwSimConnectVersionMajor),
                  static_cast<unsigned long>(open.dwSimConnectVersionMinor));
    for (const KnownSimulator& known : kKnownSimulators) {
        if (name == known.application) {
            return std::string(known.title) + " (" + std::string(name) + " " + application + ", " + simConnect + ")";
        }
    }
    return "\"" + scproto::printable(name, kShownNameBytes) + "\" " + application + " (" + simConnect +
           "), which this program does not know";
}

void sayWhichSimulator(const SIMCONNECT_RECV* record, DWORD size) {
    if (size < sizeof(SIMCONNECT_RECV_OPEN)) {
        std::fprintf(stderr, "msfs-panel: simulator: not named (its OPEN record has %lu bytes, fewer than %zu)\n",
                     static_cast<unsigned long>(size), sizeof(SIMCONNECT_RECV_OPEN));
        return;
    }
    const std::string text = describeSimulator(*static_cast<const SIMCONNECT_RECV_OPEN*>(record));
    std::fprintf(stderr, "msfs-panel: simulator: %s\n", text.c_str());
}
