// The one way program code reaches the SimConnect API.
//
// The SDK's SimConnect.h relies on the Windows types (DWORD, HANDLE, HRESULT,
// CALLBACK ...) being declared already, so on Windows <windows.h> must come
// first. Elsewhere the stand-in header declares those types itself.
#ifndef MSFS_PANEL_SIMCONNECT_API_H
#define MSFS_PANEL_SIMCONNECT_API_H

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <SimConnect.h>

#endif
