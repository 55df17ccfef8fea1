// Extras of our network SimConnect that the SDK's library does not have.
// Only code built against this client (not the MSFS SDK) may include it.
#ifndef SIMCONNECT_NET_EXTRAS_H
#define SIMCONNECT_NET_EXTRAS_H

#include <stdint.h>

// What every call on a connection returns once the connection to the
// simulator is lost (EOF, reset, corrupt stream), as the SDK's library does
// for a dropped remote link: NTSTATUS STATUS_REMOTE_DISCONNECT.
#define SIMCONNECT_NET_REMOTE_DISCONNECT ((int32_t)0xC000013C)

// A one-line description of the last failure of this library on the calling
// thread, naming what failed and where, e.g.
//   connect(127.0.0.1:500): Connection refused (no SimConnect.cfg found; using the default)
//   connection to 192.168.1.20:500 lost: closed by the simulator
// "no error" before any failure. The text stays valid until the next call
// into this library on the same thread.
extern "C" const char* SimConnectNet_LastError(void);

#endif
