// The panel program's loop must not touch the heap once it runs: a pass with
// knob turns, button presses, data records and LED changes allocates nothing.
// The program's core and our SimConnect client are the real ones, against a
// real sim-emulator over 127.0.0.1; only the panel is the double.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "counting_allocator.h"
#include "emulator_process.h"
#include "driver/main_loop.h"
#include "panel_double.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

// Frames a little shorter than the pauses between passes, so that nearly
// every pass has data records to dispatch.
constexpr const char* frameMs = "4";
constexpr auto passPause = std::chrono::milliseconds(5);
constexpr int warmUpPasses = 100;
constexpr int countedPasses = 200;

class Emulator : public EmulatorProcess {
public:
    explicit Emulator(const std::string& dir) : EmulatorProcess(SIM_EMULATOR, dir + "/port", {"--frame-ms", frameMs}) {}
};

// A working directory holding the SimConnect.cfg that names the emulator,
// and HOME pointed there too so that no other file is found.
class Workspace {
public:
    Workspace() {
        std::string pattern = (std::filesystem::temp_directory_path() / "msfs-alloc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
        oldCwd_ = std::filesystem::current_path();
        if (const char* home = std::getenv("HOME")) {
            oldHome_ = home;
        }
    }
    ~Workspace() {
        std::filesystem::current_path(oldCwd_);
        ::setenv("HOME", oldHome_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::string& dir() const { return dir_; }
    void useEmulatorAt(int port) {
        std::ofstream(dir_ + "/SimConnect.cfg")
            << "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" << port << "\n";
        std::filesystem::current_path(dir_);
        ::setenv("HOME", dir_.c_str(), 1);
    }

private:
    std::string dir_;
    std::filesystem::path oldCwd_;
    std::string oldHome_;
};

// What the panel sends on pass `n`: the NAV1 outer knob on every pass, the
// altitude knob on every third, and the autopilot master pressed and
// released every 20 passes, which turns its LED on and off once the
// simulator's data shows it.
void feedPass(int n) {
    using panel_double::feed;
    using panel_double::report;
    feed(report(0, 1, 0, NAV1));
    if (n % 3 == 0) {
        feed(report(0, 1, 0, AP));
    }
    if (n % 20 == 0) {
        feed(report(BTN_AP_CDI, 0, 0, AP));
    } else if (n % 20 == 1) {
        feed(report(0, 0, 0, AP));
    }
}

TEST(SteadyState, ALoopPassAllocatesNothing) {
    Workspace workspace;
    ASSERT_FALSE(workspace.dir().empty());
    Emulator emulator(workspace.dir());
    ASSERT_GT(emulator.port(), 0) << "sim-emulator did not report its port";
    workspace.useEmulatorAt(emulator.port());

    // Start-up as runPanel does it, up to the loop.
    openPanel(panelState);
    ASSERT_EQ(panel_double::opens(), 1);
    ASSERT_EQ(SimConnect_Open(&simConnectHandle, "Request Data", nullptr, 0, nullptr, 0), S_OK);
    msfsInterface.connection = &simConnectHandle;
    panelState.simInterface->setupConnection();

    int n = 0;
    auto pass = [&n]() {
        feedPass(n++);
        const bool linked = runPass(panelState, simConnectHandle) == PassResult::Running;
        waitForPanel(panelState, std::chrono::steady_clock::now() + passPause);
        return linked;
    };
    for (int i = 0; i < warmUpPasses; ++i) {
        ASSERT_TRUE(pass());
    }
    ASSERT_GT(msfsInterface.nav1_standby, 0.0) << "no data record reached the program during warm-up";

    double nav = msfsInterface.nav1_standby;
    int navChanges = 0;
    const double altitudeBefore = msfsInterface.ap_altitude;
    const std::size_t ledWritesBefore = panel_double::writes().count;
    const long allocationsBefore = alloc_count::total();
    bool linked = true;
    for (int i = 0; i < countedPasses && linked; ++i) {
        linked = pass();
        if (msfsInterface.nav1_standby != nav) {
            nav = msfsInterface.nav1_standby;
            ++navChanges;
        }
    }
    const long allocations = alloc_count::total() - allocationsBefore;
    ASSERT_TRUE(linked) << "the connection to sim-emulator was lost";

    EXPECT_EQ(allocations, 0) << "heap allocations in " << countedPasses << " passes";

    // The passes did the work they were meant to: every report was read, the
    // cache moved, and the autopilot LED went on and off with the data.
    EXPECT_EQ(panel_double::waiting(), 0u);
    EXPECT_GE(navChanges, countedPasses / 2);
    EXPECT_GT(msfsInterface.ap_altitude, altitudeBefore);
    const panel_double::Writes& writes = panel_double::writes();
    int on = 0;
    int off = 0;
    for (std::size_t i = ledWritesBefore; i < writes.count; ++i) {
        EXPECT_EQ(writes.reports[i][0], ledReportId);
        (writes.reports[i][1] & 1) != 0 ? ++on : ++off;
    }
    EXPECT_GE(on, 4);
    EXPECT_GE(off, 4);

    SimConnect_Close(simConnectHandle);
    simConnectHandle = nullptr;
}

}  // namespace
