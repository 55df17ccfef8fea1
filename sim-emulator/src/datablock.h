// Data definitions as a client builds them with AddToDataDefinition, and
// the data block of a SIMOBJECT_DATA record built from one.
#ifndef SIM_EMULATOR_DATABLOCK_H
#define SIM_EMULATOR_DATABLOCK_H

#include "model.h"

#include "simconnect_protocol/vocabulary.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

namespace simemu {

// SimConnect's exception codes and datum types (the emulator serves the
// numeric ones).
using ExceptionCode = scproto::Exception;
using DatumType = scproto::DataType;

struct Datum {
    Var var = Var::Count;
    Unit unit;
    DatumType type = DatumType::Float64;
};

// An exception to send back: the code and the 1-based index of the
// offending parameter (handle not counted), as SimConnect reports it.
struct Rejection {
    ExceptionCode code = ExceptionCode::Error;
    std::uint32_t index = 0;
};

// Checks one AddToDataDefinition: the variable name (parameter 2), the
// unit (3: unknown, or of another family than the variable) and the type
// (4). An empty unit means the variable's own.
std::variant<Datum, Rejection> resolveDatum(std::string_view name, std::string_view units, std::uint32_t type);

// Writes the datums' current values back to back, little-endian, in
// definition order. Returns the bytes written, or 0 when `out` is too
// small (an empty definition also gives 0).
std::size_t buildDataBlock(const Model& model, std::span<const Datum> datums, std::span<std::uint8_t> out);

}  // namespace simemu

#endif
