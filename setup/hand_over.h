// One file to start on every Windows: under WOW64 on an x64 machine the
// 32-bit setup hands the run over to its 64-bit twin, since a device
// installation program must run natively there.
#ifndef SETUP_HAND_OVER_H
#define SETUP_HAND_OVER_H

#include "platform/platform_layer.h"

// Starts the 64-bit file beside the program, named after it with "64" before
// the extension (setup.exe -> setup64.exe, ssetup.exe -> ssetup64.exe), with
// the same arguments, and waits for it. True when it ran: `exitCode` is its
// exit code. False when this process is to do the run itself.
bool HandOverToNativeSetup(LPCSTR arguments, DWORD* exitCode);

// Whether this process runs under WOW64, and then the machine Windows runs on.
extern bool g_bWow64;
extern USHORT g_nNativeMachine;

// Why a 32-bit file under WOW64 on an x64 machine does its own run; empty
// everywhere else.
const int kHandOverFailureSize = MAX_PATH + 64;
extern char g_szHandOverFailure[kHandOverFailureSize];

#endif  // SETUP_HAND_OVER_H
