// The calls aircraft profiles make (system events and state, input events,
// setting and clearing data definitions): the bytes our client puts on the
// wire against node-simconnect's (tests/protocol/data/profile-vectors.json,
// whose send IDs start after an Open of ID 0 where ours start after 1), the
// records as the callback sees them through the SDK's structs, and the
// arguments refused before anything is sent.
#include "client_fixture.h"
#include "mini_json.h"

#include <cstring>

namespace {

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::vector<Bytes> profileVectors(const char* direction) {
    const minijson::Value root = minijson::parseFile(PROFILE_VECTORS_FILE);
    std::vector<Bytes> out;
    for (const auto& v : root[direction].items) {
        out.push_back(fromHex(v["hex"].text));
    }
    return out;
}

TEST_F(ClientTest, ProfileCallsProduceNodeSimconnectsBytes) {
    std::vector<Bytes> expected = profileVectors("clientToServer");
    ASSERT_EQ(expected.size(), 13u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i][12] = static_cast<std::uint8_t>(i + 2);  // send ID, low byte: Open was 1
    }

    TestServer server;
    HANDLE h = openTo(server);
    EXPECT_EQ(SimConnect_SubscribeToSystemEvent(h, 1, "AircraftLoaded"), S_OK);
    EXPECT_EQ(SimConnect_UnsubscribeFromSystemEvent(h, 1), S_OK);
    EXPECT_EQ(SimConnect_RequestSystemState(h, 7, "AircraftLoaded"), S_OK);
    EXPECT_EQ(SimConnect_AddToDataDefinition(h, 3, "TITLE", nullptr, SIMCONNECT_DATATYPE_STRING256), S_OK);
    EXPECT_EQ(SimConnect_AddToDataDefinition(h, 3, "L:E_FCU_ALTITUDE", "number"), S_OK);
    EXPECT_EQ(SimConnect_AddToDataDefinition(h, 3, "ATC MODEL", nullptr, SIMCONNECT_DATATYPE_STRINGV), S_OK);
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(h, 4, 3, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_ONCE,
                                                SIMCONNECT_DATA_REQUEST_FLAG_CHANGED),
              S_OK);
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(h, 4, 3, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_NEVER), S_OK);
#pragma pack(push, 1)
    struct {
        double altitude = 12300;
        std::int32_t step = -3;
    } block;
#pragma pack(pop)
    EXPECT_EQ(SimConnect_SetDataOnSimObject(h, 5, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_DATA_SET_FLAG_DEFAULT, 1,
                                            sizeof block, &block),
              S_OK);
    EXPECT_EQ(SimConnect_ClearDataDefinition(h, 5), S_OK);
    EXPECT_EQ(SimConnect_EnumerateInputEvents(h, 9), S_OK);
    double one = 1;
    EXPECT_EQ(SimConnect_SetInputEvent(h, 0x9E3779B97F4A7C15, sizeof one, &one), S_OK);
    char on[] = "ON";  // node-simconnect sends a string without its NUL
    EXPECT_EQ(SimConnect_SetInputEvent(h, 0x100000002, 2, on), S_OK);
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &last_sent), S_OK);
    EXPECT_EQ(last_sent, expected.size() + 1);

    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(server.receive(expected[i].size()), expected[i]) << "packet " << i << " (send ID " << i + 2 << ")";
    }
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(ClientTest, ProfileRecordsReadThroughTheSdkStructs) {
    const std::vector<Bytes> records = profileVectors("serverToClient");
    ASSERT_EQ(records.size(), 4u);
    TestServer server;
    HANDLE h = openTo(server);
    server.send(concat(records));
    Received got;
    ASSERT_EQ(dispatchUntil(h, got, [&] { return got.records.size() == 1 + records.size(); }), S_OK);
    ASSERT_EQ(got.records.size(), 1 + records.size());

    const auto* loaded = reinterpret_cast<const SIMCONNECT_RECV_EVENT_FILENAME*>(got.records[1].data());
    ASSERT_EQ(loaded->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_EVENT_FILENAME));
    EXPECT_EQ(loaded->uEventID, 1u);
    EXPECT_EQ(loaded->uGroupID, DWORD{SIMCONNECT_RECV_EVENT::UNKNOWN_GROUP});
    EXPECT_STREQ(loaded->szFileName, "SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg");

    const auto* state = reinterpret_cast<const SIMCONNECT_RECV_SYSTEM_STATE*>(got.records[2].data());
    ASSERT_EQ(state->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_SYSTEM_STATE));
    EXPECT_EQ(state->dwRequestID, 7u);
    EXPECT_STREQ(state->szString, loaded->szFileName);

    const auto* list = reinterpret_cast<const SIMCONNECT_RECV_ENUMERATE_INPUT_EVENTS*>(got.records[3].data());
    ASSERT_EQ(list->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_ENUMERATE_INPUT_EVENTS));
    EXPECT_EQ(list->dwRequestID, 9u);
    ASSERT_EQ(list->dwArraySize, 2u);
    EXPECT_EQ(got.sizes[3], sizeof(SIMCONNECT_RECV_LIST_TEMPLATE) + 2 * sizeof(SIMCONNECT_INPUT_EVENT_DESCRIPTOR));
    EXPECT_EQ(list->dwEntryNumber, 0u);
    EXPECT_EQ(list->dwOutOf, 1u);
    EXPECT_STREQ(list->rgData[0].Name, "AUTOPILOT_AP1");
    EXPECT_EQ(list->rgData[0].Hash, 0x9E3779B97F4A7C15u);
    EXPECT_EQ(list->rgData[0].eType, SIMCONNECT_DATATYPE_FLOAT64);
    const SIMCONNECT_INPUT_EVENT_DESCRIPTOR* second = &list->rgData[0] + 1;
    EXPECT_STREQ(second->Name, "INSTRUMENT_BARO_KNOB");
    EXPECT_EQ(second->Hash, 0x100000002u);

    // A string datum is its fixed width in the block, straight after the header.
    const auto* data = reinterpret_cast<const SIMCONNECT_RECV_SIMOBJECT_DATA*>(got.records[4].data());
    ASSERT_EQ(data->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_SIMOBJECT_DATA));
    EXPECT_STREQ(reinterpret_cast<const char*>(&data->dwData), "FlyByWire A320neo (LEAP)");
    double altitude = 0;
    std::memcpy(&altitude, reinterpret_cast<const char*>(&data->dwData) + 256, sizeof altitude);
    EXPECT_EQ(altitude, 5000.0);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(ClientTest, ProfileCallsRefuseBadArgumentsAndSendNothing) {
    double value = 1;
    EXPECT_EQ(SimConnect_SubscribeToSystemEvent(nullptr, 1, "AircraftLoaded"), E_INVALIDARG);
    EXPECT_EQ(SimConnect_UnsubscribeFromSystemEvent(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(SimConnect_RequestSystemState(nullptr, 1, "AircraftLoaded"), E_INVALIDARG);
    EXPECT_EQ(SimConnect_ClearDataDefinition(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(nullptr, 1, 0, 0, 1, 8, &value), E_INVALIDARG);
    EXPECT_EQ(SimConnect_EnumerateInputEvents(nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(SimConnect_SetInputEvent(nullptr, 1, 8, &value), E_INVALIDARG);

    TestServer server;
    HANDLE h = openTo(server);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(h, 1, 0, 0, 1, 8, nullptr), E_INVALIDARG);
    EXPECT_NE(std::string(SimConnectNet_LastError()).find("null data"), std::string::npos);
    // More than one packet carries, also when ArrayCount times the unit
    // size overflows 32 bits.
    EXPECT_EQ(SimConnect_SetDataOnSimObject(h, 1, 0, 0, 1, 70000, &value), E_INVALIDARG);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(h, 1, 0, 0, 0x10000, 0x10000, &value), E_INVALIDARG);
    EXPECT_NE(std::string(SimConnectNet_LastError()).find("more than"), std::string::npos);
    EXPECT_EQ(SimConnect_SetInputEvent(h, 1, 8, nullptr), E_INVALIDARG);
    EXPECT_EQ(SimConnect_SetInputEvent(h, 1, 70000, &value), E_INVALIDARG);
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &last_sent), S_OK);
    EXPECT_EQ(last_sent, 1u);  // only the Open went out

    // Null names go out as empty ones, as for the other calls.
    EXPECT_EQ(SimConnect_RequestSystemState(h, 2, nullptr), S_OK);
    scproto::RequestSystemStatePacket p;
    ASSERT_FALSE(scproto::decode(server.receive(scproto::kRequestSystemStatePacketSize), p));
    EXPECT_EQ(p.request_id, 2u);
    EXPECT_EQ(p.state, "");
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

}  // namespace
