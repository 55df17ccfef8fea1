// A scripted SimConnect server for the client tests: a real listening socket
// on 127.0.0.1, driven step by step from the test's own thread (the kernel
// completes the TCP handshake before accept()). Only the answer to the Open
// needs a thread of its own: SimConnect_Open waits for it.
#ifndef TESTS_CLIENT_TEST_SERVER_H
#define TESTS_CLIENT_TEST_SERVER_H

#include "simconnect_protocol/protocol.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

using Bytes = std::vector<std::uint8_t>;

class TestServer {
public:
    // Listens on an ephemeral port; `port` (e.g. 500) when bind() allows it,
    // else listening() is false.
    explicit TestServer(int port = 0);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    bool listening() const { return listener_ >= 0; }

    // How the server meets the client's Open.
    enum class OnOpen {
        Answer,   // RECV_OPEN, then `then`
        Instead,  // `then` alone
        Close,    // closes the connection without a word
    };
    // Starts a thread that accepts the connection, reads the Open packet
    // (kept for receive()) and replies after `delay`. Without it the
    // connection is left waiting in the kernel's queue: a simulator that
    // never answers.
    void serveOpen(OnOpen reply = OnOpen::Answer, Bytes then = {},
                   std::chrono::milliseconds delay = std::chrono::milliseconds(0));

    // Waits (up to a few seconds) for the client's connection; after
    // serveOpen, for that thread's accept.
    bool accept();
    // Reads until `n` bytes from the client have arrived or a timeout.
    Bytes receive(std::size_t n);
    // True when the client has closed its end and sent nothing more.
    bool clientClosed();
    void send(std::span<const std::uint8_t> bytes);
    void sendByteByByte(std::span<const std::uint8_t> bytes);
    void closeClient();

private:
    bool acceptNow();
    Bytes receiveNow(std::size_t n);

    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
    Bytes pending_;  // what serveOpen's thread read, for receive()
    std::thread opener_;
    bool opener_accepted_ = false;
};

// A port on 127.0.0.1 where nothing listens.
int unusedPort();

// A listener whose accept queue is full (backlog 0 and a connection of its
// own): Linux drops further SYNs, so a connect to it hangs until its timeout.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    int port() const { return port_; }
    bool full() const { return filler_ >= 0; }

private:
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

// Interrupts the creating thread with SIGALRM every `every` for at most
// `lasting`, through a handler that does nothing and is installed without
// SA_RESTART, as a program's stop handler may be: every blocking wait of
// that thread ends early with EINTR.
class SignalStorm {
public:
    SignalStorm(std::chrono::milliseconds every, std::chrono::milliseconds lasting);
    ~SignalStorm();
    SignalStorm(const SignalStorm&) = delete;
    SignalStorm& operator=(const SignalStorm&) = delete;
    int delivered() const { return delivered_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> delivered_{0};
    pthread_t target_;
    std::thread sender_;
};

Bytes concat(const std::vector<Bytes>& parts);

// Server records, encoded.
Bytes record(const scproto::RecvOpen& r);
Bytes record(const scproto::RecvException& r);
Bytes record(const scproto::RecvEvent& r);
Bytes record(const scproto::RecvQuit& r);
Bytes dataRecord(std::uint32_t request_id, std::uint32_t define_count, std::size_t data_bytes, std::uint8_t fill);

#endif
