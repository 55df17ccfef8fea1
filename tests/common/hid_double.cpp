#include "hid_double.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace hid_double {
namespace {

struct Chunk {
    int result = 0;
    std::size_t length = 0;
    std::array<unsigned char, kMaxBytes> bytes{};
};

constexpr std::size_t kScriptSize = 256;
constexpr std::size_t kKeptWrites = 1024;

struct State {
    Panel panel;
    std::array<Chunk, kScriptSize> script{};
    std::size_t head = 0;  // next to read
    std::size_t tail = 0;  // next to fill
    std::array<Chunk, kKeptWrites> written{};
    std::size_t writes = 0;
};

State& state() {
    static State instance;
    return instance;
}

bool known(hid_device* device) {
    if (device == &panel().device && panel().present && panel().open) {
        return true;
    }
    ++panel().foreignDeviceCalls;
    return false;
}

}  // namespace

Panel& panel() { return state().panel; }

void reset() { state() = State{}; }

bool queueRead(int result, std::span<const unsigned char> bytes) {
    State& s = state();
    if (s.tail - s.head == kScriptSize || bytes.size() > kMaxBytes) {
        return false;
    }
    Chunk& c = s.script[s.tail++ % kScriptSize];
    c.result = result;
    c.length = bytes.size();
    std::copy(bytes.begin(), bytes.end(), c.bytes.begin());
    return true;
}

std::size_t readsWaiting() { return state().tail - state().head; }

std::size_t writeCount() { return state().writes; }

std::vector<Bytes> writes(std::size_t from) {
    std::vector<Bytes> out;
    for (std::size_t i = from; i < std::min(state().writes, kKeptWrites); ++i) {
        const Chunk& c = state().written[i];
        out.emplace_back(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(c.length));
    }
    return out;
}

std::array<unsigned char, 8> report(unsigned char id, std::uint32_t buttons, signed char outer, signed char inner,
                                    unsigned char mode) {
    return {id,
            static_cast<unsigned char>(buttons),
            static_cast<unsigned char>(buttons >> 8),
            static_cast<unsigned char>(buttons >> 16),
            static_cast<unsigned char>(buttons >> 24),
            static_cast<unsigned char>(outer),
            static_cast<unsigned char>(inner),
            mode};
}

}  // namespace hid_double

using hid_double::panel;

extern "C" {

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number) {
    ++panel().opens;
    panel().vendor = vendor_id;
    panel().product = product_id;
    panel().serialGiven = serial_number != nullptr;
    panel().open = panel().present;
    return panel().present ? &panel().device : nullptr;
}

void hid_close(hid_device* dev) {
    if (dev == &panel().device && panel().open) {
        ++panel().closes;
        panel().open = false;
    } else {
        ++panel().foreignDeviceCalls;
    }
}

int hid_set_nonblocking(hid_device* dev, int nonblock) {
    if (!hid_double::known(dev)) {
        return -1;
    }
    panel().nonblocking = nonblock;
    return 0;
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    if (!hid_double::known(dev)) {
        return -1;
    }
    ++panel().readCalls;
    panel().lastReadLength = length;
    hid_double::State& s = hid_double::state();
    if (s.head == s.tail) {
        // Nothing will come: the wait lasts as long as asked.
        if (milliseconds > 0) {
            ++panel().timedWaits;
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            if (panel().afterWait != nullptr) {
                panel().afterWait();
            }
        }
        return 0;
    }
    const hid_double::Chunk& next = s.script[s.head++ % hid_double::kScriptSize];
    std::copy_n(next.bytes.begin(), std::min(next.length, length), data);
    return next.result;
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) { return hid_read_timeout(dev, data, length, 0); }

// One entry, static: listing allocates nothing.
hid_device_info* hid_enumerate(unsigned short /*vendor_id*/, unsigned short /*product_id*/) {
    if (!panel().present && !panel().listedButUnopenable) {
        return nullptr;
    }
    static char path[] = "/dev/hidraw-test";
    static hid_device_info info{};
    info.path = path;
    return &info;
}

void hid_free_enumeration(hid_device_info* /*devs*/) {}

const wchar_t* hid_error(hid_device* dev) {
    if (dev == nullptr && panel().listedButUnopenable) {
        return L"Permission denied";
    }
    return L"Success";
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    if (!hid_double::known(dev)) {
        return -1;
    }
    hid_double::State& s = hid_double::state();
    if (s.writes < hid_double::kKeptWrites) {
        hid_double::Chunk& c = s.written[s.writes];
        c.length = std::min(length, hid_double::kMaxBytes);
        std::copy_n(data, c.length, c.bytes.begin());
    }
    ++s.writes;
    return panel().writeResult.value_or(static_cast<int>(length));
}

}  // extern "C"
