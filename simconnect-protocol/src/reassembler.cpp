#include "simconnect_protocol/protocol.h"

#include "wire.h"

#include <algorithm>
#include <cstring>

namespace scproto {

// Twice the largest packet: after the whole packets have been taken out, what
// remains is less than one packet, so moving it to the front always leaves
// room for at least one more maximum-size packet.
StreamReassembler::StreamReassembler(std::size_t header_size, std::size_t max_packet)
    : buffer_(2 * std::max(max_packet, header_size)),
      header_size_(header_size),
      max_packet_(std::max(max_packet, header_size)) {}

std::span<std::uint8_t> StreamReassembler::writable() {
    if (failure_) {
        return {};
    }
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (begin_ > 0 && buffer_.size() - end_ < max_packet_) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    return std::span<std::uint8_t>(buffer_).subspan(end_);
}

void StreamReassembler::commit(std::size_t n) { end_ += std::min(n, buffer_.size() - end_); }

std::size_t StreamReassembler::feed(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::span<std::uint8_t> room = writable();
        if (room.empty()) {
            break;
        }
        const std::size_t n = std::min(room.size(), bytes.size() - done);
        std::memcpy(room.data(), bytes.data() + done, n);
        commit(n);
        done += n;
    }
    return done;
}

std::span<const std::uint8_t> StreamReassembler::next(Error& error) {
    error = failure_;
    if (failure_) {
        return {};
    }
    const std::size_t available = end_ - begin_;
    if (available < 4) {
        return {};
    }
    const std::uint32_t size = wire::get32(buffer_.data() + begin_);
    failure_ = wire::checkLengthField(size, header_size_, max_packet_);
    if (failure_) {
        error = failure_;
        return {};
    }
    if (available < size) {
        return {};
    }
    std::span<const std::uint8_t> packet(buffer_.data() + begin_, size);
    begin_ += size;
    return packet;
}

std::size_t StreamReassembler::buffered() const { return end_ - begin_; }

bool StreamReassembler::failed() const { return static_cast<bool>(failure_); }

void StreamReassembler::reset() {
    begin_ = end_ = 0;
    failure_ = {};
}

}  // namespace scproto
