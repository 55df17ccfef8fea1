// Data definitions as a client builds them with AddToDataDefinition, and
// the data block of a SIMOBJECT_DATA record built from one.
#ifndef SIM_EMULATOR_DATABLOCK_H
#define SIM_EMULATOR_DATABLOCK_H

#include "model.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

namespace simemu {

// SIMCONNECT_EXCEPTION values the emulator sends.
enum class ExceptionCode : std::uint32_t {
    Error = 1,
    UnrecognizedId = 3,
    Unopened = 4,
    NameUnrecognized = 7,
    TooManyEventNames = 8,
    EventIdDuplicate = 9,
    TooManyRequests = 12,
    InvalidDataType = 18,
    InvalidEnum = 27,
    DefinitionError = 28,
};

// SIMCONNECT_DATATYPE values the emulator serves: the numeric ones.
enum class DatumType : std::uint32_t { Int32 = 1, Int64 = 2, Float32 = 3, Float64 = 4 };

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

std::size_t datumWidth(DatumType type);

// Writes the datums' current values back to back, little-endian, in
// definition order. Returns the bytes written, or 0 when `out` is too
// small (an empty definition also gives 0).
std::size_t buildDataBlock(const Model& model, std::span<const Datum> datums, std::span<std::uint8_t> out);

}  // namespace simemu

#endif
