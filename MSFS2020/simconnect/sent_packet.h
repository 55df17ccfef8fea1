#ifndef MSFS_PANEL_SENT_PACKET_H
#define MSFS_PANEL_SENT_PACKET_H

#include "simconnect/simconnect_api.h"

// The send ID of the packet a call just sent, which the simulator's
// exception records name it by; 0, which no packet has, when the call
// returned `result` < 0: it sent nothing, and the last ID is another call's.
inline DWORD sentPacketId(HANDLE connection, HRESULT result) {
    DWORD id = 0;
    if (result < 0 || SimConnect_GetLastSentPacketID(connection, &id) < 0) {
        return 0;
    }
    return id;
}

#endif
