// A scripted SimConnect server for the client tests: a real listening socket
// on 127.0.0.1, driven step by step from the test's own thread (the kernel
// completes the TCP handshake before accept(), so no thread is needed).
#ifndef TESTS_CLIENT_TEST_SERVER_H
#define TESTS_CLIENT_TEST_SERVER_H

#include "simconnect_protocol/protocol.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class TestServer {
public:
    TestServer();  // listens on an ephemeral port
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // Waits (up to a few seconds) for the client's connection.
    bool accept();
    // Reads until `n` bytes from the client have arrived or a timeout.
    Bytes receive(std::size_t n);
    // True when the client has closed its end and sent nothing more.
    bool clientClosed();
    void send(std::span<const std::uint8_t> bytes);
    void sendByteByByte(std::span<const std::uint8_t> bytes);
    void closeClient();

private:
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
};

// A port on 127.0.0.1 where nothing listens.
int unusedPort();

// Server records, encoded.
Bytes record(const scproto::RecvOpen& r);
Bytes record(const scproto::RecvException& r);
Bytes record(const scproto::RecvEvent& r);
Bytes record(const scproto::RecvQuit& r);
Bytes dataRecord(std::uint32_t request_id, std::uint32_t define_count, std::size_t data_bytes, std::uint8_t fill);

#endif
