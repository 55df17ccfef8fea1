// The reassembler against TCP's freedom to split and merge: the same packets
// must come out whole and in order wherever the stream is cut.
#include "simconnect_protocol/protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using scproto::ErrorCode;

// A server stream of several records of different kinds and sizes.
Bytes serverStream() {
    Bytes stream;
    auto append = [&stream](const auto& record) {
        std::uint8_t buf[512];
        const std::size_t n = scproto::encode(buf, 5, record);
        stream.insert(stream.end(), buf, buf + n);
    };
    append(scproto::kittyHawkOpen());
    std::uint8_t data[56];
    for (std::size_t i = 0; i < sizeof data; ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    scproto::RecvSimObjectData d;
    d.define_count = 7;
    d.data = data;
    append(d);
    append(scproto::RecvException{.exception = 7, .send_id = 3, .index = 2});
    d.request_id = 1;
    d.data = std::span<const std::uint8_t>(data).first(44);
    append(d);
    append(scproto::RecvQuit{});
    return stream;
}

const std::vector<std::size_t> kSizes{308, 96, 24, 84, 12};

// Takes every whole packet out, appending them to `out`.
void drain(scproto::StreamReassembler& r, std::vector<Bytes>& out) {
    scproto::Error e;
    for (auto p = r.next(e); !p.empty(); p = r.next(e)) {
        out.emplace_back(p.begin(), p.end());
    }
    ASSERT_FALSE(e) << scproto::describe(e);
}

void expectWhole(const std::vector<Bytes>& packets, const Bytes& stream) {
    ASSERT_EQ(packets.size(), kSizes.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i].size(), kSizes[i]);
        EXPECT_TRUE(std::equal(packets[i].begin(), packets[i].end(), stream.begin() + static_cast<long>(at)));
        at += kSizes[i];
    }
}

TEST(Reassembler, EveryPairOfSplitPoints) {
    const Bytes stream = serverStream();
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); b += 7) {
            scproto::StreamReassembler r(scproto::kServerHeaderSize);
            std::vector<Bytes> packets;
            const std::span<const std::uint8_t> s(stream);
            ASSERT_EQ(r.feed(s.subspan(0, a)), a);
            drain(r, packets);
            ASSERT_EQ(r.feed(s.subspan(a, b - a)), b - a);
            drain(r, packets);
            ASSERT_EQ(r.feed(s.subspan(b)), stream.size() - b);
            drain(r, packets);
            SCOPED_TRACE(testing::Message() << "split at " << a << " and " << b);
            expectWhole(packets, stream);
            EXPECT_EQ(r.buffered(), 0u);
        }
    }
}

TEST(Reassembler, ByteByByteThroughWritableAndCommit) {
    const Bytes stream = serverStream();
    scproto::StreamReassembler r(scproto::kServerHeaderSize);
    std::vector<Bytes> packets;
    for (std::uint8_t byte : stream) {
        auto room = r.writable();
        ASSERT_FALSE(room.empty());
        room[0] = byte;
        r.commit(1);
        drain(r, packets);
    }
    expectWhole(packets, stream);
}

TEST(Reassembler, LongStreamOfLargePacketsNeverOverflows) {
    // 64 KiB packets fed in odd-sized chunks: feed() takes what fits and the
    // rest follows after draining.
    Bytes packet(scproto::kMaxPacketSize, 0x5A);
    packet[0] = 0x00;
    packet[1] = 0x00;
    packet[2] = 0x01;  // 65536, little-endian
    packet[3] = 0x00;
    Bytes stream;
    for (int i = 0; i < 5; ++i) {
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    scproto::StreamReassembler r(scproto::kServerHeaderSize);
    std::size_t fed = 0;
    int whole = 0;
    while (fed < stream.size()) {
        const std::size_t chunk = std::min<std::size_t>(40000, stream.size() - fed);
        fed += r.feed(std::span<const std::uint8_t>(stream).subspan(fed, chunk));
        scproto::Error e;
        for (auto p = r.next(e); !p.empty(); p = r.next(e)) {
            ASSERT_EQ(p.size(), scproto::kMaxPacketSize);
            ASSERT_EQ(p.back(), 0x5A);
            ++whole;
        }
        ASSERT_FALSE(e);
    }
    EXPECT_EQ(whole, 5);
}

TEST(Reassembler, BadLengthFieldsPoisonTheStream) {
    struct Case {
        std::size_t header;
        std::uint32_t length;
        ErrorCode expected;
    };
    const Case cases[] = {
        {scproto::kServerHeaderSize, 11, ErrorCode::LengthBelowHeader},
        {scproto::kServerHeaderSize, 0, ErrorCode::LengthBelowHeader},
        {scproto::kClientHeaderSize, 15, ErrorCode::LengthBelowHeader},
        {scproto::kClientHeaderSize, 65537, ErrorCode::LengthTooLarge},
        {scproto::kServerHeaderSize, 0xFFFFFFFF, ErrorCode::LengthTooLarge},
    };
    for (const auto& c : cases) {
        scproto::StreamReassembler r(c.header);
        // A good packet first: it still comes out.
        std::uint8_t quit[12];
        std::uint8_t transmit[36];
        const bool server = c.header == scproto::kServerHeaderSize;
        const std::span<const std::uint8_t> good =
            server ? std::span<const std::uint8_t>(quit, scproto::encode(quit, 5, scproto::RecvQuit{}))
                   : std::span<const std::uint8_t>(
                         transmit, scproto::encode(transmit, 5, 1, scproto::TransmitClientEventPacket{}));
        r.feed(good);
        const std::uint8_t bad[4] = {static_cast<std::uint8_t>(c.length), static_cast<std::uint8_t>(c.length >> 8),
                                     static_cast<std::uint8_t>(c.length >> 16),
                                     static_cast<std::uint8_t>(c.length >> 24)};
        r.feed(bad);
        scproto::Error e;
        EXPECT_EQ(r.next(e).size(), good.size());
        EXPECT_FALSE(e);
        EXPECT_TRUE(r.next(e).empty());
        EXPECT_EQ(e.code, c.expected) << c.length;
        EXPECT_EQ(e.value, c.length);
        EXPECT_TRUE(r.failed());
        // Sticky: more input changes nothing.
        r.feed(good);
        EXPECT_TRUE(r.next(e).empty());
        EXPECT_EQ(e.code, c.expected);
        // Until reset for a new connection.
        r.reset();
        EXPECT_FALSE(r.failed());
        EXPECT_EQ(r.feed(good), good.size());
        EXPECT_EQ(r.next(e).size(), good.size());
        EXPECT_FALSE(e);
    }
}

TEST(Reassembler, PartialLengthFieldWaits) {
    scproto::StreamReassembler r(scproto::kServerHeaderSize);
    const std::uint8_t two[2] = {0x0C, 0x00};
    r.feed(two);
    scproto::Error e;
    EXPECT_TRUE(r.next(e).empty());
    EXPECT_FALSE(e);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(r.buffered(), 2u);
}

}  // namespace
