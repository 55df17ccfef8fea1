// The USB panel, which cannot exist on a build machine: hidapi's functions as
// the program calls them, over one panel. Reads follow a script (reports,
// short reads, errors; nothing waiting once it is empty), writes are
// recorded, and the panel can be absent, or listed but not openable (no
// permission). Reading and writing use fixed arrays only, so that the double
// allocates nothing where the program must not.
#ifndef TESTS_COMMON_HID_DOUBLE_H
#define TESTS_COMMON_HID_DOUBLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <hidapi.h>

struct hid_device_ {
    int unused = 0;
};

namespace hid_double {

using Bytes = std::vector<unsigned char>;

// The most bytes a scripted read hands over or a recorded write keeps.
inline constexpr std::size_t kMaxBytes = 16;

struct Panel {
    bool present = true;  // whether hid_open finds the panel
    // Listed by hid_enumerate although hid_open fails (no permission).
    bool listedButUnopenable = false;
    hid_device device;
    int opens = 0;
    int closes = 0;
    bool open = false;  // between a successful hid_open and hid_close
    unsigned short vendor = 0;
    unsigned short product = 0;
    bool serialGiven = false;
    int nonblocking = -1;  // last value passed to hid_set_nonblocking
    int readCalls = 0;     // hid_read and hid_read_timeout
    int timedWaits = 0;    // hid_read_timeout calls that found nothing and waited
    std::size_t lastReadLength = 0;
    std::optional<int> writeResult;  // what hid_write returns; unset: the length
    int foreignDeviceCalls = 0;      // calls with a handle hid_open never gave
    // Called at the end of each such wait: where a test acts between two of
    // the program's passes. Must not allocate where the program must not.
    void (*afterWait)() = nullptr;
};

Panel& panel();
// Everything as at the start: the panel present, no script, no writes.
void reset();

// What the next hid_read or hid_read_timeout returns, and the bytes it
// copies into the caller's buffer (no more than the buffer holds); false,
// with nothing queued, when the script is full (256 reads) or `bytes` is
// longer than kMaxBytes.
bool queueRead(int result, std::span<const unsigned char> bytes = {});
std::size_t readsWaiting();

// hid_write calls so far; the first 1024 are kept, from the `from`th on.
std::size_t writeCount();
std::vector<Bytes> writes(std::size_t from = 0);

// An 8-byte input report.
std::array<unsigned char, 8> report(unsigned char id, std::uint32_t buttons, signed char outer, signed char inner,
                                    unsigned char mode);

}  // namespace hid_double

#endif
