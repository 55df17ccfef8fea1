#include "simconnect/send_event.h"

constinit SentEventObserver sentEventObserver = nullptr;

void transmitEvent(HANDLE connection, SIMCONNECT_CLIENT_EVENT_ID event, DWORD data) {
    // With GROUPID_IS_PRIORITY the group argument is read as a priority, so
    // no notification group has to be created for the events we send.
    SimConnect_TransmitClientEvent(connection, SIMCONNECT_OBJECT_ID_USER, event, data,
                                   SIMCONNECT_GROUP_PRIORITY_HIGHEST, SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
}

void sendEvent(HANDLE connection, SIMCONNECT_CLIENT_EVENT_ID event, DWORD data) {
    transmitEvent(connection, event, data);
    if (sentEventObserver != nullptr) {
        sentEventObserver(event, data);
    }
}
