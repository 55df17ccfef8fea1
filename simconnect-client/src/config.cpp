#include "config.h"

#include "simconnect_protocol/protocol.h"
#include "simconnect_protocol/vocabulary.h"

#include <cctype>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <filesystem>
#include <system_error>
#include <utility>

#include "windows_headers.h"

namespace scnet {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool sectionMatches(std::string_view name, std::uint32_t index) {
    const std::string numbered = "SimConnect." + std::to_string(index);
    return equalNoCase(name, numbered) || (index == 0 && equalNoCase(name, "SimConnect"));
}

std::string sectionLabel(std::uint32_t index) {
    return index == 0 ? "[SimConnect]" : "[SimConnect." + std::to_string(index) + "]";
}

// A value from the file as it may appear in a message.
std::string shown(std::string_view value) { return scproto::printable(value, 40); }

// What getaddrinfo can take as a host: printable ASCII without spaces, no
// longer than a DNS name.
bool plausibleHost(std::string_view host) {
    if (host.size() > 253) {
        return false;
    }
    for (const char ch : host) {
        if (ch <= 0x20 || ch >= 0x7F) {
            return false;
        }
    }
    return true;
}

// Appends a code point (below 0x110000) as UTF-8.
void appendUtf8(std::string& out, std::uint32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// UTF-16 (after its byte-order mark) as UTF-8; empty `error` on success.
std::string fromUtf16(std::string_view bytes, bool big_endian, std::string& error) {
    if (bytes.size() % 2 != 0) {
        error = "an odd number of bytes for UTF-16";
        return {};
    }
    auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]), b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<std::uint32_t>(big_endian ? (a << 8) | b : (b << 8) | a);
    };
    std::string out;
    out.reserve(bytes.size() / 2);
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t point = unit(i);
        if (point >= 0xD800 && point < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (point >= 0xD800 && point < 0xE000) {
            error = "a broken UTF-16 surrogate pair at byte " + std::to_string(2 * i + 2);
            return {};
        }
        appendUtf8(out, point);
    }
    return out;
}

// The file's bytes as the text to parse: a UTF-8 byte-order mark dropped,
// UTF-16 with its mark (PowerShell's `>` writes UTF-16 LE) made UTF-8.
std::string decodeText(std::string_view bytes, std::string& error) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        return std::string(bytes.substr(3));
    }
    if (bytes.starts_with("\xFF\xFE")) {
        return fromUtf16(bytes.substr(2), false, error);
    }
    if (bytes.starts_with("\xFE\xFF")) {
        return fromUtf16(bytes.substr(2), true, error);
    }
    if (bytes.find('\0') != std::string_view::npos) {
        error = "NUL bytes in an ANSI or UTF-8 file (UTF-16 saved without a byte-order mark?)";
    }
    return std::string(bytes);
}

// Whether anything named `path` is there (a dangling link included).
bool isConfigThere(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Why `path`, which is there, is no file to read: empty when it is one.
// Never opens it (a FIFO would block).
std::string notAFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        std::error_code link_ec;
        const fs::path target = fs::read_symlink(path, link_ec);
        return "is a symbolic link to " + scproto::printable(link_ec ? std::string("?") : target.string(), 120) +
               ", which does not exist";
    }
    if (ec) {
        return "cannot be read: " + ec.message();
    }
    switch (status.type()) {
    case fs::file_type::regular: return {};
    case fs::file_type::directory: return "is a directory, not a file";
    case fs::file_type::fifo: return "is a FIFO, not a file";
    case fs::file_type::socket: return "is a socket, not a file";
    case fs::file_type::block:
    case fs::file_type::character: return "is a device, not a file";
    default: return "is not a file";
    }
}

bool validPort(std::string_view port) {
    if (port.empty() || port.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

ConfigResult parseConfig(std::string_view bytes, const std::string& path, std::uint32_t config_index) {
    ConfigResult result;
    std::string encoding_error;
    const std::string text = decodeText(bytes, encoding_error);
    if (!encoding_error.empty()) {
        result.status = ConfigStatus::Unreadable;
        result.error = "SimConnect.cfg(" + path + "): cannot be read: " + encoding_error;
        return result;
    }
    bool found = false;
    bool inside = false;
    std::string section_name;
    std::string protocol = "IPv4";  // the SDK's default protocol
    std::size_t at = 0;
    while (at < text.size()) {
        // CR, LF and CRLF all end a line (the empty line inside CRLF is skipped).
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line = trim(std::string_view(text).substr(at, end - at));
        at = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string_view name = trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            // The first matching section wins, as with an INI reader.
            inside = !found && sectionMatches(name, config_index);
            if (inside) {
                found = true;
                section_name = "[" + std::string(name) + "]";
            }
            continue;
        }
        if (!inside) {
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        if (equalNoCase(key, "Protocol")) {
            protocol = value;
        } else if (equalNoCase(key, "Address")) {
            result.server.address = value;
        } else if (equalNoCase(key, "Port")) {
            result.server.port = value;
        }
    }
    if (!found) {
        result.status = ConfigStatus::MissingSection;
        result.error = "SimConnect.cfg(" + path + "): no section " + sectionLabel(config_index) +
                       " for configuration index " + std::to_string(config_index);
        return result;
    }
    result.server.origin = "from " + section_name + " in " + path;
    if (!equalNoCase(protocol, "IPv4")) {
        result.status = ConfigStatus::BadValue;
        result.error = "SimConnect.cfg(" + path + "): Protocol=" + shown(protocol) + " in " + section_name +
                       " is not supported; only IPv4 is";
    } else if (!validPort(result.server.port)) {
        result.status = ConfigStatus::BadValue;
        result.error = "SimConnect.cfg(" + path + "): Port=" + shown(result.server.port) + " in " + section_name +
                       " is not a TCP port number";
    } else if (result.server.address.empty()) {
        result.status = ConfigStatus::BadValue;
        result.error = "SimConnect.cfg(" + path + "): empty Address in " + section_name;
    } else if (!plausibleHost(result.server.address)) {
        result.status = ConfigStatus::BadValue;
        result.error = "SimConnect.cfg(" + path + "): Address=" + shown(result.server.address) + " in " + section_name +
                       " is not a host name or IPv4 address";
    }
    return result;
}

#if defined(_WIN32)
namespace {

// A wide Windows path as the narrow string that std::filesystem turns back
// into the same path; empty when the conversion is impossible.
std::string narrow(const std::wstring& wide) {
    try {
        return std::filesystem::path(wide).string();
    } catch (const std::exception&) {
        return {};
    }
}

std::string executableFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) {
            return {};
        }
        if (n < name.size()) {
            name.resize(n);
            break;
        }
        // Truncated: long paths go up to 32767 characters.
        if (name.size() >= 32768) {
            return {};
        }
        name.resize(name.size() * 2);
    }
    return narrow(std::filesystem::path(name).parent_path().wstring());
}

std::string userProfile() {
    const DWORD needed = ::GetEnvironmentVariableW(L"USERPROFILE", nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring value(needed, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(L"USERPROFILE", value.data(), needed);
    if (n == 0 || n >= needed) {
        return {};
    }
    value.resize(n);
    return narrow(value);
}

}  // namespace

std::vector<std::string> configSearchPath() {
    // The SDK's library looks beside the executable; the working directory
    // and the user profile follow, as other clients of the protocol do.
    std::vector<std::string> dirs;
    if (std::string exe = executableFolder(); !exe.empty()) {
        dirs.push_back(std::move(exe));
    }
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    const std::string here = ec ? std::string() : narrow(cwd.wstring());
    dirs.push_back(here.empty() ? std::string(".") : here);
    if (std::string profile = userProfile(); !profile.empty()) {
        dirs.push_back(std::move(profile));
    }
    return dirs;
}
#else
std::vector<std::string> configSearchPath() {
    std::vector<std::string> dirs;
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    dirs.push_back(ec ? std::string(".") : cwd.string());
    if (const char* home = std::getenv("HOME"); home && *home) {
        dirs.emplace_back(home);
    }
    return dirs;
}
#endif

ConfigResult findServer(std::uint32_t config_index, const std::vector<std::string>& directories) {
    ConfigResult result;
    if (config_index == scproto::kOpenConfigIndexLocal) {
        result.server.origin = "configuration index LOCAL; SimConnect.cfg ignored";
        return result;
    }
    for (const std::string& dir : directories) {
        const std::string path = (std::filesystem::path(dir) / "SimConnect.cfg").string();
        if (!isConfigThere(path)) {
            continue;
        }
        if (std::string what = notAFile(path); !what.empty()) {
            result.status = ConfigStatus::Unreadable;
            result.error = "SimConnect.cfg(" + path + "): " + what;
            return result;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            result.status = ConfigStatus::Unreadable;
            result.error = "SimConnect.cfg(" + path + "): cannot be read";
            return result;
        }
        // One byte more than allowed tells a file that is too large.
        std::string bytes(kMaxConfigBytes + 1, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (in.bad()) {
            result.status = ConfigStatus::Unreadable;
            result.error = "SimConnect.cfg(" + path + "): cannot be read";
            return result;
        }
        if (bytes.size() > kMaxConfigBytes) {
            result.status = ConfigStatus::Unreadable;
            result.error = "SimConnect.cfg(" + path + "): too large for a configuration file (over " +
                           std::to_string(kMaxConfigBytes / 1024) + " KiB)";
            return result;
        }
        return parseConfig(bytes, path, config_index);
    }
    result.server.origin = "no SimConnect.cfg found; using the default";
    return result;
}

}  // namespace scnet
