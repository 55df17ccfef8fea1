// The link's health: a silent simulator, the waits between attempts, and
// how connections that end are said.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "driver/link_health.h"

namespace {

using namespace std::chrono_literals;

TEST(SilenceWatch, SaysOnceWhenNothingCameForFiveSecondsAndOnceWhenItComesAgain) {
    const LinkClock::time_point t0{};
    SilenceWatch watch;
    ::testing::internal::CaptureStderr();
    watch.start(7, t0);
    watch.check(8, t0 + 3s);  // heard at 3 s: silence counts from there
    watch.check(8, t0 + 7999ms);
    EXPECT_FALSE(watch.silent());
    watch.check(8, t0 + 8s);
    watch.check(8, t0 + 20s);
    EXPECT_TRUE(watch.silent());
    watch.check(9, t0 + 21s);
    watch.check(10, t0 + 22s);
    EXPECT_FALSE(watch.silent());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: the simulator has sent nothing for 5 s (loading, paused or not responding); the panel's "
              "actions wait for it\n"
              "msfs-panel: the simulator is sending again (after 18 s of silence)\n");
}

TEST(Backoff, OneTwoFourThenFiveSecondsUntilReset) {
    Backoff backoff;
    std::vector<long long> waits;
    for (int i = 0; i < 6; ++i) waits.push_back(backoff.next().count());
    EXPECT_EQ(waits, (std::vector<long long>{1, 2, 4, 5, 5, 5}));
    backoff.reset();
    EXPECT_EQ(backoff.next(), 1s);
}

// While connections keep ending at once the same way, that is said once;
// a different end, or one after a connection that lasted, is said again.
TEST(EndNotices, ARepeatedBriefEndIsSaidOnce) {
    EndNotices ends;
    ::testing::internal::CaptureStderr();
    ends.ended("connection to 10.0.0.2:500 lost: closed by the simulator", true);
    ends.ended("connection to 10.0.0.2:500 lost: closed by the simulator", true);
    ends.ended("the simulator quit", true);
    ends.ended("the simulator quit", true);
    ends.ended("the simulator quit", false);  // lasted: said, and the series ends
    ends.ended("the simulator quit", false);
    ends.ended("the simulator quit", true);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "msfs-panel: connection to 10.0.0.2:500 lost: closed by the simulator\n"
              "msfs-panel: the connection ended within 5 s; waiting longer between attempts until one lasts\n"
              "msfs-panel: the simulator quit\n"
              "msfs-panel: the simulator quit\n"
              "msfs-panel: the simulator quit\n"
              "msfs-panel: the simulator quit\n"
              "msfs-panel: the connection ended within 5 s; waiting longer between attempts until one lasts\n");
}

}  // namespace
