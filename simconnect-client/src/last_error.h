#ifndef SIMCONNECT_NET_LAST_ERROR_H
#define SIMCONNECT_NET_LAST_ERROR_H

namespace scnet {

// Records the text returned by SimConnectNet_LastError. printf-style into a
// fixed thread-local buffer: no allocation, usable on every error path.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void setLastError(const char* format, ...);

}  // namespace scnet

#endif
