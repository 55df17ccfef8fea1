#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "report_queue.h"
#include "socket_device.h"

namespace {

using vpanel::ReportQueue;
using Out = std::array<std::uint8_t, vpanel::wire::kMaxInputReport>;

std::array<std::uint8_t, 8> numbered(int n) { return {1, 0, 0, 0, 0, static_cast<std::uint8_t>(n), 0, 2}; }

TEST(ReportQueue, KeepsOrderAndLength) {
    ReportQueue q;
    const std::uint8_t shortReport[] = {0x01, 0x02, 0x03};
    ASSERT_TRUE(q.push(numbered(1)));
    ASSERT_TRUE(q.push(shortReport));
    ASSERT_TRUE(q.push(numbered(2)));

    Out out{};
    ASSERT_EQ(q.pop(out), 8u);
    EXPECT_EQ(out[5], 1);
    ASSERT_EQ(q.pop(out), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 3), std::vector<std::uint8_t>({1, 2, 3}));
    ASSERT_EQ(q.pop(out), 8u);
    EXPECT_EQ(out[5], 2);
    EXPECT_EQ(q.pop(out), 0u);
}

TEST(ReportQueue, HoldsSixtyFourAndDropsTheNewest) {
    ReportQueue q;
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(q.push(numbered(i)));
    }
    EXPECT_FALSE(q.push(numbered(200)));
    EXPECT_EQ(q.size(), 64u);

    // Reading one makes room for one more, which goes to the back.
    Out out{};
    ASSERT_EQ(q.pop(out), 8u);
    EXPECT_EQ(out[5], 0);
    EXPECT_TRUE(q.push(numbered(201)));
    for (int i = 1; i < 64; ++i) {
        ASSERT_EQ(q.pop(out), 8u);
        EXPECT_EQ(out[5], i);
    }
    ASSERT_EQ(q.pop(out), 8u);
    EXPECT_EQ(out[5], 201);
    EXPECT_TRUE(q.empty());
}

TEST(ReportQueue, RefusesEmptyAndOversizedReports) {
    ReportQueue q;
    const std::vector<std::uint8_t> tooLong(65, 1);
    EXPECT_FALSE(q.push(std::span<const std::uint8_t>()));
    EXPECT_FALSE(q.push(tooLong));
    EXPECT_TRUE(q.empty());
}

// The device's own rules on top of the queue: nothing is kept while
// unplugged, and unplugging throws away what was waiting.
class NullListener final : public vpanel::DeviceListener {
public:
    void deviceOpened() override {}
    void outputReport(std::span<const std::uint8_t>) override {}
    void outputRefused(std::span<const std::uint8_t>) override {}
};

TEST(SocketDevice, UnplugEmptiesTheQueueAndDropsReportsUntilPlugged) {
    NullListener listener;
    const std::string path = testing::TempDir() + "vp-queue-" + std::to_string(::getpid()) + ".sock";
    vpanel::SocketDevice device(path, listener);
    EXPECT_EQ(device.sendInput(numbered(1)), vpanel::InputResult::Queued);
    EXPECT_EQ(device.sendInput(numbered(2)), vpanel::InputResult::Queued);
    device.unplug();
    EXPECT_EQ(device.queued(), 0u);
    EXPECT_EQ(device.sendInput(numbered(3)), vpanel::InputResult::DroppedUnplugged);
    EXPECT_EQ(device.queued(), 0u);
    device.plug();
    EXPECT_EQ(device.sendInput(numbered(4)), vpanel::InputResult::Queued);
    EXPECT_EQ(device.queued(), 1u);
    for (int i = 0; i < 63; ++i) {
        device.sendInput(numbered(i));
    }
    EXPECT_EQ(device.sendInput(numbered(99)), vpanel::InputResult::DroppedFull);
}

}  // namespace
