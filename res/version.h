// The program's version: the version block carries it, and so does the setup log.
#ifndef RES_VERSION_H
#define RES_VERSION_H

#define SETUP_VERSION_NUMBERS 1, 0, 0, 0
#define SETUP_VERSION_TEXT "1.0.0.0"

#endif  // RES_VERSION_H
