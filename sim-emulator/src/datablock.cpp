#include "datablock.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace simemu {
namespace {

void putLittleEndian(std::uint8_t* p, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// SimConnect truncates toward zero when an integer type is asked of a
// floating value; out-of-range values saturate rather than wrap.
template <typename Int>
Int truncateTo(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (v <= lo) {
        return std::numeric_limits<Int>::min();
    }
    if (v >= hi) {
        return std::numeric_limits<Int>::max();
    }
    return static_cast<Int>(std::trunc(v));
}

}  // namespace

std::variant<Datum, Rejection> resolveDatum(std::string_view name, std::string_view units, std::uint32_t type) {
    const auto var = findVar(name);
    if (!var) {
        return Rejection{ExceptionCode::NameUnrecognized, 2};
    }
    Datum d;
    d.var = *var;
    const bool emptyUnits = units.find_first_not_of(" \t") == std::string_view::npos;
    const auto unit = findUnit(emptyUnits ? info(*var).unit : units);
    if (!unit || unit->family != info(*var).family) {
        return Rejection{ExceptionCode::NameUnrecognized, 3};
    }
    d.unit = *unit;
    if (type < static_cast<std::uint32_t>(DatumType::Int32) || type > static_cast<std::uint32_t>(DatumType::Float64)) {
        return Rejection{ExceptionCode::InvalidDataType, 4};
    }
    d.type = static_cast<DatumType>(type);
    return d;
}

std::size_t buildDataBlock(const Model& model, std::span<const Datum> datums, std::span<std::uint8_t> out) {
    std::size_t total = 0;
    for (const Datum& d : datums) {
        total += scproto::dataTypeWidth(d.type);
    }
    if (total > out.size()) {
        return 0;
    }
    std::uint8_t* p = out.data();
    for (const Datum& d : datums) {
        const double v = model.read(d.var, d.unit).value_or(0.0);
        switch (d.type) {
        case DatumType::Int32: putLittleEndian(p, static_cast<std::uint32_t>(truncateTo<std::int32_t>(v)), 4); break;
        case DatumType::Int64: putLittleEndian(p, static_cast<std::uint64_t>(truncateTo<std::int64_t>(v)), 8); break;
        case DatumType::Float32: {
            const float f = static_cast<float>(v);
            std::uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            putLittleEndian(p, bits, 4);
            break;
        }
        case DatumType::Float64: {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            putLittleEndian(p, bits, 8);
            break;
        }
        default:  // refused by resolveDatum
            break;
        }
        p += scproto::dataTypeWidth(d.type);
    }
    return total;
}

}  // namespace simemu
