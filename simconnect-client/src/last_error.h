#ifndef SIMCONNECT_NET_LAST_ERROR_H
#define SIMCONNECT_NET_LAST_ERROR_H

namespace scnet {

// Records the text returned by SimConnectNet_LastError. printf-style into a
// fixed thread-local buffer: no allocation, usable on every error path.
#if defined(__MINGW32__)
// libstdc++ on MinGW formats with MinGW's own C99 printf (%zu and all), not
// the system's, which is what "printf" stands for there.
__attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void setLastError(const char* format, ...);

}  // namespace scnet

#endif
