// The bytes our client puts on the wire for the calls the panel program
// makes, checked against node-simconnect's captured packets (whose send IDs
// start at 0 where ours start at 1), and the handle rules.
#include "client_fixture.h"
#include "mini_json.h"

namespace {

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::vector<Bytes> capturedKittyHawkPackets() {
    const minijson::Value root = minijson::parseFile(VECTORS_FILE);
    std::vector<Bytes> packets;
    for (const auto& v : root["clientToServer"].items) {
        packets.push_back(fromHex(v["hex"].text));
    }
    return packets;
}

TEST_F(ClientTest, CallsProduceTheCapturedBytesWithSendIdsFromOne) {
    std::vector<Bytes> expected = capturedKittyHawkPackets();
    ASSERT_EQ(expected.size(), 8u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i][12] = static_cast<std::uint8_t>(i + 1);  // send ID, low byte
    }

    TestServer server;
    writeCfg(cwd_, ipv4Section("SimConnect", server.port()));
    server.serveOpen();
    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(h, 12, "COM_RADIO_WHOLE_INC"), S_OK);
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(h, 63), S_OK);  // the header's default name ""
    EXPECT_EQ(SimConnect_AddToDataDefinition(h, 0, "COM STANDBY FREQUENCY:1", "MHz", SIMCONNECT_DATATYPE_FLOAT64, 0.0f,
                                             SIMCONNECT_UNUSED),
              S_OK);
    EXPECT_EQ(SimConnect_AddToDataDefinition(h, 1, "TRANSPONDER CODE:1", "BCO16", SIMCONNECT_DATATYPE_INT32, 0.0f,
                                             SIMCONNECT_UNUSED),
              S_OK);
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(h, 0, 0, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_SIM_FRAME), S_OK);
    EXPECT_EQ(
        SimConnect_TransmitClientEvent(h, SIMCONNECT_OBJECT_ID_USER, 2, 0x11345, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                       SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY),
        S_OK);
    const std::int32_t vertical_speed = -500;
    EXPECT_EQ(
        SimConnect_TransmitClientEvent(h, SIMCONNECT_OBJECT_ID_USER, 2, static_cast<DWORD>(vertical_speed),
                                       SIMCONNECT_GROUP_PRIORITY_HIGHEST, SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY),
        S_OK);
    // The ID the last packet went out with, which an exception would name.
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &last_sent), S_OK);
    EXPECT_EQ(last_sent, expected.size());

    ASSERT_TRUE(server.accept());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(server.receive(expected[i].size()), expected[i]) << "packet " << i << " (send ID " << i + 1 << ")";
    }
    // Close sends nothing: the server sees a plain end of stream.
    EXPECT_EQ(SimConnect_Close(h), S_OK);
    EXPECT_TRUE(server.clientClosed());
}

TEST_F(ClientTest, NullAndClosedHandlesAreRefused) {
    Received got;
    EXPECT_EQ(SimConnect_Open(nullptr, "Request Data", nullptr, 0, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(SimConnect_Close(nullptr), E_INVALIDARG);
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(nullptr, 1, "AP_MASTER"), E_INVALIDARG);
    EXPECT_EQ(SimConnect_AddToDataDefinition(nullptr, 0, "X", "Y"), E_INVALIDARG);
    EXPECT_EQ(SimConnect_RequestDataOnSimObject(nullptr, 0, 0, 0, SIMCONNECT_PERIOD_SIM_FRAME), E_INVALIDARG);
    EXPECT_EQ(SimConnect_TransmitClientEvent(nullptr, 0, 1, 0, 1, 0x10), E_INVALIDARG);
    EXPECT_EQ(SimConnect_CallDispatch(nullptr, &Received::collect, &got), E_INVALIDARG);
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(nullptr, &last_sent), E_INVALIDARG);
    EXPECT_NE(std::string(SimConnectNet_LastError()).find("null handle"), std::string::npos);

    TestServer server;
    HANDLE h = openTo(server);
    EXPECT_EQ(SimConnect_CallDispatch(h, nullptr, nullptr), E_INVALIDARG);
    ASSERT_EQ(SimConnect_Close(h), S_OK);
    // The same pointer after Close: refused, never dereferenced.
    EXPECT_EQ(SimConnect_TransmitClientEvent(h, 0, 1, 0, 1, 0x10), E_FAIL);
    EXPECT_EQ(SimConnect_CallDispatch(h, &Received::collect, &got), E_FAIL);
    EXPECT_EQ(SimConnect_Close(h), E_FAIL);
    int not_a_handle = 0;
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(&not_a_handle, 1, "AP_MASTER"), E_FAIL);
    EXPECT_TRUE(got.records.empty());
}

TEST_F(ClientTest, NamesLongerThanTheFieldAreCut) {
    TestServer server;
    HANDLE h = openTo(server);
    const std::string long_name(400, 'Q');
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(h, 5, long_name.c_str()), S_OK);
    const Bytes packet = server.receive(scproto::kMapClientEventPacketSize);
    scproto::MapClientEventPacket p;
    ASSERT_FALSE(scproto::decode(packet, p));
    EXPECT_EQ(p.event_name, long_name.substr(0, 255));
    EXPECT_EQ(packet.back(), 0);
    SimConnect_Close(h);
}

}  // namespace
