// Client data: named areas of bytes that clients, and add-ons inside the
// simulator (the MobiFlight module's model), create and share, and what
// each client builds on them: its IDs for area names, its definitions (which
// bytes of an area) and its requests. No sockets here; the packets are
// handled in client_data_session.cpp.
#ifndef SIM_EMULATOR_CLIENT_DATA_H
#define SIM_EMULATOR_CLIENT_DATA_H

#include "datablock.h"

#include "simconnect_protocol/vocabulary.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace simemu {

// Areas in the whole simulator: at most this many of at most 8 KiB each.
inline constexpr std::size_t kMaxClientDataAreas = 256;
// Owner of the areas an add-on inside the simulator created; clients are
// numbered from 1.
inline constexpr int kSimulatorOwner = 0;

class ClientDataAreas {
public:
    struct Area {
        std::vector<std::uint8_t> bytes;
        int owner = kSimulatorOwner;
        bool read_only = false;
    };
    enum class Created { Yes, AlreadyCreated, TooMany };

    // A new area of `size` bytes (1..kClientDataMaxSize, checked by the
    // caller), zeroed.
    Created create(std::string_view name, std::size_t size, int owner, bool read_only);
    // Names match exactly.
    const Area* find(std::string_view name) const;
    // Copies `bytes` in at `offset`; false, and nothing written, when they
    // do not fit the area or there is no such area.
    bool write(std::string_view name, std::size_t offset, std::span<const std::uint8_t> bytes);
    // An add-on inside the simulator taking over an area a client made, so
    // that it stays when the client leaves.
    void adopt(std::string_view name, int owner);
    // The areas a client created go with it.
    void removeOwnedBy(int owner);
    std::size_t size() const { return areas_.size(); }

private:
    std::map<std::string, Area, std::less<>> areas_;
};

// One datum of a client-data definition: bytes of an area.
struct ClientDatum {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// AddToClientDataDefinition checked against the definition so far: the
// size or type (parameter 3) and the offset (2), SIMCONNECT_CLIENTDATAOFFSET_AUTO
// meaning right after the last datum; a definition spans at most one area.
std::variant<ClientDatum, Rejection> resolveClientDatum(std::span<const ClientDatum> definition, std::uint32_t offset,
                                                        std::uint32_t size_or_type);

// The datums' bytes, back to back in definition order; the number written,
// or nothing when a datum lies outside the area or `out` is too small.
std::optional<std::size_t> buildClientDataBlock(std::span<const std::uint8_t> area,
                                                std::span<const ClientDatum> definition, std::span<std::uint8_t> out);

struct ClientDataRequest {
    std::uint32_t area_id = 0;
    std::uint32_t define_id = 0;
    std::uint32_t period = 0;  // a ClientDataPeriod
    std::uint32_t flags = 0;
    std::uint32_t origin = 0;
    std::uint32_t interval = 0;
    std::uint32_t limit = 0;
    std::uint64_t periods = 0;  // periods (frames, seconds or writes) seen
    std::uint32_t sent = 0;
    std::uint64_t start_frame = 0;
    std::vector<std::uint8_t> last;  // for the CHANGED flag

    // Counts one period; true when this one is due by origin and interval.
    bool countPeriod();
    // True once the request has sent all it will (ONCE sent, or its limit).
    bool finished() const;
};

// What one client built; IDs are the client's own.
struct ClientDataClient {
    std::map<std::uint32_t, std::string> names;  // area ID -> area name
    std::map<std::uint32_t, std::vector<ClientDatum>> defines;
    std::map<std::uint32_t, ClientDataRequest> requests;
};

// Bounds per client, far above any real use.
inline constexpr std::size_t kMaxClientDataNames = 1024;
inline constexpr std::size_t kMaxClientDataDefines = 1024;
inline constexpr std::size_t kMaxClientDataRequests = 1024;

}  // namespace simemu

#endif
