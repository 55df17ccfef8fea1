// The report dispatcher against a recording simulator interface.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/main_loop.h"
#include "driver/panel_state.h"
#include "recording_sim_interface.h"

namespace {

using Calls = std::vector<std::string>;

struct Dispatch : ::testing::Test {
    RecordingSimInterface sim;
    PanelState panel{nullptr, false, &sim};

    // As the loop hands a report over: mode copied (and shift cleared on a
    // change) by acceptReport.
    std::uint32_t send(std::uint32_t buttons, std::int8_t outer = 0, std::int8_t inner = 0, std::uint8_t mode = 0) {
        PanelReport report;
        report.buttons = buttons;
        report.outer_delta = outer;
        report.inner_delta = inner;
        report.mode = mode;
        if (report.mode != panel.mode) {
            panel.shift = false;
            panel.mode = report.mode;
        }
        const std::uint32_t pressed = panel.dispatchReport(report);
        panel.previous_report = report;
        return pressed;
    }

    // A panel in the given mode and shift with nothing held and nothing
    // called yet, and an empty report in that mode.
    PanelReport freshReport(int mode, bool shift) {
        sim.calls.clear();
        panel.mode = static_cast<std::uint8_t>(mode);
        panel.shift = shift;
        panel.previous_report = {};
        PanelReport report;
        report.mode = static_cast<std::uint8_t>(mode);
        return report;
    }
};

std::string knob(const char* name, int selector, int outer, int inner) {
    return RecordingSimInterface::knobCall(name, selector, outer, inner);
}

std::string key(int command) { return "pressKey(" + std::to_string(command) + ")"; }

// Which knob operation each mode calls, as an independent restatement of the
// panel's behaviour: {operation, selector} for shift clear and shift set.
struct KnobExpectation {
    const char* clearOp;
    int clearSelector;
    const char* setOp;
    int setSelector;
};
const KnobExpectation kKnobModes[8] = {
    {"tuneCom", 1, "adjustHeadingBug", 1},
    {"tuneCom", 2, "adjustBarometer", 1},
    {"tuneNav", 1, "adjustCourse", 1},
    {"tuneNav", 2, "adjustCourse", 2},
    {"turnFmsKnobs", 1, "turnFmsKnobs", 1},
    {"turnFmsKnobs", 2, "turnFmsKnobs", 2},
    {"adjustAltitudeAndVerticalSpeed", 1, "adjustAltitudeAndVerticalSpeed", 1},
    {"adjustTransponder", 1, "adjustTransponder", 2},
};

TEST_F(Dispatch, KnobsCallOneOperationPerModeAndShiftForEveryModeValue) {
    const std::pair<int, int> deltas[] = {{3, -2}, {0, -1}, {-128, 0}, {127, 127}};
    for (int mode = 0; mode <= 255; ++mode) {
        for (bool shift : {false, true}) {
            for (auto [outer, inner] : deltas) {
                PanelReport report = freshReport(mode, shift);
                report.outer_delta = static_cast<std::int8_t>(outer);
                report.inner_delta = static_cast<std::int8_t>(inner);
                EXPECT_EQ(panel.dispatchReport(report), 0U);
                Calls expected;
                if (mode < 8) {
                    const KnobExpectation& e = kKnobModes[mode];
                    expected.push_back(shift ? knob(e.setOp, e.setSelector, outer, inner)
                                             : knob(e.clearOp, e.clearSelector, outer, inner));
                }
                EXPECT_EQ(sim.calls, expected) << "mode " << mode << " shift " << shift;
                EXPECT_EQ(panel.shift, shift);
            }
        }
    }
}

TEST_F(Dispatch, NoKnobCallWhenBothDeltasAreZero) {
    for (int mode = 0; mode < 8; ++mode) {
        send(0, 0, 0, static_cast<std::uint8_t>(mode));
    }
    EXPECT_TRUE(sim.calls.empty());
}

// The button table: what a new press does in each mode column.
constexpr int kNothing = -1;
constexpr int kToggles = -2;
constexpr int kCom2Swap = -3;  // 29, or 32 with shift set

struct ButtonRow {
    const char* name;
    std::uint32_t mask;
    // COM1, COM2, NAV1, NAV2, FMS1, FMS2, then AP, XPDR and 8 to 255 alike.
    int action[7];
};
const ButtonRow kButtonRows[] = {
    {"DIRECT_TO", 1U << 4, {kNothing, kNothing, kNothing, kNothing, 1, 12, kNothing}},
    {"MENU", 1U << 5, {kNothing, kNothing, kNothing, kNothing, 2, 13, kNothing}},
    {"CLR", 1U << 6, {kNothing, kNothing, kNothing, kNothing, 3, 14, kNothing}},
    {"ENT", 1U << 7, {kNothing, kNothing, kNothing, kNothing, 4, 15, kNothing}},
    {"SWAP", 1U << 8, {28, kCom2Swap, 30, 31, kNothing, kNothing, kNothing}},
    {"KNOB_PUSH", 1U << 9, {kToggles, kToggles, kToggles, kToggles, 0, 11, kToggles}},
    {"AP_CDI", 1U << 14, {22, 22, 22, 22, 5, 16, 22}},
    {"HDG_OBS", 1U << 15, {23, 23, 23, 23, 6, 17, 23}},
    {"NAV_MSG", 1U << 16, {24, 24, 24, 24, 7, 18, 24}},
    {"APR_FPL", 1U << 17, {25, 25, 25, 25, 8, 19, 25}},
    {"ALT_VNAV", 1U << 18, {26, 26, 26, 26, 9, 20, 26}},
    {"VS_PROC", 1U << 19, {27, 27, 27, 27, 10, 21, 27}},
};

TEST_F(Dispatch, EveryButtonInEveryModeValue) {
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 127, 255};
    for (const ButtonRow& row : kButtonRows) {
        for (int mode : modes) {
            for (bool shift : {false, true}) {
                PanelReport report = freshReport(mode, shift);
                report.buttons = row.mask;
                EXPECT_EQ(panel.dispatchReport(report), row.mask);

                const int action = row.action[mode < 6 ? mode : 6];
                Calls expected;
                bool shiftAfter = shift;
                if (action == kToggles) {
                    shiftAfter = !shift;
                } else if (action == kCom2Swap) {
                    expected.push_back(key(shift ? 32 : 29));
                } else if (action != kNothing) {
                    expected.push_back(key(action));
                }
                EXPECT_EQ(sim.calls, expected) << row.name << " mode " << mode << " shift " << shift;
                EXPECT_EQ(panel.shift, shiftAfter) << row.name << " mode " << mode;
            }
        }
    }
}

TEST_F(Dispatch, BitsWithoutFunctionCallNothingYetCountAsPressed) {
    std::uint32_t unused = 0;
    for (int bit : {0, 1, 2, 3, 10, 11, 12, 13}) {
        unused |= 1U << bit;
    }
    for (int bit = 20; bit < 32; ++bit) {
        unused |= 1U << bit;
    }
    for (int mode : {0, 1, 2, 3, 4, 5, 6, 7, 200}) {
        sim.calls.clear();
        panel.previous_report = {};
        EXPECT_EQ(send(unused, 0, 0, static_cast<std::uint8_t>(mode)), unused);
        EXPECT_TRUE(sim.calls.empty()) << "mode " << mode;
        EXPECT_FALSE(panel.shift);
    }
}

TEST_F(Dispatch, OnlyRisingEdgesAct) {
    const std::uint32_t apCdi = 1U << 14;
    const std::uint32_t hdg = 1U << 15;
    EXPECT_EQ(send(apCdi), apCdi);
    EXPECT_EQ(send(apCdi), 0U);         // held
    EXPECT_EQ(send(apCdi | hdg), hdg);  // held plus a new one
    EXPECT_EQ(send(hdg), 0U);           // release does nothing
    EXPECT_EQ(send(0), 0U);
    EXPECT_EQ(send(apCdi), apCdi);  // pressed again after being up
    EXPECT_EQ(sim.calls, (Calls{key(22), key(23), key(22)}));
}

TEST_F(Dispatch, HeldKnobPushTogglesShiftOnce) {
    send(1U << 9, 0, 0, NAV1);
    send(1U << 9, 0, 0, NAV1);
    send(1U << 9, 0, 0, NAV1);
    EXPECT_TRUE(panel.shift);
}

TEST_F(Dispatch, Com2PushAndSwapInOneReportSwapReadsShiftAfterThePush) {
    send(0, 0, 0, COM2);
    send((1U << 9) | (1U << 8), 0, 0, COM2);
    EXPECT_TRUE(panel.shift);
    EXPECT_EQ(sim.calls, (Calls{key(32)}));

    sim.calls.clear();
    send(0, 0, 0, COM2);
    send((1U << 9) | (1U << 8), 0, 0, COM2);
    EXPECT_FALSE(panel.shift);
    EXPECT_EQ(sim.calls, (Calls{key(29)}));
}

TEST_F(Dispatch, KnobReadsShiftBeforeThePushOfTheSameReport) {
    send((1U << 9), 2, 0, COM2);
    send(0, -1, 0, COM2);
    EXPECT_EQ(sim.calls, (Calls{knob("tuneCom", 2, 2, 0), knob("adjustBarometer", 1, -1, 0)}));
}

TEST_F(Dispatch, ModeChangeClearsShiftBeforeTheDispatcherRuns) {
    // Through the loop's own hand-over.
    acceptReport(panel,
                 PanelReport{.report_id = 0, .buttons = 1U << 9, .mode = COM1, .outer_delta = 0, .inner_delta = 0});
    EXPECT_TRUE(panel.shift);
    acceptReport(panel, PanelReport{.report_id = 0, .buttons = 0, .mode = COM1, .outer_delta = 0, .inner_delta = 0});
    EXPECT_TRUE(panel.shift);  // same mode: kept
    // New mode and a knob turn: the turn already sees shift clear.
    acceptReport(panel, PanelReport{.report_id = 0, .buttons = 0, .mode = NAV1, .outer_delta = 1, .inner_delta = 0});
    EXPECT_FALSE(panel.shift);
    // New mode and knob push: cleared first, then toggled on.
    acceptReport(panel,
                 PanelReport{.report_id = 0, .buttons = 1U << 9, .mode = NAV2, .outer_delta = 0, .inner_delta = 0});
    EXPECT_TRUE(panel.shift);
    EXPECT_EQ(panel.mode, NAV2);
    // Into FMS1 with a push: a key, and shift stays clear.
    acceptReport(panel, PanelReport{.report_id = 0, .buttons = 0, .mode = NAV2, .outer_delta = 0, .inner_delta = 0});
    acceptReport(panel,
                 PanelReport{.report_id = 0, .buttons = 1U << 9, .mode = FMS1, .outer_delta = 3, .inner_delta = 0});
    EXPECT_FALSE(panel.shift);
    EXPECT_EQ(sim.calls, (Calls{knob("tuneNav", 1, 1, 0), knob("turnFmsKnobs", 1, 3, 0), key(0)}));
}

TEST_F(Dispatch, OrderOfCallsInsideOneReport) {
    const std::uint32_t all = 0xFFFFFFFFU;
    send(all, 1, -1, COM1);
    EXPECT_EQ(sim.calls,
              (Calls{knob("tuneCom", 1, 1, -1), key(28), key(22), key(23), key(24), key(25), key(26), key(27)}));
    EXPECT_TRUE(panel.shift);

    sim.calls.clear();
    send(0, 0, 0, FMS2);
    send((1U << 19) | (1U << 14) | (1U << 4), 0, 0, FMS2);
    EXPECT_EQ(sim.calls, (Calls{key(16), key(21), key(12)}));

    sim.calls.clear();
    send(0, 0, 0, FMS1);
    send(all, -2, 5, FMS1);
    EXPECT_EQ(sim.calls, (Calls{knob("turnFmsKnobs", 1, -2, 5), key(0), key(5), key(6), key(7), key(8), key(9), key(10),
                                key(1), key(2), key(3), key(4)}));
    EXPECT_FALSE(panel.shift);
}

TEST_F(Dispatch, TransponderKnobsGoToSelectorTwoAfterOnePush) {
    send(0, 1, 0, XPDR);
    send(1U << 9, 0, 0, XPDR);
    send(0, 1, 0, XPDR);
    send(1U << 9, 0, 0, XPDR);
    send(0, 1, 0, XPDR);
    EXPECT_EQ(sim.calls, (Calls{knob("adjustTransponder", 1, 1, 0), knob("adjustTransponder", 2, 1, 0),
                                knob("adjustTransponder", 1, 1, 0)}));
}

}  // namespace
