// Panel reports of any length and content, in any sequence, through the
// decoder, the loop's hand-over and the dispatcher into the real simulator
// interface: no crash, no read past a buffer, and never more events than the
// report's deltas and buttons allow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <hidapi.h>

#include "driver/main_loop.h"
#include "simulator/flight_sim_interface_msfs.h"

namespace {

std::size_t transmitted = 0;

}  // namespace

// SimConnect stands in for the simulator here: only transmissions are counted.
SIMCONNECTAPI SimConnect_Open(HANDLE*, LPCSTR, HWND, DWORD, HANDLE, DWORD) { return E_FAIL; }
SIMCONNECTAPI SimConnect_Close(HANDLE) { return S_OK; }
SIMCONNECTAPI SimConnect_MapClientEventToSimEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID, const char*) { return S_OK; }
SIMCONNECTAPI SimConnect_AddToDataDefinition(HANDLE, SIMCONNECT_DATA_DEFINITION_ID, const char*, const char*,
                                             SIMCONNECT_DATATYPE, float, DWORD) {
    return S_OK;
}
SIMCONNECTAPI SimConnect_RequestDataOnSimObject(HANDLE, SIMCONNECT_DATA_REQUEST_ID, SIMCONNECT_DATA_DEFINITION_ID,
                                                SIMCONNECT_OBJECT_ID, SIMCONNECT_PERIOD, SIMCONNECT_DATA_REQUEST_FLAG,
                                                DWORD, DWORD, DWORD) {
    return S_OK;
}
SIMCONNECTAPI SimConnect_CallDispatch(HANDLE, DispatchProc, void*) { return S_OK; }
SIMCONNECTAPI SimConnect_GetLastSentPacketID(HANDLE, DWORD* id) {
    *id = 0;
    return S_OK;
}
SIMCONNECTAPI SimConnect_TransmitClientEvent(HANDLE, SIMCONNECT_OBJECT_ID, SIMCONNECT_CLIENT_EVENT_ID, DWORD,
                                             SIMCONNECT_NOTIFICATION_GROUP_ID, SIMCONNECT_EVENT_FLAG) {
    ++transmitted;
    return S_OK;
}

// The profiles' and the MobiFlight channel's calls: reports reach them only
// once a connection has set them up, which never happens here.
SIMCONNECTAPI SimConnect_ClearDataDefinition(HANDLE, SIMCONNECT_DATA_DEFINITION_ID) { return E_FAIL; }
SIMCONNECTAPI SimConnect_SetDataOnSimObject(HANDLE, SIMCONNECT_DATA_DEFINITION_ID, SIMCONNECT_OBJECT_ID,
                                            SIMCONNECT_DATA_SET_FLAG, DWORD, DWORD, void*) {
    return E_FAIL;
}
SIMCONNECTAPI SimConnect_SubscribeToSystemEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID, const char*) { return E_FAIL; }
SIMCONNECTAPI SimConnect_RequestSystemState(HANDLE, SIMCONNECT_DATA_REQUEST_ID, const char*) { return E_FAIL; }
SIMCONNECTAPI SimConnect_EnumerateInputEvents(HANDLE, SIMCONNECT_DATA_REQUEST_ID) { return E_FAIL; }
SIMCONNECTAPI SimConnect_SetInputEvent(HANDLE, UINT64, DWORD, void*) { return E_FAIL; }
SIMCONNECTAPI SimConnect_MapClientDataNameToID(HANDLE, const char*, SIMCONNECT_CLIENT_DATA_ID) { return E_FAIL; }
SIMCONNECTAPI SimConnect_AddToClientDataDefinition(HANDLE, SIMCONNECT_CLIENT_DATA_DEFINITION_ID, DWORD, DWORD, float,
                                                   DWORD) {
    return E_FAIL;
}
SIMCONNECTAPI SimConnect_RequestClientData(HANDLE, SIMCONNECT_CLIENT_DATA_ID, SIMCONNECT_DATA_REQUEST_ID,
                                           SIMCONNECT_CLIENT_DATA_DEFINITION_ID, SIMCONNECT_CLIENT_DATA_PERIOD,
                                           SIMCONNECT_CLIENT_DATA_REQUEST_FLAG, DWORD, DWORD, DWORD) {
    return E_FAIL;
}
SIMCONNECTAPI SimConnect_SetClientData(HANDLE, SIMCONNECT_CLIENT_DATA_ID, SIMCONNECT_CLIENT_DATA_DEFINITION_ID,
                                       SIMCONNECT_CLIENT_DATA_SET_FLAG, DWORD, DWORD, void*) {
    return E_FAIL;
}

// The loop's panel calls are not reached from acceptReport; these keep the
// library linkable without a device.
extern "C" {
hid_device* hid_open(unsigned short, unsigned short, const wchar_t*) { return nullptr; }
void hid_close(hid_device*) {}
int hid_set_nonblocking(hid_device*, int) { return -1; }
int hid_read(hid_device*, unsigned char*, size_t) { return -1; }
int hid_read_timeout(hid_device*, unsigned char*, size_t, int) { return -1; }
hid_device_info* hid_enumerate(unsigned short, unsigned short) { return nullptr; }
void hid_free_enumeration(hid_device_info*) {}
const wchar_t* hid_error(hid_device*) { return L""; }
int hid_write(hid_device*, const unsigned char*, size_t) { return -1; }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static HANDLE handle = nullptr;
    FlightSimInterfaceMSFS sim;
    sim.connection = &handle;
    PanelState panel{nullptr, false, &sim};

    // Each read: one byte giving its length (0 to 15, like a short, whole or
    // oversized read), then that many bytes, in a buffer exactly that long.
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t length = data[offset++] % 16;
        if (length > size - offset) {
            break;
        }
        unsigned char* buffer = static_cast<unsigned char*>(std::malloc(length == 0 ? 1 : length));
        std::memcpy(buffer, data + offset, length);
        offset += length;

        const std::optional<PanelReport> report = decodeReport(buffer, length);
        const std::uint32_t before = panel.previous_report.buttons;
        transmitted = 0;
        if (report) {
            acceptReport(panel, *report);
            // One event per COM detent, at most four for any other knob
            // operation, at most two per newly pressed button.
            const std::size_t knobs = static_cast<std::size_t>(std::abs(int{report->outer_delta})) +
                                      static_cast<std::size_t>(std::abs(int{report->inner_delta})) + 4;
            const std::uint32_t pressed = report->buttons & ~before;
            const std::size_t keys = 2 * static_cast<std::size_t>(__builtin_popcount(pressed));
            if (transmitted > knobs + keys) {
                std::abort();
            }
        } else if (length >= kInputReportSize) {
            std::abort();  // a whole report must decode
        }
        std::free(buffer);
    }
    return 0;
}
