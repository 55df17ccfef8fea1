#include "doubles/fake_hid.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace hid_double {

Panel& panel()
{
    static Panel instance;
    return instance;
}

void reset()
{
    panel() = Panel{};
}

std::vector<unsigned char> report(unsigned char id, std::uint32_t buttons, signed char outer,
                                  signed char inner, unsigned char mode)
{
    return {id,
            static_cast<unsigned char>(buttons),
            static_cast<unsigned char>(buttons >> 8),
            static_cast<unsigned char>(buttons >> 16),
            static_cast<unsigned char>(buttons >> 24),
            static_cast<unsigned char>(outer),
            static_cast<unsigned char>(inner),
            mode};
}

namespace {

bool known(hid_device* device)
{
    if (device == &panel().device && panel().present && panel().open) {
        return true;
    }
    ++panel().foreignDeviceCalls;
    return false;
}

}  // namespace

}  // namespace hid_double

using hid_double::panel;

extern "C" {

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    ++panel().opens;
    panel().vendor = vendor_id;
    panel().product = product_id;
    panel().serialGiven = serial_number != nullptr;
    panel().open = panel().present;
    return panel().present ? &panel().device : nullptr;
}

void hid_close(hid_device* dev)
{
    if (dev == &panel().device && panel().open) {
        ++panel().closes;
        panel().open = false;
    } else {
        ++panel().foreignDeviceCalls;
    }
}

int hid_set_nonblocking(hid_device* dev, int nonblock)
{
    if (!hid_double::known(dev)) {
        return -1;
    }
    panel().nonblocking = nonblock;
    return 0;
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    if (!hid_double::known(dev)) {
        return -1;
    }
    ++panel().readCalls;
    panel().lastReadLength = length;
    if (panel().reads.empty()) {
        // Nothing will come: the wait lasts as long as asked.
        if (milliseconds > 0) {
            ++panel().timedWaits;
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
        return 0;
    }
    hid_double::Read next = std::move(panel().reads.front());
    panel().reads.pop_front();
    std::copy_n(next.bytes.begin(), std::min(next.bytes.size(), length), data);
    return next.result;
}

int hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    return hid_read_timeout(dev, data, length, 0);
}

hid_device_info* hid_enumerate(unsigned short /*vendor_id*/, unsigned short /*product_id*/)
{
    if (!panel().present && !panel().listedButUnopenable) {
        return nullptr;
    }
    static char path[] = "/dev/hidraw-test";
    auto* info = new hid_device_info{};
    info->path = path;
    return info;
}

void hid_free_enumeration(hid_device_info* devs)
{
    delete devs;
}

const wchar_t* hid_error(hid_device* dev)
{
    if (dev == nullptr && panel().listedButUnopenable) {
        return L"Permission denied";
    }
    return L"Success";
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (!hid_double::known(dev)) {
        return -1;
    }
    panel().writes.emplace_back(data, data + length);
    return panel().writeResult;
}

}  // extern "C"
