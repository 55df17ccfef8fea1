// Host name lookups that the caller can stop waiting for. getaddrinfo has no
// time limit of its own and cannot be interrupted: with a name server that
// does not answer it takes the resolver's timeouts (5 s and more per try).
// So a name runs on a helper thread and the caller waits for it in slices.
#include "socket.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace scnet {
namespace {

addrinfo tcpOverIpv4(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

struct Lookup {
    std::string host, port;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::chrono::steady_clock::time_point done_at;
    int code = 0;
    addrinfo* found = nullptr;  // until taken

    Lookup(const char* h, const char* p) : host(h), port(p) {}
    ~Lookup() {
        if (found) {
            ::freeaddrinfo(found);
        }
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    void run() {
        const addrinfo hints = tcpOverIpv4(0);
        addrinfo* result = nullptr;
        const int r = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
        {
            const std::lock_guard lock(mutex);
            code = r;
            found = result;
            done = true;
            done_at = std::chrono::steady_clock::now();
        }
        finished.notify_all();
    }
};

// The lookup the last wait gave up on, still running or done since: the next
// call for the same name takes it over instead of starting another, so that
// a program that retries every few seconds against a dead name server keeps
// one thread waiting on it, not one more per attempt. An answer older than
// this is not used.
constexpr auto kAnswerKeptFor = std::chrono::seconds(10);
std::mutex left_mutex;
std::shared_ptr<Lookup> left_running;

std::shared_ptr<Lookup> takeOver(const char* host, const char* port) {
    const std::lock_guard lock(left_mutex);
    std::shared_ptr<Lookup> left = std::exchange(left_running, nullptr);
    if (!left || left->host != host || left->port != port) {
        return nullptr;
    }
    const std::lock_guard done_lock(left->mutex);
    if (left->done && std::chrono::steady_clock::now() - left->done_at > kAnswerKeptFor) {
        return nullptr;
    }
    return left;
}

void leave(std::shared_ptr<Lookup> lookup) {
    const std::lock_guard lock(left_mutex);
    left_running = std::move(lookup);
}

bool isDottedIpv4(const char* host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host, &address) == 1;
}

}  // namespace

IoStatus lookUp(const char* host, const char* port, const Patience& patience, addrinfo*& found, int& code) {
    found = nullptr;
    code = 0;
    if (isDottedIpv4(host)) {
        // Nothing to ask a name server: no thread, no wait.
        const addrinfo hints = tcpOverIpv4(AI_NUMERICHOST);
        code = ::getaddrinfo(host, port, &hints, &found);
        return code == 0 ? IoStatus::Ok : IoStatus::Failed;
    }
    std::shared_ptr<Lookup> lookup;
    try {
        lookup = takeOver(host, port);
        if (!lookup) {
            lookup = std::make_shared<Lookup>(host, port);
            try {
                std::thread([lookup] { lookup->run(); }).detach();
            } catch (const std::system_error&) {
                lookup->run();  // no thread to be had: wait for it here
            }
        }
    } catch (const std::exception&) {
        code = EAI_MEMORY;
        return IoStatus::Failed;
    }
    std::unique_lock lock(lookup->mutex);
    for (;;) {
        if (lookup->done) {
            found = std::exchange(lookup->found, nullptr);
            code = lookup->code;
            return code == 0 ? IoStatus::Ok : IoStatus::Failed;
        }
        int slice_ms = 0;
        if (const IoStatus end = nextSlice(patience, slice_ms); end != IoStatus::Ok) {
            lock.unlock();
            leave(std::move(lookup));
            return end;
        }
        lookup->finished.wait_for(lock, std::chrono::milliseconds(slice_ms));
    }
}

}  // namespace scnet
