// bench-client EVENTS: connects to the simulator named by SimConnect.cfg in
// the working directory, sets the connection up exactly as msfs-panel does
// (its own setupConnection: 91 mappings, 16 data definitions, 2 requests),
// sends EVENTS AP_ALT_VAR_SET_ENGLISH events with the altitudes 1000,
// 1001, ... and waits until a data block shows the last of them. Prints one
// JSON line: start (CLOCK_MONOTONIC ns), wall and CPU time of the whole work.
// Fails (status 1, saying why) when the simulator refuses events or no block
// shows the last one within kWaitSeconds.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <time.h>

#include <simconnect_net.h>

#include "simulator/client_events.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

constexpr int kUsageError = 2;
constexpr DWORD kFirstAltitude = 1000;
constexpr int kWaitSeconds = 30;

// Events the simulator answered with exception ERROR: refused (the emulator
// does so beyond its cap of events waiting for their frame), so the last
// value would never show.
long refused = 0;

void CALLBACK dispatch(SIMCONNECT_RECV* record, DWORD size, void* context) {
    if (record->dwID == SIMCONNECT_RECV_ID_EXCEPTION && size >= sizeof(SIMCONNECT_RECV_EXCEPTION) &&
        static_cast<const SIMCONNECT_RECV_EXCEPTION*>(record)->dwException == SIMCONNECT_EXCEPTION_ERROR) {
        ++refused;
    }
    onSimConnectMessage(record, size, context);
}

std::int64_t nowNs(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    long events = -1;
    if (argc == 2) {
        const std::string_view text = argv[1];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), events);
        if (ec != std::errc{} || end != text.data() + text.size()) {
            events = -1;
        }
    }
    if (events < 0 || events > 1000000) {
        std::fprintf(stderr,
                     "bench-client: EVENTS(%s): expected a count from 0 to 1000000\n"
                     "usage: bench-client EVENTS\n",
                     argc >= 2 ? argv[1] : "");
        return kUsageError;
    }

    const std::int64_t start = nowNs(CLOCK_MONOTONIC);
    const std::int64_t cpuStart = nowNs(CLOCK_PROCESS_CPUTIME_ID);
    HANDLE handle = nullptr;
    if (SimConnect_Open(&handle, "Request Data", nullptr, 0, nullptr, 0) < 0) {
        std::fprintf(stderr, "bench-client: %s\n", SimConnectNet_LastError());
        return 1;
    }
    msfsInterface.connection = &handle;
    msfsInterface.setupConnection();

    constexpr ClientEventId altitudeSet = clientEventId("AP_ALT_VAR_SET_ENGLISH");
    for (long i = 0; i < events; ++i) {
        if (SimConnect_TransmitClientEvent(handle, SIMCONNECT_OBJECT_ID_USER, altitudeSet,
                                           kFirstAltitude + static_cast<DWORD>(i), SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                           SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY) < 0) {
            std::fprintf(stderr, "bench-client: %s\n", SimConnectNet_LastError());
            return 1;
        }
    }
    // The simulator has taken every event once its data shows the last one
    // (it applies them in order). Without events: once data arrives at all.
    const double last = static_cast<double>(kFirstAltitude) + static_cast<double>(events) - 1.0;
    const std::int64_t giveUp = nowNs(CLOCK_MONOTONIC) + std::int64_t{kWaitSeconds} * 1000000000;
    bool shown = false;
    while (!shown) {
        if (SimConnect_CallDispatch(handle, dispatch, nullptr) < 0) {
            std::fprintf(stderr, "bench-client: %s\n", SimConnectNet_LastError());
            return 1;
        }
        shown = events == 0 ? !std::isnan(msfsInterface.ap_altitude) : msfsInterface.ap_altitude == last;
        // A refusal comes before the block that would show the last value;
        // with one, the run measured fewer events than it says.
        if (refused > 0) {
            std::fprintf(stderr,
                         "bench-client: the simulator refused events with exception ERROR (%ld of the %ld by "
                         "then): more waiting for their frame than it takes?\n",
                         refused, events);
            return 1;
        }
        if (!shown && nowNs(CLOCK_MONOTONIC) > giveUp) {
            std::fprintf(stderr, "bench-client: no data block showed the altitude %.0f within %d s (the last: %.0f)\n",
                         last, kWaitSeconds, msfsInterface.ap_altitude);
            return 1;
        }
        if (!shown) {
            // Short enough not to add to the wall time noticeably, long
            // enough not to spin the CPU that is being measured.
            const timespec pause{0, 200000};
            ::nanosleep(&pause, nullptr);
        }
    }
    const std::int64_t wall = nowNs(CLOCK_MONOTONIC) - start;
    const std::int64_t cpu = nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    SimConnect_Close(handle);
    std::printf("{\"client\":\"simconnect-net\",\"events\":%ld,\"start_ns\":%lld,\"wall_ns\":%lld,\"cpu_ns\":%lld}\n",
                events, static_cast<long long>(start), static_cast<long long>(wall), static_cast<long long>(cpu));
    return 0;
}
