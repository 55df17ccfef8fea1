// hidapi for the virtual panel: the whole hidapi 0.13 API, put in place of
// the system's library with LD_PRELOAD, so that an unchanged program binary
// talks to the virtual-panel process instead of a USB device. Only the panel
// (0x04D8:0xE6D6) exists; the transport is described in wire.h.
//
// The program's own allocator and signals are left alone: no C++ statics with
// constructors (hid_init may run during the program's static initialisation),
// MSG_NOSIGNAL on every send, and errors kept as fixed wide strings.
#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <ctime>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "panel_report.h"
#include "wire.h"

#define VP_EXPORT extern "C" __attribute__((visibility("default")))

struct hid_device_ {
    // Two connections, so that a thread waiting in a read never takes the
    // reply to another thread's write: reads go on readFd, the rest on fd.
    int fd;
    int readFd;
    bool nonblocking;
    bool gone;  // unplugged or the panel went away: fails until closed
    const wchar_t* error;
    hid_device_info info;
};

namespace {

namespace wire = vpanel::wire;

constexpr char kPath[] = "virtual-panel";
constexpr wchar_t kManufacturer[] = L"msfs-panel";
constexpr wchar_t kProduct[] = L"Virtual panel";
constexpr wchar_t kSerial[] = L"0001";
// The panel's own requests are answered at once (a waiting read: once its
// time is up); this only bounds a hang if the virtual-panel process is stopped.
constexpr int kReplyTimeoutSeconds = 5;
constexpr int kReplyTimeoutMs = kReplyTimeoutSeconds * 1000;

constexpr wchar_t kSuccess[] = L"Success";
constexpr wchar_t kNoSocket[] = L"hid_open(virtual panel): VIRTUAL_PANEL_SOCKET is not set";
constexpr wchar_t kNoPanel[] = L"hid_open(virtual panel): no panel (not running or unplugged)";
constexpr wchar_t kNotPanel[] = L"hid_open(virtual panel): no device with these IDs";
constexpr wchar_t kNoMemory[] = L"hid_open(virtual panel): out of memory";
constexpr wchar_t kNullDevice[] = L"hidapi(virtual panel): no device (NULL handle)";
constexpr wchar_t kBadArgument[] = L"hidapi(virtual panel): bad buffer or length";
constexpr wchar_t kGone[] = L"hidapi(virtual panel): device disconnected";
constexpr wchar_t kWriteRefused[] = L"hid_write(virtual panel): write failed (the panel's script says leds fail)";
constexpr wchar_t kUnsupported[] = L"hidapi(virtual panel): not supported by the virtual panel";

const wchar_t* globalError = kSuccess;

const hid_api_version kVersion{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};

// Connects and makes one exchange of `request`; returns the connected socket
// with the reply's first byte in `answer`, or -1.
int connectPanel(std::uint8_t const* request, std::size_t length, std::uint8_t& answer) {
    const char* path = std::getenv(wire::kSocketVariable);
    if (path == nullptr || *path == '\0') {
        globalError = kNoSocket;
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof addr.sun_path) {
        globalError = kNoPanel;
        return -1;
    }
    std::strcpy(addr.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        globalError = kNoPanel;
        return -1;
    }
    const timeval timeout{kReplyTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::uint8_t reply[wire::kMaxPacket];
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::send(fd, request, length, MSG_NOSIGNAL) != static_cast<ssize_t>(length) ||
        ::recv(fd, reply, sizeof reply, 0) < 1) {
        ::close(fd);
        globalError = kNoPanel;
        return -1;
    }
    answer = reply[0];
    return fd;
}

bool matches(unsigned short vendorId, unsigned short productId) {
    return (vendorId == 0 || vendorId == vpanel::kVendorId) && (productId == 0 || productId == vpanel::kProductId);
}

void fillInfo(hid_device_info& info, char* path, wchar_t* serial, wchar_t* manufacturer, wchar_t* product) {
    info = hid_device_info{};
    info.path = path;
    info.vendor_id = vpanel::kVendorId;
    info.product_id = vpanel::kProductId;
    info.serial_number = serial;
    info.release_number = 0x0100;
    info.manufacturer_string = manufacturer;
    info.product_string = product;
    info.usage_page = 0x0001;  // generic desktop
    info.usage = 0x0004;       // joystick
    info.interface_number = 0;
    info.next = nullptr;
    info.bus_type = HID_API_BUS_USB;
}

int fail(hid_device* dev, const wchar_t* error) {
    dev->error = error;
    return -1;
}

long long monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// True once `fd` has something to read (a reply, or the end of the
// connection), within `ms` (-1: for ever); signals do not cut the wait short.
bool awaitReply(int fd, int ms) {
    const long long until = ms < 0 ? 0 : monotonicMs() + ms;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const long long left = ms < 0 ? -1 : std::max(0LL, until - monotonicMs());
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

// One request on `fd` and its reply, which may take `replyMs` (-1: for ever).
// False marks the device gone.
bool exchange(hid_device* dev, int fd, const std::uint8_t* request, std::size_t length, std::uint8_t* reply,
              std::size_t capacity, std::size_t& got, int replyMs = kReplyTimeoutMs) {
    if (dev->gone) {
        return false;
    }
    if (::send(fd, request, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length) && awaitReply(fd, replyMs)) {
        const ssize_t n = ::recv(fd, reply, capacity, MSG_DONTWAIT);
        if (n >= 1) {
            got = static_cast<std::size_t>(n);
            return true;
        }
    }
    dev->gone = true;
    return false;
}

int copyString(hid_device* dev, const wchar_t* source, wchar_t* string, size_t maxlen) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    if (string == nullptr || maxlen == 0) {
        return fail(dev, kBadArgument);
    }
    std::wcsncpy(string, source, maxlen);
    string[maxlen - 1] = L'\0';
    dev->error = kSuccess;
    return 0;
}

}  // namespace

VP_EXPORT int hid_init(void) {
    globalError = kSuccess;
    return 0;
}

VP_EXPORT int hid_exit(void) {
    globalError = kSuccess;
    return 0;
}

VP_EXPORT hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    if (!matches(vendor_id, product_id)) {
        globalError = kNotPanel;
        return nullptr;
    }
    std::uint8_t answer = 0;
    const int fd = connectPanel(&wire::kQuery, 1, answer);
    if (fd < 0) {
        return nullptr;
    }
    ::close(fd);
    if (answer != wire::kOk) {
        globalError = kNoPanel;
        return nullptr;
    }
    // hid_free_enumeration frees the strings one by one, as hidapi's own does.
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    char* path = strdup(kPath);
    wchar_t* serial = wcsdup(kSerial);
    wchar_t* manufacturer = wcsdup(kManufacturer);
    wchar_t* product = wcsdup(kProduct);
    if (info == nullptr || path == nullptr || serial == nullptr || manufacturer == nullptr || product == nullptr) {
        std::free(info);
        std::free(path);
        std::free(serial);
        std::free(manufacturer);
        std::free(product);
        globalError = kNoMemory;
        return nullptr;
    }
    fillInfo(*info, path, serial, manufacturer, product);
    globalError = kSuccess;
    return info;
}

VP_EXPORT void hid_free_enumeration(hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

VP_EXPORT hid_device* hid_open_path(const char* path) {
    if (path == nullptr || std::strcmp(path, kPath) != 0) {
        globalError = kNotPanel;
        return nullptr;
    }
    auto* dev = static_cast<hid_device*>(std::calloc(1, sizeof(hid_device)));
    if (dev == nullptr) {
        globalError = kNoMemory;
        return nullptr;
    }
    const std::uint8_t hello[] = {wire::kHello, wire::kWireVersion};
    const std::uint8_t attach[] = {wire::kAttach, wire::kWireVersion};
    std::uint8_t answer = 0;
    std::uint8_t readAnswer = 0;
    const int fd = connectPanel(hello, sizeof hello, answer);
    const int readFd = fd >= 0 && answer == wire::kOk ? connectPanel(attach, sizeof attach, readAnswer) : -1;
    if (readFd < 0 || readAnswer != wire::kOk) {
        for (int connection : {fd, readFd}) {
            if (connection >= 0) {
                ::close(connection);
                globalError = kNoPanel;
            }
        }
        std::free(dev);
        return nullptr;
    }
    dev->fd = fd;
    dev->readFd = readFd;
    dev->nonblocking = false;
    dev->gone = false;
    dev->error = kSuccess;
    // The info strings live in the library; hid_get_device_info's result is
    // owned by the device and never freed by the caller.
    fillInfo(dev->info, const_cast<char*>(kPath), const_cast<wchar_t*>(kSerial), const_cast<wchar_t*>(kManufacturer),
             const_cast<wchar_t*>(kProduct));
    globalError = kSuccess;
    return dev;
}

VP_EXPORT hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number) {
    if (!matches(vendor_id, product_id) || (serial_number != nullptr && std::wcscmp(serial_number, kSerial) != 0)) {
        globalError = kNotPanel;
        return nullptr;
    }
    return hid_open_path(kPath);
}

VP_EXPORT void hid_close(hid_device* dev) {
    if (dev == nullptr) {
        return;
    }
    ::close(dev->fd);
    ::close(dev->readFd);
    std::free(dev);
}

VP_EXPORT int hid_set_nonblocking(hid_device* dev, int nonblock) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    dev->nonblocking = nonblock != 0;
    return 0;
}

VP_EXPORT int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    if (data == nullptr && length > 0) {
        return fail(dev, kBadArgument);
    }
    // The queue lives in the panel process. A read that may wait says for
    // how long, and the panel answers as soon as a report is queued, or with
    // nothing once the time is up; unplugging closes the connection at once.
    std::uint8_t request[wire::kReadWaitPacket] = {wire::kRead};
    std::size_t requestLength = 1;
    int replyMs = kReplyTimeoutMs;
    if (milliseconds != 0) {
        const std::int32_t wait = milliseconds < 0 ? -1 : milliseconds;
        request[0] = wire::kReadWait;
        for (int i = 0; i < 4; ++i) {
            request[1 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(wait) >> (8 * i));
        }
        requestLength = sizeof request;
        replyMs = wait < 0 ? -1 : static_cast<int>(std::min<long long>(INT_MAX, 0LL + wait + kReplyTimeoutMs));
    }
    std::uint8_t reply[1 + wire::kMaxInputReport];
    std::size_t got = 0;
    if (!exchange(dev, dev->readFd, request, requestLength, reply, sizeof reply, got, replyMs)) {
        return fail(dev, kGone);
    }
    if (reply[0] == wire::kReport && got >= 2) {
        // As hidraw: the caller gets at most `length` bytes, the rest of the
        // report is discarded.
        const std::size_t count = std::min(got - 1, length);
        if (count > 0) {
            std::memcpy(data, reply + 1, count);
        }
        dev->error = kSuccess;
        return static_cast<int>(count);
    }
    if (reply[0] != wire::kNone) {
        dev->gone = true;
        return fail(dev, kGone);
    }
    dev->error = kSuccess;
    return 0;
}

VP_EXPORT int hid_read(hid_device* dev, unsigned char* data, size_t length) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    return hid_read_timeout(dev, data, length, dev->nonblocking ? 0 : -1);
}

VP_EXPORT int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    if (data == nullptr || length == 0 || length > wire::kMaxOutputReport) {
        return fail(dev, kBadArgument);
    }
    std::uint8_t request[wire::kMaxPacket];
    request[0] = wire::kWrite;
    std::memcpy(request + 1, data, length);
    std::uint8_t reply[1];
    std::size_t got = 0;
    if (!exchange(dev, dev->fd, request, 1 + length, reply, sizeof reply, got)) {
        return fail(dev, kGone);
    }
    if (reply[0] == wire::kRefused) {
        // Refused on purpose; the device itself is still there.
        return fail(dev, kWriteRefused);
    }
    if (reply[0] != wire::kOk) {
        dev->gone = true;
        return fail(dev, kGone);
    }
    dev->error = kSuccess;
    return static_cast<int>(length);
}

VP_EXPORT int hid_send_feature_report(hid_device* dev, const unsigned char*, size_t) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    return fail(dev, kUnsupported);
}

VP_EXPORT int hid_get_feature_report(hid_device* dev, unsigned char*, size_t) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    return fail(dev, kUnsupported);
}

VP_EXPORT int hid_get_input_report(hid_device* dev, unsigned char*, size_t) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    return fail(dev, kUnsupported);
}

VP_EXPORT int hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return copyString(dev, kManufacturer, string, maxlen);
}

VP_EXPORT int hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return copyString(dev, kProduct, string, maxlen);
}

VP_EXPORT int hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return copyString(dev, kSerial, string, maxlen);
}

VP_EXPORT hid_device_info* hid_get_device_info(hid_device* dev) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return nullptr;
    }
    return &dev->info;
}

VP_EXPORT int hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t) {
    if (dev == nullptr) {
        globalError = kNullDevice;
        return -1;
    }
    return fail(dev, kUnsupported);
}

VP_EXPORT const wchar_t* hid_error(hid_device* dev) { return dev == nullptr ? globalError : dev->error; }

VP_EXPORT const hid_api_version* hid_version(void) { return &kVersion; }

VP_EXPORT const char* hid_version_str(void) { return HID_API_VERSION_STR; }
