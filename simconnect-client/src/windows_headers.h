// <windows.h> as the client's Windows code wants it: without the min/max
// macros and the rarely used parts (among them the old winsock.h, so that
// socket_win32.cpp can bring winsock2.h). Nothing on other systems.
#ifndef SIMCONNECT_NET_WINDOWS_HEADERS_H
#define SIMCONNECT_NET_WINDOWS_HEADERS_H

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#endif
