// Extras of our network SimConnect that the SDK's library does not have.
// Only code built against this client (not the MSFS SDK) may include it.
#ifndef SIMCONNECT_NET_EXTRAS_H
#define SIMCONNECT_NET_EXTRAS_H

#include <stdint.h>

// What every call on a connection returns once the connection to the
// simulator is lost (EOF, reset, corrupt stream, or a simulator's computer
// that stopped answering: about 11 s without a word from it, or 10 s with
// sent data unacknowledged), as the SDK's library does for a dropped remote
// link: NTSTATUS STATUS_REMOTE_DISCONNECT.
#define SIMCONNECT_NET_REMOTE_DISCONNECT ((int32_t)0xC000013C)

// How this library's SimConnect_Open behaves over the network: it returns
// S_OK only once the simulator has answered with its RECV_OPEN, waiting at
// most 3 s for the connection and then 5 s for the answer. The RECV_OPEN
// and whatever came with it reach the first SimConnect_CallDispatch, in
// order. Otherwise it returns E_FAIL (E_INVALIDARG for a missing
// SimConnect.cfg section, E_ABORT when cancelled, see below).

// A one-line description of the last failure of this library on the calling
// thread, naming what failed and where, e.g.
//   connect(127.0.0.1:500): Connection refused (no SimConnect.cfg found; using the default)
//   no answer from 192.168.1.20:500 within 5 s (from [SimConnect] in /home/pi/SimConnect.cfg)
//   connection to 192.168.1.20:500 lost: closed by the simulator
// "no error" before any failure. The text stays valid until the next call
// into this library on the same thread.
extern "C" const char* SimConnectNet_LastError(void);

// Lets the program stop SimConnect_Open while it waits (for the host name's
// lookup, to connect, to send the Open, for the simulator's answer), and a
// call that waits to send because the simulator has stopped reading: the
// client calls `cancelled` at least every 100 ms and at once after a signal
// interrupts a wait, on the thread that waits. When it returns non-zero,
// Open closes what it opened and returns E_ABORT, and
// SimConnectNet_LastError() says what was cancelled, e.g.
// "connect(127.0.0.1:500): cancelled" or "getaddrinfo(simpc:500):
// cancelled"; a cancelled send returns E_ABORT ("sending to
// 192.168.1.20:500: cancelled") and leaves the connection lost (a packet may
// be half sent), as SIMCONNECT_NET_REMOTE_DISCONNECT from then on. Null, the
// default, means never. A signal alone never restarts a wait: each ends at
// its own time limit, whatever interrupts it (the lookup at 10 s: "no answer
// within 10 s").
extern "C" void SimConnectNet_SetCancelCheck(int (*cancelled)(void));

#endif
