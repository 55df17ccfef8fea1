// Shared set-up for the client tests: a private working directory and HOME
// (SimConnect.cfg is looked up in both) and a record collector.
#ifndef TESTS_CLIENT_CLIENT_FIXTURE_H
#define TESTS_CLIENT_CLIENT_FIXTURE_H

#include "SimConnect.h"
#include "simconnect_net.h"
#include "process.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

struct Received {
    std::vector<Bytes> records;
    std::vector<DWORD> sizes;
    bool all_aligned = true;

    static void CALLBACK collect(SIMCONNECT_RECV* data, DWORD size, void* context) {
        auto* self = static_cast<Received*>(context);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
        self->records.emplace_back(bytes, bytes + size);
        self->sizes.push_back(size);
        self->all_aligned = self->all_aligned && reinterpret_cast<std::uintptr_t>(data) % 8 == 0;
    }
};

class ClientTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = std::make_unique<testproc::TempDir>("simconnect-client-test");
        cwd_ = std::filesystem::path(root_->path()) / "cwd";
        home_ = std::filesystem::path(root_->path()) / "home";
        std::filesystem::create_directories(cwd_);
        std::filesystem::create_directories(home_);
        old_cwd_ = std::filesystem::current_path();
        if (const char* home = std::getenv("HOME")) {
            old_home_ = home;
        }
        std::filesystem::current_path(cwd_);
        ::setenv("HOME", home_.c_str(), 1);
    }

    void TearDown() override {
        std::filesystem::current_path(old_cwd_);
        ::setenv("HOME", old_home_.c_str(), 1);
        root_.reset();
    }

    static void writeCfg(const std::filesystem::path& dir, const std::string& text) {
        std::ofstream(dir / "SimConnect.cfg") << text;
    }

    static std::string ipv4Section(const std::string& name, int port, const std::string& address = "127.0.0.1") {
        return "[" + name + "]\nProtocol=IPv4\nAddress=" + address + "\nPort=" + std::to_string(port) + "\n";
    }

    // Opens a connection to `server` through a cfg in the working directory;
    // the server answers the Open with RECV_OPEN, the first record the
    // handle's dispatch will deliver.
    HANDLE openTo(TestServer& server) {
        writeCfg(cwd_, ipv4Section("SimConnect", server.port()));
        server.serveOpen();
        HANDLE h = nullptr;
        const HRESULT r = SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0);
        EXPECT_EQ(r, S_OK) << SimConnectNet_LastError();
        EXPECT_TRUE(server.accept());
        EXPECT_EQ(server.receive(scproto::kOpenPacketSize).size(), scproto::kOpenPacketSize);
        return h;
    }

    // Dispatches until `done` holds, a call fails, or a generous deadline.
    static HRESULT dispatchUntil(HANDLE h, Received& got, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        HRESULT r = S_OK;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            r = SimConnect_CallDispatch(h, &Received::collect, &got);
            if (r != S_OK) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return r;
    }

    std::unique_ptr<testproc::TempDir> root_;
    std::filesystem::path cwd_, home_;

private:
    std::filesystem::path old_cwd_;
    std::string old_home_;
};

#endif
