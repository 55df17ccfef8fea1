// A panel program in miniature, linked against the system's hidapi and run
// under virtual-panel by the end-to-end tests. Its arguments are steps done
// in order; each prints one line on stdout so the test can compare. A step
// whose expectation fails prints "FAIL ..." and exits 3.
//
//   open | open-fails | open-other-fails | reopen (retry until it opens)
//   read N          wait up to 5 s for a report, take at most N bytes
//   read-none       a non-blocking read finds nothing
//   read-fails      read until an error (the device went away)
//   timed-read MS   one hid_read_timeout(8 bytes, MS), or a blocking hid_read
//                   when MS is -1; prints "timed-read RESULT T_NS ELAPSED_US"
//                   with T_NS the CLOCK_MONOTONIC time it returned
//   write-during-read HEX...
//                   one output report from this thread while another waits
//                   up to 5 s for a report (as a program with a reader thread)
//   drain           count the reports waiting now
//   write HEX...    one output report, e.g. write 0b 01
//   write-fails HEX...
//   null            every call on a NULL device fails cleanly (the virtual
//                   hidapi's promise: the system's would crash, so the step
//                   fails at once when hid_read is not the virtual one)
//   strings         the product string
//   sleep MS | exit N | on-term N (exit N on SIGTERM) | ignore-term
//   --out FILE      (first) print to FILE instead of stdout
#include <hidapi.h>

#include <chrono>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace {

constexpr unsigned short kVendorId = 0x04D8;
constexpr unsigned short kProductId = 0xE6D6;
constexpr auto kPatience = std::chrono::seconds(5);

hid_device* device = nullptr;
int exitOnTerm = 0;

[[noreturn]] void fail(const std::string& what) {
    std::printf("FAIL %s\n", what.c_str());
    std::fflush(stdout);
    std::exit(3);
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string hex(const unsigned char* data, int length) {
    std::string out;
    char two[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, i == 0 ? "%02x" : " %02x", data[i]);
        out += two;
    }
    return out;
}

std::vector<unsigned char> hexArgs(char** argv, int& i, int argc) {
    std::vector<unsigned char> bytes;
    while (i + 1 < argc && std::strlen(argv[i + 1]) == 2 && std::isxdigit(static_cast<unsigned char>(argv[i + 1][0])) &&
           std::isxdigit(static_cast<unsigned char>(argv[i + 1][1]))) {
        bytes.push_back(static_cast<unsigned char>(std::strtoul(argv[++i], nullptr, 16)));
    }
    return bytes;
}

hid_device* openPanel() {
    hid_device* dev = hid_open(kVendorId, kProductId, nullptr);
    if (dev != nullptr) {
        hid_set_nonblocking(dev, 1);
    }
    return dev;
}

void onTerm(int) { _exit(exitOnTerm); }

// The library hid_read was bound to: the preloaded one when LD_PRELOAD took.
std::string hidapiInUse() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&hid_read), &info) == 0 || info.dli_fname == nullptr) {
        return "an unknown library";
    }
    return info.dli_fname;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--out") == 0) {
        if (std::freopen(argv[2], "w", stdout) == nullptr) {
            return 4;
        }
        first = 3;
    }
    hid_init();
    for (int i = first; i < argc; ++i) {
        const std::string step = argv[i];
        auto value = [&]() -> int {
            if (i + 1 >= argc) fail(step + ": missing value");
            return std::atoi(argv[++i]);
        };
        if (step == "open") {
            if ((device = openPanel()) == nullptr) fail("open");
            say("opened");
        } else if (step == "open-fails") {
            hid_device* dev = openPanel();
            if (dev != nullptr) fail("open-fails: it opened");
            say("open failed");
        } else if (step == "open-other-fails") {
            if (hid_open(0x1234, 0x5678, nullptr) != nullptr) fail("open-other-fails: it opened");
            say("other device not found");
        } else if (step == "reopen") {
            hid_close(device);
            const auto until = std::chrono::steady_clock::now() + kPatience;
            while ((device = openPanel()) == nullptr && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (device == nullptr) fail("reopen");
            say("reopened");
        } else if (step == "read") {
            const int length = value();
            std::vector<unsigned char> buffer(static_cast<std::size_t>(length) + 16, 0xEE);
            const int n = hid_read_timeout(device, buffer.data(), static_cast<std::size_t>(length),
                                           static_cast<int>(std::chrono::milliseconds(kPatience).count()));
            if (n <= 0) fail("read: " + std::to_string(n));
            for (std::size_t k = static_cast<std::size_t>(length); k < buffer.size(); ++k) {
                if (buffer[k] != 0xEE) fail("read: wrote past the buffer");
            }
            say("read " + hex(buffer.data(), n));
        } else if (step == "read-none") {
            unsigned char buffer[64];
            const int n = hid_read(device, buffer, sizeof buffer);
            if (n != 0) fail("read-none: " + std::to_string(n));
            say("nothing waiting");
        } else if (step == "read-fails") {
            unsigned char buffer[64];
            const auto until = std::chrono::steady_clock::now() + kPatience;
            int n = 0;
            while ((n = hid_read(device, buffer, sizeof buffer)) >= 0 && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (n >= 0) fail("read-fails: still reading");
            say("read failed");
        } else if (step == "timed-read") {
            const int ms = value();
            unsigned char buffer[8];
            const auto started = std::chrono::steady_clock::now();
            int n = 0;
            if (ms == -1) {
                hid_set_nonblocking(device, 0);
                n = hid_read(device, buffer, sizeof buffer);
                hid_set_nonblocking(device, 1);
            } else {
                n = hid_read_timeout(device, buffer, sizeof buffer, ms);
            }
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const auto elapsed = std::chrono::steady_clock::now() - started;
            say("timed-read " + std::to_string(n) + " " +
                std::to_string(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec) + " " +
                std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
        } else if (step == "write-during-read") {
            const auto bytes = hexArgs(argv, i, argc);
            unsigned char buffer[8];
            int n = 0;
            std::thread reader([&] { n = hid_read_timeout(device, buffer, sizeof buffer, 5000); });
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int written = hid_write(device, bytes.data(), bytes.size());
            reader.join();
            if (written != static_cast<int>(bytes.size())) fail("write-during-read: wrote " + std::to_string(written));
            if (n <= 0) fail("write-during-read: read " + std::to_string(n));
            say("wrote " + std::to_string(written) + " during read " + hex(buffer, n));
        } else if (step == "drain") {
            unsigned char buffer[64];
            int count = 0;
            int n = 0;
            int last = 0;
            while ((n = hid_read(device, buffer, sizeof buffer)) > 0) {
                ++count;
                last = n;
            }
            say("drained " + std::to_string(count) + " last " + hex(buffer, last));
        } else if (step == "write" || step == "write-fails") {
            const auto bytes = hexArgs(argv, i, argc);
            const int n = hid_write(device, bytes.data(), bytes.size());
            if (step == "write" && n != static_cast<int>(bytes.size())) fail("write: " + std::to_string(n));
            if (step == "write-fails" && n != -1) fail("write-fails: " + std::to_string(n));
            say(step == "write" ? "wrote " + std::to_string(n) : "write failed");
        } else if (step == "null") {
            if (const std::string library = hidapiInUse(); !library.ends_with("/libhidapi-virtual.so")) {
                fail("null: hid_read comes from " + library + ", not the virtual hidapi (not preloaded?)");
            }
            unsigned char buffer[8] = {};
            if (hid_read(nullptr, buffer, sizeof buffer) != -1 || hid_write(nullptr, buffer, 2) != -1 ||
                hid_read_timeout(nullptr, buffer, sizeof buffer, 10) != -1 || hid_set_nonblocking(nullptr, 1) != -1 ||
                hid_error(nullptr) == nullptr) {
                fail("null");
            }
            hid_close(nullptr);
            say("null device refused");
        } else if (step == "strings") {
            wchar_t product[64];
            if (hid_get_product_string(device, product, 64) != 0) fail("strings");
            std::printf("product %ls\n", product);
            std::fflush(stdout);
        } else if (step == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(value()));
        } else if (step == "exit") {
            return value();
        } else if (step == "on-term") {
            exitOnTerm = value();
            std::signal(SIGTERM, onTerm);
        } else if (step == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else {
            fail("unknown step " + step);
        }
    }
    hid_close(device);
    hid_exit();
    return 0;
}
