#include "report_queue.h"

#include <algorithm>

namespace vpanel {

bool ReportQueue::push(std::span<const std::uint8_t> report) {
    if (report.empty() || report.size() > wire::kMaxInputReport || count_ == kCapacity) {
        return false;
    }
    Slot& slot = slots_[(head_ + count_) % kCapacity];
    std::copy(report.begin(), report.end(), slot.bytes.begin());
    slot.length = report.size();
    ++count_;
    return true;
}

std::size_t ReportQueue::pop(std::span<std::uint8_t, wire::kMaxInputReport> out) {
    if (count_ == 0) {
        return 0;
    }
    const Slot& slot = slots_[head_];
    std::copy_n(slot.bytes.begin(), slot.length, out.begin());
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return slot.length;
}

}  // namespace vpanel
