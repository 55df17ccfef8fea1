// Client data through our client: the calls put node-simconnect's bytes on
// the wire (its send IDs start at 0 where ours start at 1), a write no area
// can hold is refused before it is sent, and the records MSFS 2024 sends
// (version 6 in the header, "SunRise" in the Open) reach the callback as
// they came, the Open first.
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

template <typename Record>
Bytes version6(const Record& r) {
    Bytes out(scproto::kMaxPacketSize);
    out.resize(scproto::encode(out, scproto::kProtocolSunRise, r));
    return out;
}

TEST_F(ClientTest, ClientDataCallsProduceNodeSimconnectsBytes) {
    const minijson::Value root = minijson::parseFile(CLIENT_DATA_VECTORS_FILE);
    std::vector<Bytes> expected;
    for (const auto& v : root["clientToServer"].items) {
        expected.push_back(fromHex(v.str("hex")));
        expected.back()[12] += 1;  // send ID, low byte: ours count the Open as 1
    }
    ASSERT_EQ(expected.size(), 9u);

    TestServer server;
    HANDLE h = openTo(server);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(SimConnect_MapClientDataNameToID(h, "MobiFlight.Command", 0), S_OK);
    EXPECT_EQ(SimConnect_CreateClientData(h, 0, 1024, SIMCONNECT_CREATE_CLIENT_DATA_FLAG_DEFAULT), S_OK);
    EXPECT_EQ(
        SimConnect_CreateClientData(h, 3, SIMCONNECT_CLIENTDATA_MAX_SIZE, SIMCONNECT_CREATE_CLIENT_DATA_FLAG_READ_ONLY),
        S_OK);
    EXPECT_EQ(SimConnect_AddToClientDataDefinition(h, 1, 0, 1024), S_OK);  // the header's defaults
    EXPECT_EQ(SimConnect_AddToClientDataDefinition(h, 7, 12, SIMCONNECT_CLIENTDATATYPE_FLOAT32, 0.5f, 3), S_OK);
    EXPECT_EQ(SimConnect_ClearClientDataDefinition(h, 7), S_OK);
    EXPECT_EQ(SimConnect_RequestClientData(h, 2, 9, 1, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                                           SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED),
              S_OK);
    EXPECT_EQ(SimConnect_RequestClientData(h, 4, 10, 7, SIMCONNECT_CLIENT_DATA_PERIOD_SECOND,
                                           SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_DEFAULT, 1, 2, 3),
              S_OK);
    // node-simconnect writes 1 where dwReserved goes; ours sends it as given.
    char command[32] = "MF.SimVars.Set.(>H:AS530_Direct";
    EXPECT_EQ(SimConnect_SetClientData(h, 0, 1, SIMCONNECT_CLIENT_DATA_SET_FLAG_DEFAULT, 1, sizeof command, command),
              S_OK);
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &last_sent), S_OK);
    EXPECT_EQ(last_sent, 1 + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(server.receive(expected[i].size()), expected[i]) << "packet " << i;
    }
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(ClientTest, AWriteNoAreaCanHoldIsRefusedUnsent) {
    TestServer server;
    HANDLE h = openTo(server);
    ASSERT_NE(h, nullptr);
    std::vector<char> area(SIMCONNECT_CLIENTDATA_MAX_SIZE + 1, 'x');
    EXPECT_EQ(SimConnect_SetClientData(h, 0, 0, 0, 0, static_cast<DWORD>(area.size()), area.data()), E_INVALIDARG);
    EXPECT_NE(std::string(SimConnectNet_LastError()).find("8193 bytes"), std::string::npos)
        << SimConnectNet_LastError();
    EXPECT_EQ(SimConnect_SetClientData(h, 0, 0, 0, 0, 4, nullptr), E_INVALIDARG);
    DWORD last_sent = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &last_sent), S_OK);
    EXPECT_EQ(last_sent, 1u) << "only the Open went out";

    // A whole area is one packet, and the connection stays usable.
    EXPECT_EQ(SimConnect_SetClientData(h, 5, 6, 0, 0, SIMCONNECT_CLIENTDATA_MAX_SIZE, area.data()), S_OK);
    const Bytes packet = server.receive(scproto::kSetClientDataHeaderSize + SIMCONNECT_CLIENTDATA_MAX_SIZE);
    scproto::SetClientDataPacket p;
    ASSERT_FALSE(scproto::decode(packet, p));
    EXPECT_EQ(p.area_id, 5u);
    EXPECT_EQ(p.data.size(), SIMCONNECT_CLIENTDATA_MAX_SIZE);
    EXPECT_EQ(p.data.back(), 'x');
    EXPECT_EQ(SimConnect_SetClientData(nullptr, 0, 0, 0, 0, 4, area.data()), E_INVALIDARG);
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

TEST_F(ClientTest, Msfs2024RecordsWithVersion6AreDeliveredAsTheyCameOpenFirst) {
    TestServer server;
    writeCfg(cwd_, ipv4Section("SimConnect", server.port()));
    const std::uint8_t value[4] = {0x00, 0x00, 0xC0, 0x3F};  // float 1.5
    scproto::RecvClientData data;
    data.request_id = 10;
    data.define_id = 7;
    data.define_count = 1;
    data.data = value;
    const std::vector<Bytes> sent = {
        version6(scproto::sunRiseOpen()), version6(scproto::RecvEvent{.group_id = 1, .event_id = 12, .data = 7}),
        version6(data), version6(scproto::RecvException{.exception = 7, .send_id = 2, .index = 2})};
    server.serveOpen(TestServer::OnOpen::Instead, concat(sent));
    HANDLE h = nullptr;
    ASSERT_EQ(SimConnect_Open(&h, "Request Data", nullptr, 0, nullptr, 0), S_OK) << SimConnectNet_LastError();
    Received got;
    EXPECT_EQ(dispatchUntil(h, got, [&] { return got.records.size() >= sent.size(); }), S_OK);
    ASSERT_EQ(got.records, sent);

    // As a program reads them through the SDK's structs.
    const auto* open = reinterpret_cast<const SIMCONNECT_RECV_OPEN*>(got.records[0].data());
    EXPECT_EQ(open->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_OPEN));
    EXPECT_EQ(open->dwVersion, 6u);
    EXPECT_STREQ(open->szApplicationName, "SunRise");
    EXPECT_EQ(open->dwApplicationVersionMajor, 12u);
    EXPECT_EQ(open->dwApplicationVersionMinor, 1u);
    EXPECT_EQ(open->dwSimConnectVersionMajor, 12u);
    const auto* client_data = reinterpret_cast<const SIMCONNECT_RECV_CLIENT_DATA*>(got.records[2].data());
    EXPECT_EQ(client_data->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_CLIENT_DATA));
    EXPECT_EQ(client_data->dwRequestID, 10u);
    float f;
    std::memcpy(&f, &client_data->dwData, sizeof f);
    EXPECT_EQ(f, 1.5f);
    EXPECT_TRUE(server.accept());
    EXPECT_EQ(SimConnect_Close(h), S_OK);
}

}  // namespace
