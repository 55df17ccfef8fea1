// The panel program's loop must not touch the heap once it runs: passes with
// knob turns, button presses, data records and LED changes allocate nothing.
// The program runs whole (runPanel on its own objects) with our real
// SimConnect client against a real sim-emulator over 127.0.0.1; only the
// panel is the double, which ends each pass's wait by noting what the pass
// did and queueing the next one's reports, and stops the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "counting_allocator.h"
#include "driver/main_loop.h"
#include "hid_double.h"
#include "sim_emulator.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

// Frames shorter than a pass, so that nearly every pass has data records to
// dispatch.
constexpr const char* kFrameMs = "10";
constexpr int kWarmUpPasses = 40;
constexpr int kCountedPasses = 120;

// A working directory holding the SimConnect.cfg that names the emulator,
// and HOME pointed there too so that no other file is found.
class Workspace {
public:
    Workspace() {
        oldCwd_ = std::filesystem::current_path();
        if (const char* home = std::getenv("HOME")) {
            oldHome_ = home;
        }
    }
    ~Workspace() {
        std::filesystem::current_path(oldCwd_);
        ::setenv("HOME", oldHome_.c_str(), 1);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::string& dir() const { return dir_.path(); }
    void useEmulatorAt(int port) {
        std::ofstream(dir() + "/SimConnect.cfg")
            << "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" << port << "\n";
        std::filesystem::current_path(dir());
        ::setenv("HOME", dir().c_str(), 1);
    }

private:
    testproc::TempDir dir_{"msfs-alloc"};
    std::filesystem::path oldCwd_;
    std::string oldHome_;
};

// What the counted passes did, noted between passes (without allocating).
struct Counted {
    int passes = 0;  // waits between passes so far
    long allocationsBefore = 0;
    long allocationsAfter = 0;
    bool dataBeforeCounting = false;
    double nav = 0;
    int navChanges = 0;
    double altitudeBefore = 0;
    double altitudeAfter = 0;
    std::size_t ledWritesBefore = 0;
    std::size_t ledWritesAfter = 0;
};
Counted counted;

// What the panel sends on pass `n`: the NAV1 outer knob on every pass, the
// altitude knob on every third, and the autopilot master pressed and
// released every 10 passes, which turns its LED on and off once the
// simulator's data shows it.
void queuePass(int n) {
    const auto send = [](std::uint32_t buttons, std::int8_t outer, std::uint8_t mode) {
        hid_double::queueRead(kInputReportSize, hid_double::report(1, buttons, outer, 0, mode));
    };
    send(0, 1, NAV1);
    if (n % 3 == 0) {
        send(0, 1, AP);
    }
    if (n % 10 == 0) {
        send(BTN_AP_CDI, 0, AP);
    } else if (n % 10 == 1) {
        send(0, 0, AP);
    }
}

// The end of each wait between two passes.
void betweenPasses() {
    const int done = counted.passes++;
    if (done == kWarmUpPasses) {
        counted.allocationsBefore = alloc_count::total();
        counted.dataBeforeCounting = msfsInterface.nav1_standby > 0.0;
        counted.nav = msfsInterface.nav1_standby;
        counted.altitudeBefore = msfsInterface.ap_altitude;
        counted.ledWritesBefore = hid_double::writeCount();
    } else if (done > kWarmUpPasses && msfsInterface.nav1_standby != counted.nav) {
        counted.nav = msfsInterface.nav1_standby;
        ++counted.navChanges;
    }
    if (done == kWarmUpPasses + kCountedPasses) {
        counted.allocationsAfter = alloc_count::total();
        counted.altitudeAfter = msfsInterface.ap_altitude;
        counted.ledWritesAfter = hid_double::writeCount();
        quitFlag = 1;
        return;
    }
    queuePass(done);
}

TEST(SteadyState, ALoopPassAllocatesNothing) {
    Workspace workspace;
    ASSERT_FALSE(workspace.dir().empty());
    SimEmulator emulator(workspace.dir(), "emulator");
    ASSERT_TRUE(emulator.start({"--quiet", "--frame-ms", kFrameMs})) << emulator.err();
    workspace.useEmulatorAt(emulator.port());

    hid_double::reset();
    hid_double::panel().afterWait = betweenPasses;
    // Should the passes stop coming, the run is stopped all the same.
    std::atomic<bool> ended{false};
    std::thread watchdog([&ended] {
        for (int i = 0; i < 3000 && !ended; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            quitFlag = 1;
        }
    });
    ::testing::internal::CaptureStdout();
    const RunOutcome outcome = runPanel(panelState, msfsInterface);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ended = true;
    watchdog.join();

    EXPECT_EQ(out, "Connected to MSFS2020\n");
    EXPECT_EQ(outcome, RunOutcome::Stopped);
    ASSERT_EQ(counted.passes, kWarmUpPasses + kCountedPasses + 1)
        << "the run ended early; sim-emulator: " << emulator.err();
    ASSERT_TRUE(counted.dataBeforeCounting) << "no data record reached the program during warm-up";

    EXPECT_EQ(counted.allocationsAfter - counted.allocationsBefore, 0)
        << "heap allocations in " << kCountedPasses << " passes";

    // The passes did the work they were meant to: every report was read, the
    // cache moved, and the autopilot LED went on and off with the data.
    EXPECT_EQ(hid_double::panel().opens, 1);
    EXPECT_EQ(hid_double::readsWaiting(), 0u);
    EXPECT_GE(counted.navChanges, kCountedPasses / 2);
    EXPECT_GT(counted.altitudeAfter, counted.altitudeBefore);
    int on = 0;
    int off = 0;
    for (const hid_double::Bytes& write : hid_double::writes(counted.ledWritesBefore)) {
        if (on + off == static_cast<int>(counted.ledWritesAfter - counted.ledWritesBefore)) {
            break;  // the panel darkened at the exit
        }
        ASSERT_EQ(write.size(), 2u);
        EXPECT_EQ(write[0], kLedReportId);
        (write[1] & 1) != 0 ? ++on : ++off;
    }
    EXPECT_GE(on, 4);
    EXPECT_GE(off, 4);
}

}  // namespace
