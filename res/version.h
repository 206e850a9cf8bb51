// The program's version: the version block carries it, and so does the setup log.
#ifndef RES_VERSION_H
#define RES_VERSION_H

#define SETUP_VERSION_NUMBERS 1, 0, 0, 0
#define SETUP_VERSION_TEXT "1.0.0.0"

// Which of the files this is, as the setup log's header names it.
#if defined(__aarch64__)
#define SETUP_BUILD_TEXT "ARM64"
#elif defined(_WIN64) || defined(__LP64__)
#define SETUP_BUILD_TEXT "64-bit"
#else
#define SETUP_BUILD_TEXT "32-bit"
#endif

#endif  // RES_VERSION_H
