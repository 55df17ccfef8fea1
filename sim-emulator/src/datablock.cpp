#include "datablock.h"

#include "simulator.h"
#include "text.h"

#include "simconnect_protocol/protocol.h"

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

std::uint64_t getLittleEndian(const std::uint8_t* p, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) {
        v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    }
    return v;
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

bool isNumeric(std::uint32_t type) {
    return type >= static_cast<std::uint32_t>(DatumType::Int32) &&
           type <= static_cast<std::uint32_t>(DatumType::Float64);
}

bool isString(std::uint32_t type) {
    return type >= static_cast<std::uint32_t>(DatumType::String8) &&
           type <= static_cast<std::uint32_t>(DatumType::StringV);
}

double numberOf(const Simulator& sim, const Datum& d) {
    switch (d.source) {
    case DatumSource::Model: return sim.model().read(d.var, d.unit).value_or(0.0);
    case DatumSource::Named: return sim.named().value(d.named);
    case DatumSource::Title: break;
    }
    return 0.0;
}

void putNumber(std::uint8_t* p, DatumType type, double v) {
    switch (type) {
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
    default: break;  // refused by resolveDatum
    }
}

double getNumber(const std::uint8_t* p, DatumType type) {
    switch (type) {
    case DatumType::Int32: return static_cast<std::int32_t>(static_cast<std::uint32_t>(getLittleEndian(p, 4)));
    case DatumType::Int64: return static_cast<double>(static_cast<std::int64_t>(getLittleEndian(p, 8)));
    case DatumType::Float32: {
        const auto bits = static_cast<std::uint32_t>(getLittleEndian(p, 4));
        float f = 0;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case DatumType::Float64: {
        const std::uint64_t bits = getLittleEndian(p, 8);
        double d = 0;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    default: break;
    }
    return 0.0;
}

}  // namespace

std::variant<Datum, Rejection> resolveDatum(NamedVariables& named, std::string_view name, std::string_view units,
                                            std::uint32_t type) {
    const auto ref = parseNamedRef(name);
    if (!ref) {
        return Rejection{ExceptionCode::NameUnrecognized, 2};
    }
    const bool emptyUnits = trim(units).empty();
    Datum d;
    d.type = static_cast<DatumType>(type);
    if (ref->kind == NamedKind::Sim && equalsIgnoreCase(ref->name, "TITLE")) {
        if (!isString(type)) {
            return Rejection{ExceptionCode::InvalidDataType, 4};
        }
        d.source = DatumSource::Title;
        return d;
    }
    const auto var = ref->kind == NamedKind::Sim ? findVar(ref->name) : std::nullopt;
    if (var) {
        const auto unit = findUnit(emptyUnits ? info(*var).unit : units);
        if (!unit || unit->family != info(*var).family) {
            return Rejection{ExceptionCode::NameUnrecognized, 3};
        }
        if (!isNumeric(type)) {
            return Rejection{ExceptionCode::InvalidDataType, 4};
        }
        d.var = *var;
        d.unit = *unit;
        return d;
    }
    if (!isNumeric(type)) {
        return Rejection{ExceptionCode::InvalidDataType, 4};
    }
    const auto id = named.define(ref->kind, ref->name);
    if (!id) {
        return Rejection{ExceptionCode::DefinitionError, 2};
    }
    d.source = DatumSource::Named;
    d.named = *id;
    return d;
}

std::size_t maxDatumSize(const Datum& d) {
    if (d.type == DatumType::StringV) {
        return scproto::stringDatumSize(d.type, std::string(scproto::kNameFieldSize, 'x'));
    }
    return scproto::isStringType(d.type) ? scproto::stringTypeWidth(d.type) : scproto::dataTypeWidth(d.type);
}

std::size_t buildDataBlock(const Simulator& sim, std::span<const Datum> datums, std::span<std::uint8_t> out) {
    std::size_t at = 0;
    for (const Datum& d : datums) {
        if (d.source == DatumSource::Title) {
            const std::size_t n = scproto::putStringDatum(out.subspan(at), d.type, sim.aircraft().title);
            if (n == 0) {
                return 0;
            }
            at += n;
            continue;
        }
        const std::size_t width = scproto::dataTypeWidth(d.type);
        if (out.size() - at < width) {
            return 0;
        }
        putNumber(out.data() + at, d.type, numberOf(sim, d));
        at += width;
    }
    return at;
}

std::optional<std::vector<DatumValue>> readDataBlock(std::span<const Datum> datums,
                                                     std::span<const std::uint8_t> data) {
    std::vector<DatumValue> values;
    values.reserve(datums.size());
    for (const Datum& d : datums) {
        DatumValue v;
        if (scproto::isStringType(d.type)) {
            std::size_t size = 0;
            const auto text = scproto::getStringDatum(data, d.type, size);
            if (!text) {
                return std::nullopt;
            }
            v.text = std::string(*text);
            data = data.subspan(size);
        } else {
            const std::size_t width = scproto::dataTypeWidth(d.type);
            if (data.size() < width) {
                return std::nullopt;
            }
            v.number = getNumber(data.data(), d.type);
            data = data.subspan(width);
        }
        values.push_back(std::move(v));
    }
    if (!data.empty()) {
        return std::nullopt;
    }
    return values;
}

std::optional<std::size_t> writeData(Simulator& sim, std::span<const Datum> datums,
                                     std::span<const DatumValue> values) {
    // Modelled variables are tried on a copy first, so that a refused value
    // leaves every variable as it was.
    Model probe = sim.model();
    for (std::size_t i = 0; i < datums.size(); ++i) {
        const Datum& d = datums[i];
        const double v = values[i].number;
        if (d.source == DatumSource::Title || !std::isfinite(v)) {
            return i;
        }
        if (d.source == DatumSource::Model) {
            const auto own = findUnit(info(d.var).unit);
            if (d.unit.bcd16 || !own || probe.set(d.var, v / d.unit.scale * own->scale)) {
                return i;
            }
        }
    }
    sim.model() = probe;
    for (std::size_t i = 0; i < datums.size(); ++i) {
        if (datums[i].source == DatumSource::Named) {
            sim.named().set(datums[i].named, values[i].number);
        }
    }
    return std::nullopt;
}

std::string datumName(const Simulator& sim, const Datum& d) {
    switch (d.source) {
    case DatumSource::Model: return std::string(info(d.var).name);
    case DatumSource::Named: return sim.named().displayName(d.named);
    case DatumSource::Title: break;
    }
    return "TITLE";
}

}  // namespace simemu
