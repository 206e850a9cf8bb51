// The program's entry into the setup logic.
#ifndef SETUP_WIN_MAIN_H
#define SETUP_WIN_MAIN_H

#include "platform/win_types.h"

// The process command line without the program's own name and the blanks
// and control characters after it.
extern "C" LPSTR SkipProgramName(LPSTR commandLine);

// Returns the process exit code: -1, 0 or 1.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);

#endif  // SETUP_WIN_MAIN_H
