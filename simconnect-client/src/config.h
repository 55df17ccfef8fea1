// Where the simulator is: SimConnect.cfg, as the SDK's client reads it.
#ifndef SIMCONNECT_NET_CONFIG_H
#define SIMCONNECT_NET_CONFIG_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scnet {

inline constexpr const char* kDefaultAddress = "127.0.0.1";
inline constexpr const char* kDefaultPort = "500";
// A SimConnect.cfg is a few lines; anything larger is not one.
inline constexpr std::size_t kMaxConfigBytes = 64 * 1024;

struct ServerConfig {
    std::string address = kDefaultAddress;
    std::string port = kDefaultPort;
    // Where these values came from, for error messages, e.g.
    // "from [SimConnect.1] in /home/pi/SimConnect.cfg".
    std::string origin;
};

enum class ConfigStatus {
    Ok,
    MissingSection,  // the file has no section for the requested index
    BadValue,        // a protocol other than IPv4, or an unusable port
    Unreadable,      // cannot be read, too large, or in an encoding we do not read
};

struct ConfigResult {
    ConfigStatus status = ConfigStatus::Ok;
    ServerConfig server;
    std::string error;  // set unless status is Ok
};

// Reads the section for `config_index` from the bytes of a SimConnect.cfg
// found at `path`: ANSI or UTF-8 (with or without a byte-order mark), or
// UTF-16 LE or BE with one; lines end with CR, LF or CRLF. Index 0 takes
// [SimConnect] or [SimConnect.0], index N [SimConnect.N]; section and key
// names compare case-insensitively. Values quoted in `error` are cut short
// and escaped.
ConfigResult parseConfig(std::string_view bytes, const std::string& path, std::uint32_t config_index);

// The directories searched, in order: the working directory, then $HOME;
// on Windows the executable's folder, the working directory, then
// %USERPROFILE%.
std::vector<std::string> configSearchPath();

// Uses the first SimConnect.cfg found in `directories`; the defaults when
// there is none or when config_index is SIMCONNECT_OPEN_CONFIGINDEX_LOCAL.
ConfigResult findServer(std::uint32_t config_index, const std::vector<std::string>& directories);

}  // namespace scnet

#endif
