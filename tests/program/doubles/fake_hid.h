// A panel for the hidapi functions the program calls: scripted reads
// (reports, short reads, errors, nothing waiting) and recorded writes. Stands
// in for the USB device, which cannot exist on a build machine.
#ifndef TEST_FAKE_HID_H
#define TEST_FAKE_HID_H

#include <cstdint>
#include <deque>
#include <vector>

#include <hidapi.h>

struct hid_device_ {
    int unused = 0;
};

namespace hid_double {

struct Read {
    int result;                       // what hid_read returns
    std::vector<unsigned char> bytes; // copied into the caller's buffer
};

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
    std::deque<Read> reads;  // an empty script reads as "nothing waiting"
    int readCalls = 0;      // hid_read and hid_read_timeout
    int timedWaits = 0;     // hid_read_timeout calls that found nothing and waited
    std::size_t lastReadLength = 0;
    std::vector<std::vector<unsigned char>> writes;
    int writeResult = 2;
    int foreignDeviceCalls = 0;  // calls with a handle hid_open never gave
};

Panel& panel();
void reset();

// An 8-byte input report.
std::vector<unsigned char> report(unsigned char id, std::uint32_t buttons, signed char outer,
                                  signed char inner, unsigned char mode);

}  // namespace hid_double

#endif
