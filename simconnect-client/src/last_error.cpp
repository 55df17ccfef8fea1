#include "last_error.h"

#include "simconnect_net.h"

#include <cstdarg>
#include <cstdio>

namespace scnet {
namespace {

thread_local char last_error[512] = "no error";

}  // namespace

void setLastError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(last_error, sizeof last_error, format, args);
    va_end(args);
}

}  // namespace scnet

extern "C" const char* SimConnectNet_LastError(void) { return scnet::last_error; }
