// The input queue as the operating system keeps it between device and reader:
// reports wait in order, at most 64 of them, and when it is full the newest
// report is dropped (Linux hidraw's behaviour), not the oldest.
#ifndef VIRTUAL_PANEL_REPORT_QUEUE_H
#define VIRTUAL_PANEL_REPORT_QUEUE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "wire.h"

namespace vpanel {

class ReportQueue {
public:
    static constexpr std::size_t kCapacity = 64;

    // False when the report was dropped: the queue is full, or the report is
    // empty or longer than an input report can be.
    bool push(std::span<const std::uint8_t> report);

    // Copies the oldest report into `out` (which must hold kMaxInputReport
    // bytes) and returns its length; 0 when nothing is waiting.
    std::size_t pop(std::span<std::uint8_t, wire::kMaxInputReport> out);

    void clear() { head_ = count_ = 0; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

private:
    struct Slot {
        std::array<std::uint8_t, wire::kMaxInputReport> bytes;
        std::size_t length;
    };
    std::array<Slot, kCapacity> slots_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace vpanel

#endif
