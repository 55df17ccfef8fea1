// Data definitions as a client builds them with AddToDataDefinition, and
// the data blocks of SIMOBJECT_DATA (built from the simulator) and of
// SetDataOnSimObject (read into it).
#ifndef SIM_EMULATOR_DATABLOCK_H
#define SIM_EMULATOR_DATABLOCK_H

#include "model.h"
#include "named_variables.h"

#include "simconnect_protocol/vocabulary.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace simemu {

class Simulator;

// SimConnect's exception codes and datum types.
using ExceptionCode = scproto::Exception;
using DatumType = scproto::DataType;

// Where a datum's value lives.
enum class DatumSource : std::uint8_t {
    Model,  // a modelled variable, converted to the datum's unit
    Named,  // an L:var or an A:var the model does not hold
    Title,  // the loaded aircraft's TITLE, a string
};

struct Datum {
    DatumSource source = DatumSource::Model;
    Var var = Var::Count;  // for Model
    Unit unit;             // for Model
    NamedVariables::Id named = 0;
    DatumType type = DatumType::Float64;
};

// An exception to send back: the code and the 1-based index of the
// offending parameter (handle not counted), as SimConnect reports it.
struct Rejection {
    ExceptionCode code = ExceptionCode::Error;
    std::uint32_t index = 0;
};

// Checks one AddToDataDefinition: the variable name (parameter 2), the
// unit (3: for a modelled variable unknown or of another family than the
// variable) and the type (4: numeric for numbers, a string type for TITLE).
// An empty unit means the variable's own. An L:var or an unmodelled A:var
// is created in `named` (reading 0); a full store draws DEFINITION_ERROR.
std::variant<Datum, Rejection> resolveDatum(NamedVariables& named, std::string_view name, std::string_view units,
                                            std::uint32_t type);

// The most bytes a datum takes in a block (a StringV: its longest).
std::size_t maxDatumSize(const Datum& datum);

// Writes the datums' current values back to back, little-endian, in
// definition order. Returns the bytes written, or 0 when `out` is too
// small (an empty definition also gives 0).
std::size_t buildDataBlock(const Simulator& sim, std::span<const Datum> datums, std::span<std::uint8_t> out);

// One datum's value as a client sent it in SetDataOnSimObject.
struct DatumValue {
    double number = 0.0;
    std::string text;  // for a string datum
};

// Reads a SetDataOnSimObject block laid out by `datums`; nothing unless it
// holds exactly one value per datum.
std::optional<std::vector<DatumValue>> readDataBlock(std::span<const Datum> datums, std::span<const std::uint8_t> data);

// Writes the values into the simulator, all or none: nothing when a datum
// cannot be written (TITLE, a BCD16 unit) or a value is outside what its
// variable holds, with the 0-based index of the first such datum.
std::optional<std::size_t> writeData(Simulator& sim, std::span<const Datum> datums, std::span<const DatumValue> values);

// The datum's variable as the trace and the state name it: "L:NAME",
// "A:NAME", a modelled variable's SimConnect name, or "TITLE".
std::string datumName(const Simulator& sim, const Datum& datum);

}  // namespace simemu

#endif
