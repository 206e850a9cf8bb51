// One file to start on every Windows: under WOW64 on a 64-bit machine the
// 32-bit setup hands the run over to the native twin it carries, since a
// device installation program must run natively there.
#ifndef SETUP_HAND_OVER_H
#define SETUP_HAND_OVER_H

#include "platform/platform_layer.h"

// Resources of the 32-bit file: the x64 and the ARM64 file of the same build.
const WORD kTwinX64Resource = 201;
const WORD kTwinArm64Resource = 202;

// Under WOW64 on x64 (or ARM64) writes the twin for that machine into the
// company folder under a name of this run's own, starts it with the same
// arguments and this file's path in its environment, waits for it and
// deletes it. True when it ran: `exitCode` is its exit code. False when this
// process is to do the run itself.
bool HandOverToNativeSetup(LPCSTR arguments, DWORD* exitCode);

// The environment variable that tells a twin the program the user started:
// its path stands for the twin's own (packages, silence by name, the log).
// Never a switch: the arguments are passed on exactly as they came.
extern const char kOriginVariable[];

// Whether this process runs under WOW64, and the machine Windows runs on
// (IMAGE_FILE_MACHINE_UNKNOWN where Windows does not say).
extern bool g_bWow64;
extern USHORT g_nNativeMachine;

// Whether this is the x64 file running emulated on ARM64 Windows (11), which
// IsWow64Process2 does not count as WOW64.
bool RunsEmulated();

// Why a 32-bit file under WOW64 does its own run; empty everywhere else.
const int kHandOverFailureSize = 1024;  // what FormatInto may write
extern char g_szHandOverFailure[kHandOverFailureSize];

#endif  // SETUP_HAND_OVER_H
