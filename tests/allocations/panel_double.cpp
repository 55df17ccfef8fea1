#include "panel_double.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <hidapi.h>

struct hid_device_ {
    int unused = 0;
};

namespace panel_double {
namespace {

constexpr std::size_t ringSize = 256;
std::array<Report, ringSize> ring{};
std::size_t head = 0;  // next to read
std::size_t tail = 0;  // next to fill
Writes written;
hid_device device;
int openCount = 0;

}  // namespace

Report report(std::uint32_t buttons, std::int8_t outer, std::int8_t inner, std::uint8_t mode)
{
    return {1,
            static_cast<unsigned char>(buttons),
            static_cast<unsigned char>(buttons >> 8),
            static_cast<unsigned char>(buttons >> 16),
            static_cast<unsigned char>(buttons >> 24),
            static_cast<unsigned char>(outer),
            static_cast<unsigned char>(inner),
            mode};
}

bool feed(const Report& r)
{
    if (tail - head == ringSize) {
        return false;
    }
    ring[tail++ % ringSize] = r;
    return true;
}

std::size_t waiting()
{
    return tail - head;
}

const Writes& writes()
{
    return written;
}

int opens()
{
    return openCount;
}

}  // namespace panel_double

extern "C" {

hid_device* hid_open(unsigned short, unsigned short, const wchar_t*)
{
    ++panel_double::openCount;
    return &panel_double::device;
}

void hid_close(hid_device*) {}

int hid_set_nonblocking(hid_device*, int)
{
    return 0;
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    if (dev != &panel_double::device) {
        return -1;
    }
    if (panel_double::head == panel_double::tail) {
        if (milliseconds > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
        return 0;
    }
    const panel_double::Report& r = panel_double::ring[panel_double::head++ % panel_double::ringSize];
    const std::size_t n = std::min(r.size(), length);
    std::copy_n(r.begin(), n, data);
    return static_cast<int>(n);
}

int hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    return hid_read_timeout(dev, data, length, 0);
}

// Listed from a static entry: nothing is allocated, as a steady pass must not.
hid_device_info* hid_enumerate(unsigned short, unsigned short)
{
    static char path[] = "/dev/hidraw-double";
    static hid_device_info info{};
    info.path = path;
    return &info;
}

void hid_free_enumeration(hid_device_info*) {}

const wchar_t* hid_error(hid_device*)
{
    return L"Success";
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (dev != &panel_double::device) {
        return -1;
    }
    if (panel_double::written.count < panel_double::Writes::capacity && length >= 2) {
        panel_double::written.reports[panel_double::written.count++] = {data[0], data[1]};
    }
    return static_cast<int>(length);
}

}  // extern "C"
