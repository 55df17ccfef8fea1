#include "client_data.h"

#include <cstring>

namespace simemu {

ClientDataAreas::Created ClientDataAreas::create(std::string_view name, std::size_t size, int owner, bool read_only) {
    if (areas_.find(name) != areas_.end()) {
        return Created::AlreadyCreated;
    }
    if (areas_.size() >= kMaxClientDataAreas) {
        return Created::TooMany;
    }
    areas_.emplace(std::string(name), Area{std::vector<std::uint8_t>(size), owner, read_only});
    return Created::Yes;
}

const ClientDataAreas::Area* ClientDataAreas::find(std::string_view name) const {
    const auto it = areas_.find(name);
    return it == areas_.end() ? nullptr : &it->second;
}

bool ClientDataAreas::write(std::string_view name, std::size_t offset, std::span<const std::uint8_t> bytes) {
    const auto it = areas_.find(name);
    if (it == areas_.end()) {
        return false;
    }
    auto& area = it->second.bytes;
    if (offset > area.size() || bytes.size() > area.size() - offset) {
        return false;
    }
    if (!bytes.empty()) {
        std::memcpy(area.data() + offset, bytes.data(), bytes.size());
    }
    return true;
}

void ClientDataAreas::adopt(std::string_view name, int owner) {
    if (const auto it = areas_.find(name); it != areas_.end()) {
        it->second.owner = owner;
    }
}

void ClientDataAreas::removeOwnedBy(int owner) {
    std::erase_if(areas_, [owner](const auto& entry) { return entry.second.owner == owner; });
}

std::variant<ClientDatum, Rejection> resolveClientDatum(std::span<const ClientDatum> definition, std::uint32_t offset,
                                                        std::uint32_t size_or_type) {
    const std::size_t size = scproto::clientDatumSize(size_or_type);
    if (size == 0) {
        // -1 to -6 are the types; other negative values are types that do
        // not exist, anything else a size no area has.
        const bool type = static_cast<std::int32_t>(size_or_type) < 0;
        return Rejection{type ? ExceptionCode::InvalidDataType : ExceptionCode::InvalidDataSize, 3};
    }
    std::size_t at = offset;
    if (offset == scproto::kClientDataOffsetAuto) {
        at = definition.empty() ? 0 : std::size_t{definition.back().offset} + definition.back().size;
    }
    if (at > scproto::kClientDataMaxSize || size > scproto::kClientDataMaxSize - at) {
        return Rejection{ExceptionCode::OutOfBounds, 2};
    }
    std::size_t total = size;
    for (const auto& d : definition) {
        total += d.size;
    }
    if (total > scproto::kClientDataMaxSize) {
        return Rejection{ExceptionCode::OutOfBounds, 3};
    }
    return ClientDatum{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(size)};
}

std::optional<std::size_t> buildClientDataBlock(std::span<const std::uint8_t> area,
                                                std::span<const ClientDatum> definition, std::span<std::uint8_t> out) {
    std::size_t at = 0;
    for (const auto& d : definition) {
        if (d.offset > area.size() || d.size > area.size() - d.offset || d.size > out.size() - at) {
            return std::nullopt;
        }
        std::memcpy(out.data() + at, area.data() + d.offset, d.size);
        at += d.size;
    }
    return at;
}

bool ClientDataRequest::countPeriod() {
    ++periods;
    return periods > origin && (periods - origin - 1) % (std::uint64_t{interval} + 1) == 0;
}

bool ClientDataRequest::finished() const {
    return (period == static_cast<std::uint32_t>(scproto::ClientDataPeriod::Once) && sent > 0) ||
           (limit != 0 && sent >= limit);
}

}  // namespace simemu
