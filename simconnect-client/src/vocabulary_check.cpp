// The SDK-shaped SimConnect.h against the protocol's vocabulary, at compile
// time: a value typed wrong in either fails the build here.
#include "windows_headers.h"

#include "SimConnect.h"

#include "simconnect_protocol/protocol.h"

namespace {

template <typename Enum>
constexpr auto value(Enum e) {
    return static_cast<std::uint32_t>(e);
}

using scproto::DataType;
using scproto::Exception;
using scproto::Period;
using scproto::RecvId;

static_assert(SIMCONNECT_RECV_ID_EXCEPTION == value(RecvId::Exception));
static_assert(SIMCONNECT_RECV_ID_OPEN == value(RecvId::Open));
static_assert(SIMCONNECT_RECV_ID_QUIT == value(RecvId::Quit));
static_assert(SIMCONNECT_RECV_ID_EVENT == value(RecvId::Event));
static_assert(SIMCONNECT_RECV_ID_SIMOBJECT_DATA == value(RecvId::SimObjectData));
static_assert(SIMCONNECT_RECV_ID_EVENT_FILENAME == value(RecvId::EventFilename));
static_assert(SIMCONNECT_RECV_ID_SYSTEM_STATE == value(RecvId::SystemState));
static_assert(SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENTS == value(RecvId::EnumerateInputEvents));

static_assert(SIMCONNECT_EXCEPTION_ERROR == value(Exception::Error));
static_assert(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED == value(Exception::NameUnrecognized));
static_assert(SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE == value(Exception::InvalidDataType));
static_assert(SIMCONNECT_EXCEPTION_DEFINITION_ERROR == value(Exception::DefinitionError));
static_assert(SIMCONNECT_EXCEPTION_OBJECT_SCHEDULE == value(Exception::ObjectSchedule));

static_assert(SIMCONNECT_DATATYPE_INT32 == value(DataType::Int32));
static_assert(SIMCONNECT_DATATYPE_INT64 == value(DataType::Int64));
static_assert(SIMCONNECT_DATATYPE_FLOAT32 == value(DataType::Float32));
static_assert(SIMCONNECT_DATATYPE_FLOAT64 == value(DataType::Float64));
static_assert(SIMCONNECT_DATATYPE_STRING8 == value(DataType::String8));
static_assert(SIMCONNECT_DATATYPE_STRING256 == value(DataType::String256));
static_assert(SIMCONNECT_DATATYPE_STRING260 == value(DataType::String260));
static_assert(SIMCONNECT_DATATYPE_STRINGV == value(DataType::StringV));
static_assert(SIMCONNECT_DATA_SET_FLAG_TAGGED == scproto::kDataSetFlagTagged);

static_assert(SIMCONNECT_PERIOD_NEVER == value(Period::Never));
static_assert(SIMCONNECT_PERIOD_ONCE == value(Period::Once));
static_assert(SIMCONNECT_PERIOD_SIM_FRAME == value(Period::SimFrame));
static_assert(SIMCONNECT_PERIOD_SECOND == value(Period::Second));
static_assert(SIMCONNECT_DATA_REQUEST_FLAG_CHANGED == scproto::kRequestFlagChanged);
static_assert(SIMCONNECT_DATA_REQUEST_FLAG_TAGGED == scproto::kRequestFlagTagged);

static_assert(SIMCONNECT_UNUSED == scproto::kUnused);
static_assert(SIMCONNECT_OBJECT_ID_USER == scproto::kObjectIdUser);
static_assert(SIMCONNECT_OPEN_CONFIGINDEX_LOCAL == scproto::kOpenConfigIndexLocal);
static_assert(SIMCONNECT_GROUP_PRIORITY_HIGHEST == scproto::kGroupPriorityHighest);
static_assert(SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY == scproto::kEventFlagGroupIdIsPriority);

// The records as the callback sees them are the wire's records.
static_assert(sizeof(SIMCONNECT_RECV_OPEN) == scproto::kRecvOpenSize);
static_assert(sizeof(SIMCONNECT_RECV_EXCEPTION) == scproto::kRecvExceptionSize);
static_assert(sizeof(SIMCONNECT_RECV_QUIT) == scproto::kRecvQuitSize);
static_assert(sizeof(SIMCONNECT_RECV_EVENT) == scproto::kRecvEventSize);
// dwData, the last member, is the first word of the data block.
static_assert(sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD) == scproto::kRecvSimObjectDataHeaderSize);
static_assert(sizeof(SIMCONNECT_RECV_EVENT_FILENAME) == scproto::kRecvEventFilenameSize);
static_assert(sizeof(SIMCONNECT_RECV_SYSTEM_STATE) == scproto::kRecvSystemStateSize);
static_assert(sizeof(SIMCONNECT_RECV_LIST_TEMPLATE) == scproto::kRecvListHeaderSize);
static_assert(sizeof(SIMCONNECT_INPUT_EVENT_DESCRIPTOR) == scproto::kInputEventDescriptorSize);
static_assert(sizeof(SIMCONNECT_RECV_ENUMERATE_INPUT_EVENTS) ==
              scproto::kRecvListHeaderSize + scproto::kInputEventDescriptorSize);
static_assert(sizeof(SIMCONNECT_INPUT_EVENT_DESCRIPTOR::Name) == scproto::kInputEventNameSize);
static_assert(sizeof(SIMCONNECT_RECV_EVENT_FILENAME::szFileName) == scproto::kPathFieldSize);

// --- Client data
static_assert(SIMCONNECT_RECV_ID_CLIENT_DATA == value(RecvId::ClientData));
static_assert(SIMCONNECT_CLIENT_DATA_PERIOD_NEVER == value(scproto::ClientDataPeriod::Never));
static_assert(SIMCONNECT_CLIENT_DATA_PERIOD_ONCE == value(scproto::ClientDataPeriod::Once));
static_assert(SIMCONNECT_CLIENT_DATA_PERIOD_VISUAL_FRAME == value(scproto::ClientDataPeriod::VisualFrame));
static_assert(SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET == value(scproto::ClientDataPeriod::OnSet));
static_assert(SIMCONNECT_CLIENT_DATA_PERIOD_SECOND == value(scproto::ClientDataPeriod::Second));
static_assert(SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED == scproto::kClientDataRequestFlagChanged);
static_assert(SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_TAGGED == scproto::kClientDataRequestFlagTagged);
static_assert(SIMCONNECT_CLIENT_DATA_SET_FLAG_TAGGED == scproto::kClientDataSetFlagTagged);
static_assert(SIMCONNECT_CREATE_CLIENT_DATA_FLAG_READ_ONLY == scproto::kCreateClientDataFlagReadOnly);
static_assert(SIMCONNECT_CLIENTDATA_MAX_SIZE == scproto::kClientDataMaxSize);
static_assert(SIMCONNECT_CLIENTDATAOFFSET_AUTO == scproto::kClientDataOffsetAuto);
static_assert(SIMCONNECT_CLIENTDATATYPE_INT8 == value(scproto::ClientDataType::Int8));
static_assert(SIMCONNECT_CLIENTDATATYPE_INT16 == value(scproto::ClientDataType::Int16));
static_assert(SIMCONNECT_CLIENTDATATYPE_INT32 == value(scproto::ClientDataType::Int32));
static_assert(SIMCONNECT_CLIENTDATATYPE_INT64 == value(scproto::ClientDataType::Int64));
static_assert(SIMCONNECT_CLIENTDATATYPE_FLOAT32 == value(scproto::ClientDataType::Float32));
static_assert(SIMCONNECT_CLIENTDATATYPE_FLOAT64 == value(scproto::ClientDataType::Float64));
static_assert(sizeof(SIMCONNECT_RECV_CLIENT_DATA) == sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA));

}  // namespace
