// SimConnect.cfg discovery through SimConnect_Open: which file, which
// section, what when it is missing or wrong.
#include "client_fixture.h"

#include <sys/stat.h>

namespace {

enum class Expect { Connects, Refused, InvalidArg, Fails };

struct CfgCase {
    const char* what;
    // "%P" stands for the test server's port, "%D" for a dead one.
    std::string cwd_cfg;   // empty: no file
    std::string home_cfg;  // empty: no file
    DWORD index;
    Expect expect;
    const char* error_part;                             // expected in SimConnectNet_LastError(), if any
    std::string (*save)(const std::string&) = nullptr;  // how cwd_cfg is saved: UTF-8 without a mark
};

// UTF-8 as UTF-16 code units, each written low byte first or high byte first.
std::string utf16(const std::string& text, bool big_endian) {
    std::string out;
    auto put = [&](std::uint32_t unit) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        out += big_endian ? high : low;
        out += big_endian ? low : high;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t point = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += n;
        if (point >= 0x10000) {
            put(0xD800 + ((point - 0x10000) >> 10));
            put(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            put(point);
        }
    }
    return out;
}

std::string utf8WithMark(const std::string& text) { return "\xEF\xBB\xBF" + text; }
std::string utf16LeWithMark(const std::string& text) { return utf16("\uFEFF" + text, false); }
std::string utf16BeWithMark(const std::string& text) { return utf16("\uFEFF" + text, true); }
std::string utf16LeWithoutMark(const std::string& text) { return utf16(text, false); }

std::string fill(std::string text, int port, int dead) {
    for (std::size_t at; (at = text.find("%P")) != std::string::npos;) {
        text.replace(at, 2, std::to_string(port));
    }
    for (std::size_t at; (at = text.find("%D")) != std::string::npos;) {
        text.replace(at, 2, std::to_string(dead));
    }
    return text;
}

TEST_F(ClientTest, ConfigurationDiscovery) {
    const std::string good = "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=%P\n";
    const std::string dead = "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=%D\n";
    const CfgCase cases[] = {
        {"working directory", good, "", 0, Expect::Connects, nullptr},
        {"home directory", "", good, 0, Expect::Connects, nullptr},
        {"working directory before home", dead, good, 0, Expect::Refused, "cwd/SimConnect.cfg"},
        {"numbered section for index 1",
         "[SimConnect]\nPort=%D\n\n[SimConnect.1]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=%P\n", "", 1,
         Expect::Connects, nullptr},
        {"[SimConnect.0] for index 0",
         "; comment\r\n[SimConnect.0]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%P\r\n", "", 0, Expect::Connects,
         nullptr},
        {"case-insensitive protocol, host name", "[simconnect]\nprotocol = ipv4\naddress = localhost\nport = %P\n", "",
         0, Expect::Connects, nullptr},
        {"missing section", good, "", 2, Expect::InvalidArg, "no section [SimConnect.2]"},
        {"missing section is not looked for in home", "[Other]\nPort=%P\n", good, 0, Expect::InvalidArg,
         "no section [SimConnect]"},
        {"pipe protocol", "[SimConnect]\nProtocol=Pipe\nAddress=.\nPort=Custom/SimConnect\n", "", 0, Expect::Fails,
         "Protocol=Pipe"},
        {"IPv6 protocol", "[SimConnect]\nProtocol=IPv6\nAddress=::1\nPort=%P\n", "", 0, Expect::Fails, "only IPv4"},
        {"port not a number", "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=fivehundred\n", "", 0,
         Expect::Fails, "Port=fivehundred"},
        {"address that does not resolve", "[SimConnect]\nProtocol=IPv4\nAddress=no-such-host.invalid\nPort=%P\n", "", 0,
         Expect::Fails, "getaddrinfo(no-such-host.invalid:"},
        {"index LOCAL ignores the file", dead, "", SIMCONNECT_OPEN_CONFIGINDEX_LOCAL, Expect::Fails, nullptr},
        // Encodings and line ends as Windows editors and shells save them.
        {"UTF-8 with a byte-order mark", good, "", 0, Expect::Connects, nullptr, utf8WithMark},
        {"UTF-16 LE with a byte-order mark, CRLF, non-ASCII comment",
         "; Z\u00FCrich \U0001F6E9\r\n[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%P\r\n", "", 0,
         Expect::Connects, nullptr, utf16LeWithMark},
        {"UTF-16 BE with a byte-order mark", good, "", 0, Expect::Connects, nullptr, utf16BeWithMark},
        {"UTF-16 without a byte-order mark", good, "", 0, Expect::Fails, "NUL", utf16LeWithoutMark},
        {"CR line ends", "[SimConnect]\rProtocol=IPv4\rAddress=127.0.0.1\rPort=%P\r", "", 0, Expect::Connects, nullptr},
        {"non-ASCII address", "[SimConnect]\nAddress=Z\u00FCrich\nPort=%P\n", "", 0, Expect::Fails,
         "Address=Z\\xc3\\xbcrich", utf16LeWithMark},
        // Values are quoted back cut short and with their odd bytes escaped.
        {"long port value", "[SimConnect]\nAddress=127.0.0.1\nPort=" + std::string(10000, '7') + "\n", "", 0,
         Expect::Fails, "Port=7777777777777777777777777777777777777777... "},
        {"escape bytes in a value", "[SimConnect]\nProtocol=\x1b[2J\x7fPipe\n", "", 0, Expect::Fails,
         "Protocol=\\x1b[2J\\x7fPipe "},
        {"file far too large", std::string(70000, ';') + "\n" + good, "", 0, Expect::Fails, "too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server;
        const int dead_port = unusedPort();
        std::filesystem::remove(cwd_ / "SimConnect.cfg");
        std::filesystem::remove(home_ / "SimConnect.cfg");
        if (!c.cwd_cfg.empty()) {
            const std::string text = fill(c.cwd_cfg, server.port(), dead_port);
            writeCfg(cwd_, c.save ? c.save(text) : text);
        }
        if (!c.home_cfg.empty()) {
            writeCfg(home_, fill(c.home_cfg, server.port(), dead_port));
        }
        if (c.expect == Expect::Connects) {
            server.serveOpen();
        }
        HANDLE h = nullptr;
        const HRESULT r = SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, c.index);
        const std::string error = SimConnectNet_LastError();
        switch (c.expect) {
        case Expect::Connects:
            EXPECT_EQ(r, S_OK) << error;
            EXPECT_TRUE(server.accept());
            EXPECT_EQ(server.receive(scproto::kOpenPacketSize).size(), scproto::kOpenPacketSize);
            break;
        case Expect::Refused:
            EXPECT_LT(r, 0);
            EXPECT_NE(error.find("connect(127.0.0.1:" + std::to_string(dead_port) + ")"), std::string::npos) << error;
            break;
        case Expect::InvalidArg: EXPECT_EQ(r, E_INVALIDARG); break;
        case Expect::Fails:
            if (c.index == SIMCONNECT_OPEN_CONFIGINDEX_LOCAL && r == S_OK) {
                break;  // something does listen on the default port here
            }
            EXPECT_LT(r, 0);
            break;
        }
        if (r == S_OK) {
            EXPECT_NE(h, nullptr);
            EXPECT_EQ(SimConnect_Close(h), S_OK);
        } else {
            EXPECT_EQ(h, nullptr);
            if (c.error_part) {
                EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
            }
            // Whatever the file holds, the message is one short printable line.
            EXPECT_LT(error.size(), 300u) << error;
            EXPECT_TRUE(std::all_of(error.begin(), error.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; }))
                << error;
        }
    }
}

// A SimConnect.cfg that is there but is no file is said for what it is, and
// is not passed over for the next folder's (nor opened: a FIFO would block).
TEST_F(ClientTest, ConfigurationThatIsNoFile) {
    struct Case {
        const char* what;
        void (*make)(const std::filesystem::path& at);
        const char* says;
    };
    const Case cases[] = {
        {"a directory", [](const std::filesystem::path& at) { std::filesystem::create_directory(at); },
         "is a directory, not a file"},
        {"a FIFO", [](const std::filesystem::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); },
         "is a FIFO, not a file"},
        {"a dangling symbolic link",
         [](const std::filesystem::path& at) { std::filesystem::create_symlink("gone/SimConnect.cfg", at); },
         "is a symbolic link to gone/SimConnect.cfg, which does not exist"},
        {"a link to a directory",
         [](const std::filesystem::path& at) { std::filesystem::create_directory_symlink("/", at); },
         "is a directory, not a file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path at = cwd_ / "SimConnect.cfg";
        std::filesystem::remove_all(at);
        c.make(at);
        // The home folder's file, which must not be used instead.
        writeCfg(home_, ipv4Section("SimConnect", unusedPort()));
        HANDLE h = nullptr;
        EXPECT_EQ(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), E_FAIL);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(SimConnectNet_LastError(), "SimConnect.cfg(" + at.string() + "): " + c.says);
        std::filesystem::remove_all(at);
    }
}

// Without any SimConnect.cfg the client goes to 127.0.0.1:500. Where this
// test may listen there (as root) it checks the connection arrives; else
// it checks the failure names the default address and says why it used it.
TEST_F(ClientTest, DefaultsWithoutAnyFile) {
    TestServer server(500);
    if (server.listening()) {
        server.serveOpen();
    }
    HANDLE h = nullptr;
    const HRESULT r = SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0);
    if (server.listening()) {
        EXPECT_EQ(r, S_OK) << SimConnectNet_LastError();
        EXPECT_TRUE(server.accept());
    } else if (r != S_OK) {
        const std::string error = SimConnectNet_LastError();
        EXPECT_NE(error.find("127.0.0.1:500"), std::string::npos) << error;
        EXPECT_NE(error.find("no SimConnect.cfg found"), std::string::npos) << error;
    }
    if (r == S_OK) {
        SimConnect_Close(h);
    }
}

TEST_F(ClientTest, NoServerFailsAndSaysWhere) {
    const int port = unusedPort();
    writeCfg(home_, ipv4Section("SimConnect", port));
    HANDLE h = nullptr;
    EXPECT_LT(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(h, nullptr);
    const std::string error = SimConnectNet_LastError();
    EXPECT_NE(error.find("connect(127.0.0.1:" + std::to_string(port) + "): Connection refused"), std::string::npos)
        << error;
    EXPECT_NE(error.find("from [SimConnect] in " + (home_ / "SimConnect.cfg").string()), std::string::npos) << error;
}

}  // namespace
