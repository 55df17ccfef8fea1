// Report decoding, the loop's pass against a panel double, and the whole
// program run against the panel and SimConnect doubles.
#include <gtest/gtest.h>

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "doubles/recording_simconnect.h"
#include "driver/main_loop.h"
#include "driver/verbose_log.h"
#include "hid_double.h"
#include "mobiflight/channel.h"
#include "recording_sim_interface.h"
#include "simulator/flight_sim_interface_msfs.h"
#include "startup_golden.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(DecodeReport, FieldsLittleEndianButtonsAndSignedDeltas) {
    struct Case {
        Bytes bytes;
        PanelReport expected;
    };
    const Case cases[] = {
        {{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         {.report_id = 0, .buttons = 0x00000001, .mode = 0, .outer_delta = 0, .inner_delta = 0}},
        {{0x01, 0x04, 0x03, 0x02, 0x01, 0x05, 0xFB, 0x02},
         {.report_id = 1, .buttons = 0x01020304, .mode = 2, .outer_delta = 5, .inner_delta = -5}},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x7F, 0xFF},
         {.report_id = 0xFF, .buttons = 0xFFFFFFFF, .mode = 0xFF, .outer_delta = -128, .inner_delta = 127}},
        {{0x42, 0x00, 0x40, 0x08, 0x80, 0xFF, 0x01, 0x07},
         {.report_id = 0x42, .buttons = 0x80084000, .mode = 7, .outer_delta = -1, .inner_delta = 1}},
    };
    for (const Case& c : cases) {
        const std::optional<PanelReport> report = decodeReport(c.bytes.data(), c.bytes.size());
        ASSERT_TRUE(report.has_value());
        EXPECT_EQ(*report, c.expected);
    }
}

TEST(DecodeReport, FewerThanEightBytesAreNoReport) {
    const Bytes bytes(8, 0x11);
    for (std::size_t length = 0; length < 8; ++length) {
        EXPECT_FALSE(decodeReport(bytes.data(), length).has_value()) << length;
    }
    EXPECT_FALSE(decodeReport(nullptr, 8).has_value());
    EXPECT_TRUE(decodeReport(bytes.data(), 8).has_value());
}

struct Pass : ::testing::Test {
    RecordingSimInterface sim;
    PanelState panel{nullptr, false, &sim};

    void SetUp() override {
        hid_double::reset();
        simconnect_double::reset();
        panel.device = &hid_double::panel().device;
        hid_double::panel().open = true;
    }
    void read(int result, std::span<const unsigned char> bytes = {}) {
        ASSERT_TRUE(hid_double::queueRead(result, bytes));
    }
    void pass() { runPass(panel, simconnect_double::kFakeHandle); }
};

TEST_F(Pass, DispatchesSimConnectThenHandlesEveryWaitingReportInOrder) {
    read(8, hid_double::report(3, 1U << 14, 2, -1, NAV2));
    read(8, hid_double::report(3, 0, 0, 1, NAV2));
    pass();
    EXPECT_EQ(simconnect_double::recorder().calls,
              std::vector<simconnect_double::Call>{simconnect_double::Call::Dispatch});
    EXPECT_EQ(hid_double::panel().readCalls, 3);  // two reports, then nothing waiting
    EXPECT_EQ(hid_double::panel().lastReadLength, 8U);
    EXPECT_EQ(sim.calls, (std::vector<std::string>{"tuneNav(2,2,-1)", "pressKey(22)", "tuneNav(2,0,1)"}));
    EXPECT_EQ(panel.previous_report,
              (PanelReport{.report_id = 3, .buttons = 0, .mode = NAV2, .outer_delta = 0, .inner_delta = 1}));
    EXPECT_EQ(panel.mode, NAV2);
}

TEST_F(Pass, TakesAtMostAQueueFullOfReportsPerPass) {
    for (int i = 0; i < kMaxReportsPerPass + 6; ++i) {
        read(8, hid_double::report(1, 0, 1, 0, NAV1));
    }
    pass();
    EXPECT_EQ(sim.calls.size(), static_cast<std::size_t>(kMaxReportsPerPass));
    EXPECT_EQ(hid_double::readsWaiting(), 6U);
    pass();
    EXPECT_EQ(sim.calls.size(), static_cast<std::size_t>(kMaxReportsPerPass) + 6);
}

TEST_F(Pass, ShortReadsAreSkippedAndLeaveEverythingAsItWas) {
    read(8, hid_double::report(0, 1U << 9, 0, 0, COM2));
    pass();
    const PanelReport before = panel.previous_report;
    ASSERT_TRUE(panel.shift);
    // Short reads with bytes that would press buttons and change the mode.
    for (int length = 1; length < 8; ++length) {
        read(length, hid_double::report(9, 0xFFFFFFFF, 5, 5, FMS1));
    }
    read(0);
    pass();
    EXPECT_EQ(panel.previous_report, before);
    EXPECT_EQ(panel.mode, COM2);
    EXPECT_TRUE(panel.shift);
    EXPECT_TRUE(sim.calls.empty());
    EXPECT_EQ(hid_double::panel().readCalls, 2 + 8);
}

TEST_F(Pass, AReportWithNothingNewStillBecomesThePreviousReport) {
    read(8, hid_double::report(1, 0, 0, 0, COM1));
    read(8, hid_double::report(7, 0, 0, 0, COM1));
    pass();
    EXPECT_EQ(panel.previous_report.report_id, 7);
    EXPECT_TRUE(sim.calls.empty());
}

TEST_F(Pass, LedReportWrittenOnlyWhenTheByteChanges) {
    pass();  // all off from the start: nothing to write
    sim.leds = 0x05;
    pass();
    pass();
    sim.leds = 0x3F;
    pass();
    sim.leds = 0x00;
    pass();
    EXPECT_EQ(hid_double::writes(), (std::vector<Bytes>{{0x0B, 0x05}, {0x0B, 0x3F}, {0x0B, 0x00}}));
    EXPECT_EQ(panel.led_state, 0x00);
}

// An unplugged panel fails its reads or writes: it is closed, looked for
// about once a second, and its LEDs are written again when it is back.
TEST_F(Pass, AReadErrorClosesThePanelUntilItIsFoundAgain) {
    sim.leds = 0x09;
    pass();
    read(-1);
    read(8, hid_double::report(1, 0, 1, 0, NAV1));  // must wait for the re-open
    pass();
    EXPECT_EQ(panel.device, nullptr);
    EXPECT_EQ(hid_double::panel().closes, 1);
    hid_double::panel().present = false;
    for (int i = 0; i < kPanelRetryPasses; ++i) pass();
    EXPECT_EQ(hid_double::panel().opens, 1);  // looked for once, not found
    hid_double::panel().present = true;
    for (int i = 0; i < kPanelRetryPasses - 1; ++i) pass();
    EXPECT_EQ(panel.device, nullptr);
    pass();
    EXPECT_EQ(hid_double::panel().opens, 2);
    EXPECT_EQ(panel.device, &hid_double::panel().device);
    EXPECT_EQ(hid_double::panel().nonblocking, 1);
    // The LED byte is written at the re-open although it did not change.
    EXPECT_EQ(hid_double::writes(), (std::vector<Bytes>{{0x0B, 0x09}, {0x0B, 0x09}}));
    EXPECT_EQ(sim.calls, std::vector<std::string>{"tuneNav(1,1,0)"});
    EXPECT_EQ(hid_double::panel().foreignDeviceCalls, 0);
}

// A panel that refuses the LED report (a firmware without it, a driver that
// rejects output reports) must still be read: only a read error means the
// panel is gone. After a failed write its LEDs are unknown: the wanted byte is
// written again about once a second until a write succeeds, whether or not it
// changed meanwhile; each change of the panel's answer is said once.
TEST_F(Pass, AfterAFailedLedWriteTheWantedBytesAreWrittenAgainAboutOnceASecond) {
    ::testing::internal::CaptureStderr();
    hid_double::panel().writeResult = -1;
    sim.leds = 0x01;
    read(8, hid_double::report(1, 0, 1, 0, NAV1));
    pass();
    read(8, hid_double::report(1, 0, 1, 0, NAV1));
    pass();
    EXPECT_EQ(hid_double::writeCount(), 1U);
    EXPECT_EQ(panel.device, &hid_double::panel().device);
    EXPECT_EQ(hid_double::panel().closes, 0);
    EXPECT_EQ(sim.calls, (std::vector<std::string>{"tuneNav(1,1,0)", "tuneNav(1,1,0)"}));
    sim.leds = 0x03;  // a change does not hurry the next attempt
    for (int i = 2; i < kPanelRetryPasses; ++i) pass();
    EXPECT_EQ(hid_double::writeCount(), 1U);
    pass();
    EXPECT_EQ(hid_double::writeCount(), 2U);
    for (int i = 0; i < 3 * kPanelRetryPasses; ++i) pass();
    EXPECT_EQ(hid_double::writeCount(), 5U);
    hid_double::panel().writeResult.reset();  // accepted again
    for (int i = 0; i < kPanelRetryPasses; ++i) pass();
    EXPECT_EQ(hid_double::writeCount(), 6U);
    EXPECT_EQ(panel.led_state, 0x03);
    for (int i = 0; i < 2 * kPanelRetryPasses; ++i) pass();
    EXPECT_EQ(hid_double::writeCount(), 6U);  // written, and known again: no more
    sim.leds = 0x00;
    pass();
    EXPECT_EQ(hid_double::writes(),
              (std::vector<Bytes>{
                  {0x0B, 0x01}, {0x0B, 0x03}, {0x0B, 0x03}, {0x0B, 0x03}, {0x0B, 0x03}, {0x0B, 0x03}, {0x0B, 0x00}}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: the panel refuses the LED report (write failed: Success); trying again about once a "
              "second\n"
              "msfs-panel: the panel accepts the LED report again\n");
}

TEST_F(Pass, WithoutADeviceThePanelIsNeitherReadNorWritten) {
    panel.device = nullptr;
    hid_double::panel().open = false;
    hid_double::panel().present = false;
    panel.passes_until_open = kPanelRetryPasses;
    read(8, hid_double::report(0, 1U << 14, 1, 0, COM1));
    sim.leds = 0x3F;
    for (int i = 0; i < 2 * kPanelRetryPasses; ++i) pass();
    EXPECT_EQ(hid_double::panel().opens, 2);
    EXPECT_EQ(hid_double::panel().readCalls, 0);
    EXPECT_TRUE(hid_double::writes().empty());
    EXPECT_EQ(hid_double::panel().foreignDeviceCalls, 0);
    EXPECT_TRUE(sim.calls.empty());
    EXPECT_EQ(simconnect_double::recorder().calls.size(), 2U * kPanelRetryPasses);  // SimConnect still served
}

TEST_F(Pass, ALostLinkOrAQuitRecordEndsThePassAtOnce) {
    simconnect_double::recorder().resultWhenDrained = static_cast<HRESULT>(0xC000013C);
    read(8, hid_double::report(1, 0, 1, 0, NAV1));
    EXPECT_EQ(runPass(panel, simconnect_double::kFakeHandle), PassResult::LinkLost);
    EXPECT_TRUE(sim.calls.empty());
    // A QUIT record that came just before the link closed: a normal end.
    msfsInterface.quit_received = true;
    EXPECT_EQ(runPass(panel, simconnect_double::kFakeHandle), PassResult::SimulatorQuit);
    msfsInterface.quit_received = false;
}

// Each change of the panel's state is said once on standard error; a retry
// that finds the same says nothing.
TEST_F(Pass, ThePanelsStateIsSaidOncePerChange) {
    hid_double::Panel& hid = hid_double::panel();
    panel.device = nullptr;
    hid.open = false;
    hid.present = false;
    const auto tryFor = [this](int seconds) {
        for (int i = 0; i < seconds * kPanelRetryPasses; ++i) pass();
    };
    ::testing::internal::CaptureStderr();
    openPanel(panel);
    tryFor(2);
    hid.listedButUnopenable = true;  // plugged in, but no permission
    tryFor(2);
    hid.present = true;
    tryFor(1);
    read(-1);  // unplugged
    pass();
    hid.present = false;
    hid.listedButUnopenable = false;
    tryFor(2);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.substr(0, said.find("cannot be opened")),
              "msfs-panel: no panel found (USB 04d8:e6d6); looking for it about once a second\n"
              "msfs-panel: panel found at /dev/hidraw-test but it ");
    EXPECT_NE(said.find("cannot be opened: Permission denied"), std::string::npos) << said;
#if defined(__linux__)
    EXPECT_NE(said.find("udev rule"), std::string::npos) << said;
#endif
    EXPECT_EQ(said.substr(said.find("msfs-panel: panel opened")),
              "msfs-panel: panel opened (/dev/hidraw-test)\n"
              "msfs-panel: panel unplugged (read failed: Success); looking for it again\n");
}

// Between passes the loop waits on the panel rather than the clock, taking
// each report as it comes, for the time left until the next pass.
TEST_F(Pass, TheWaitBetweenPassesHandlesReportsAsTheyComeUntilTheNextPass) {
    read(8, hid_double::report(1, 0, 1, 0, NAV1));
    read(8, hid_double::report(1, 0, 0, -1, NAV1));
    const auto start = std::chrono::steady_clock::now();
    waitForPanel(panel, start + kPassInterval);
    EXPECT_GE(std::chrono::steady_clock::now() - start, kPassInterval);
    EXPECT_EQ(sim.calls, (std::vector<std::string>{"tuneNav(1,1,0)", "tuneNav(1,0,-1)"}));
    EXPECT_GE(hid_double::panel().timedWaits, 1);
}

TEST_F(Pass, AWaitCutShortByAStopRequestKeepsThePanel) {
    read(-1);  // what hidapi returns for a wait interrupted by a signal
    quitFlag = 1;
    waitForPanel(panel, std::chrono::steady_clock::now() + kPassInterval);
    quitFlag = 0;
    EXPECT_EQ(panel.device, &hid_double::panel().device);
    EXPECT_EQ(hid_double::panel().closes, 0);
}

// While no simulator is connected, reports are read and dropped, but a
// button held across the reconnection must not fire when it comes.
TEST_F(Pass, WithoutASimulatorReportsAreDroppedButTheirButtonsCountAsHeld) {
    panel.linked = false;
    acceptReport(panel, {.report_id = 1, .buttons = BTN_AP_CDI, .mode = NAV1, .outer_delta = 3, .inner_delta = 0});
    EXPECT_TRUE(sim.calls.empty());
    EXPECT_EQ(panel.mode, NAV1);
    panel.linked = true;
    acceptReport(panel, {.report_id = 1, .buttons = BTN_AP_CDI, .mode = NAV1, .outer_delta = 0, .inner_delta = 0});
    EXPECT_TRUE(sim.calls.empty());
    acceptReport(
        panel, {.report_id = 1, .buttons = BTN_AP_CDI | BTN_HDG_OBS, .mode = NAV1, .outer_delta = 1, .inner_delta = 0});
    EXPECT_EQ(sim.calls, (std::vector<std::string>{"tuneNav(1,1,0)", "pressKey(23)"}));
}

// --verbose: what each panel action sent, for someone wiring a cockpit.
TEST(VerboseLog, SaysWhatEachActionSentAndWhatDidNothing) {
    simconnect_double::reset();
    HANDLE handle = simconnect_double::kFakeHandle;
    FlightSimInterfaceMSFS sim;
    sim.connection = &handle;
    sim.nav1_standby = 113.45;
    sim.obs1 = 0.0;
    sim.transponder_code = 0x0000;
    PanelState panel{nullptr, false, &sim};
    enableVerboseLog(panel, &sim);
    ::testing::internal::CaptureStderr();
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = NAV1, .outer_delta = 1, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = BTN_KNOB_PUSH, .mode = NAV1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = NAV1, .outer_delta = 0, .inner_delta = -1});
    acceptReport(panel,
                 {.report_id = 1, .buttons = 1U << 0 | BTN_AP_CDI, .mode = NAV1, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = XPDR, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = BTN_KNOB_PUSH, .mode = XPDR, .outer_delta = 1, .inner_delta = 0});
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = XPDR, .outer_delta = 1, .inner_delta = 0});
    // NAV2's standby is not known yet: the turn waits for the first block.
    acceptReport(panel, {.report_id = 1, .buttons = 0, .mode = NAV2, .outer_delta = 0, .inner_delta = 1});
    const double radios[7] = {122.8, 121.5, 113.45, 110.5, 90.0, 180.0, 270.0};
    const Bytes block = simconnect_double::radioBlock(radios);
    sim.storeDataBlock(REQ_RADIOS, block.data(), block.size());
    logWaitingTurns();
    sim.serveWaitingTurns();
    const std::string said = ::testing::internal::GetCapturedStderr();
    disableVerboseLog(panel);
    EXPECT_EQ(said,
              "mode NAV1\n"
              "NAV1 outer +1 -> NAV1_STBY_SET 0x11445\n"
              "NAV1 KNOB_PUSH -> shift on\n"
              "NAV1 shift inner -1 -> VOR1_SET 359\n"
              "NAV1 shift AP_CDI -> AP_MASTER 0\n"
              "NAV1 shift button bit 0 -> no function\n"
              "mode XPDR\n"
              "XPDR outer +1 -> XPNDR_SET 0x100\n"
              "XPDR KNOB_PUSH -> shift on\n"
              "XPDR shift outer +1 -> no event\n"
              "mode NAV2\n"
              "NAV2 inner +1 -> waits for the simulator's value\n"
              "waiting knob turn -> NAV2_STBY_SET 0x11055\n");
    EXPECT_EQ(panel.simInterface, static_cast<FlightSimInterface*>(&sim));
}

// The whole program on the process's own static objects.
struct Program : ::testing::Test {
    void SetUp() override {
        hid_double::reset();
        simconnect_double::reset();
        quitFlag = 0;
        simConnectHandle = nullptr;
        msfsInterface = FlightSimInterfaceMSFS{};
        panelState = PanelState{nullptr, false, &msfsInterface};
        mobiflight::channel().close();
    }
    void TearDown() override {
        quitFlag = 0;
        mobiflight::channel().close();
    }

    static void batch(std::vector<Bytes> records) {
        simconnect_double::recorder().batches.push_back(std::move(records));
    }
};

TEST(StaticObjects, PanelStatePointsAtTheInstanceFromLoad) {
    EXPECT_EQ(panelState.simInterface, static_cast<FlightSimInterface*>(&msfsInterface));
}

TEST_F(Program, NoConnectionEndsQuietlyWithoutClosing) {
    simconnect_double::recorder().openResult = E_FAIL;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::NoConnection);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(simconnect_double::recorder().calls, std::vector<simconnect_double::Call>{simconnect_double::Call::Open});
}

TEST_F(Program, RunsUntilTheSimulatorQuitsThenCloses) {
    using simconnect_double::Call;
    const double radios[7] = {122.8, 121.5, 113.45, 110.5, 90.0, 180.0, 270.0};
    batch({simconnect_double::dataRecord(REQ_RADIOS, simconnect_double::radioBlock(radios)),
           simconnect_double::dataRecord(REQ_AUTOPILOT,
                                         simconnect_double::autopilotBlock(5000, 0, 0x1200, {1, 0, 0, 0, 0, 1}))});
    batch({});
    batch({simconnect_double::plainRecord(SIMCONNECT_RECV_ID_QUIT, 12)});
    ASSERT_TRUE(hid_double::queueRead(8, hid_double::report(0, 0, 1, 0, NAV1)));

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::Stopped);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Connected to MSFS2020\n");

    const simconnect_double::Recorder& sc = simconnect_double::recorder();
    EXPECT_EQ(sc.clientName, "Request Data");
    EXPECT_EQ(sc.closes, 1);
    EXPECT_EQ(sc.calls.back(), Call::Close);
    // The start-up's packets, the dispatch that follows them, two passes.
    const std::size_t setupCalls = golden::startup().size();
    ASSERT_GE(sc.calls.size(), setupCalls + 4);
    EXPECT_EQ(sc.calls[setupCalls], Call::Dispatch);
    EXPECT_EQ(msfsInterface.connection, &simConnectHandle);

    const hid_double::Panel& hid = hid_double::panel();
    EXPECT_EQ(hid.opens, 1);
    EXPECT_EQ(hid.vendor, 0x04D8);
    EXPECT_EQ(hid.product, 0xE6D6);
    EXPECT_FALSE(hid.serialGiven);
    EXPECT_EQ(hid.nonblocking, 1);
    // The NAV1 turn worked from the block delivered at start-up.
    ASSERT_EQ(sc.events.size(), 1U);
    EXPECT_EQ(sc.events[0].event, 2U);
    EXPECT_EQ(sc.events[0].data, 0x11445U);
    EXPECT_EQ(sc.events[0].connection, simconnect_double::kFakeHandle);
    EXPECT_DOUBLE_EQ(msfsInterface.nav1_standby, 114.45);
    // Dark at the open (no data yet), AP master and vertical hold lit once,
    // dark again at the exit.
    EXPECT_EQ(hid_double::writes(), (std::vector<Bytes>{{0x0B, 0x00}, {0x0B, 0x21}, {0x0B, 0x00}}));
    EXPECT_EQ(hid.closes, 1);
}

// Open to the last data request, the calls are those of the golden file,
// which the end-to-end tests and the platform checks hold the real traffic to.
// The MobiFlight channel's calls follow, once the simulator's OPEN record
// has come.
TEST_F(Program, SetsUpTheConnectionAsTheGoldenStartUpHasIt) {
    using simconnect_double::Call;
    batch({simconnect_double::openRecord("KittyHawk", 11, 0, 11, 0)});
    batch({simconnect_double::plainRecord(SIMCONNECT_RECV_ID_QUIT, 12)});
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::Stopped);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Connected to MSFS2020\n");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                  "msfs-panel: simulator: Microsoft Flight Simulator 2020 (KittyHawk 11.0, SimConnect 11.0)\n"),
              std::string::npos);
    const std::string sent = golden::joined(simconnect_double::traceLines());
    EXPECT_EQ(golden::joined(golden::startupOf(sent)), golden::joined(golden::startup()));
    const std::vector<Call>& calls = simconnect_double::recorder().calls;
    const std::size_t setupCalls = golden::startup().size();
    ASSERT_GT(calls.size(), setupCalls + 1);
    EXPECT_EQ(calls[setupCalls], Call::Dispatch);
    EXPECT_EQ(calls[setupCalls + 1], Call::MapClientData);
    EXPECT_TRUE(simconnect_double::recorder().events.empty());
}

TEST_F(Program, ALostLinkEndsTheRunAsSuchWithTheLedsOff) {
    batch(
        {simconnect_double::dataRecord(REQ_AUTOPILOT, simconnect_double::autopilotBlock(0, 0, 0, {1, 1, 0, 0, 0, 0}))});
    batch({});
    simconnect_double::recorder().resultWhenDrained = static_cast<HRESULT>(0xC000013C);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::LinkLost);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Connected to MSFS2020\n");
    EXPECT_EQ(hid_double::writes(), (std::vector<Bytes>{{0x0B, 0x00}, {0x0B, 0x03}, {0x0B, 0x00}}));
    EXPECT_EQ(simconnect_double::recorder().closes, 1);
}

TEST_F(Program, RunsWithoutAPanelAndNeverTouchesOne) {
    hid_double::panel().present = false;
    batch({});
    batch({});
    batch({simconnect_double::plainRecord(SIMCONNECT_RECV_ID_QUIT, 12)});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::Stopped);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Connected to MSFS2020\n");
    EXPECT_EQ(hid_double::panel().opens, 1);
    EXPECT_EQ(hid_double::panel().foreignDeviceCalls, 0);
    EXPECT_EQ(hid_double::panel().readCalls, 0);
    EXPECT_EQ(panelState.device, nullptr);
    EXPECT_EQ(simconnect_double::recorder().closes, 1);
}

TEST_F(Program, AStopRequestedWhileConnectingEndsTheRunCleanlyWithTheLedsOff) {
    // Ctrl+C while the library waits for the simulator: it gives up, and
    // that is a stop, not a failure to connect.
    simconnect_double::recorder().openResult = static_cast<HRESULT>(0x80004004);  // E_ABORT
    simconnect_double::recorder().duringOpen = [] { quitFlag = 1; };
    msfsInterface.ap_master = 1;  // lit at the open
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::Stopped);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(simconnect_double::recorder().calls, std::vector<simconnect_double::Call>{simconnect_double::Call::Open});
    EXPECT_EQ(hid_double::writes(), (std::vector<Bytes>{{0x0B, 0x01}, {0x0B, 0x00}}));
    EXPECT_EQ(hid_double::panel().closes, 1);
}

TEST_F(Program, AStopRequestedBeforeTheStartConnectsToNothing) {
    quitFlag = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runPanel(panelState, msfsInterface), RunOutcome::Stopped);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(simconnect_double::recorder().calls.empty());
    EXPECT_EQ(hid_double::panel().readCalls, 0);
}

}  // namespace
