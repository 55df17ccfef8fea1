#ifndef MSFS_PANEL_SEND_EVENT_H
#define MSFS_PANEL_SEND_EVENT_H

#include "simconnect/simconnect_api.h"

// Transmits one client event with a 32-bit data value to the user aircraft,
// at the highest priority. Negative values go out as their two's complement.
// The result is deliberately not returned: no caller could do anything useful
// with it, and server-side errors arrive later as exception records anyway.
void sendEvent(HANDLE connection, SIMCONNECT_CLIENT_EVENT_ID event, DWORD data);

// The same without telling sentEventObserver: for senders that log their
// events themselves (profiles, whose events the table does not name).
void transmitEvent(HANDLE connection, SIMCONNECT_CLIENT_EVENT_ID event, DWORD data);

// When set, told of every event sent (the verbose log); null otherwise.
using SentEventObserver = void (*)(SIMCONNECT_CLIENT_EVENT_ID event, DWORD data);
extern SentEventObserver sentEventObserver;

#endif
