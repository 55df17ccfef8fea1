#ifndef MSFS_PANEL_EXCEPTION_NAMES_H
#define MSFS_PANEL_EXCEPTION_NAMES_H

#include "simconnect/simconnect_api.h"

// The name of a SIMCONNECT_EXCEPTION code without its prefix, as SimConnect's
// documentation spells it ("NAME_UNRECOGNIZED"); null for a code it does not
// list.
const char* exceptionName(DWORD code);

#endif
