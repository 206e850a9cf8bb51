// Helpers shared by the files of the simulated machine; not for tests.
#ifndef PLATFORM_SIM_SIM_INTERNAL_H
#define PLATFORM_SIM_SIM_INTERNAL_H

#include <stdint.h>

#include <string>

#include "platform/sim/sim_machine.h"

namespace sim {

// How the call log shows a string argument and a number.
inline std::string Text(LPCSTR text) { return text ? "\"" + std::string(text) + "\"" : "null"; }
inline std::string Number(uint64_t value) { return std::to_string(value); }

inline bool IsAbsolute(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || path.compare(0, 2, "\\\\") == 0;
}

// Makes `platform` (a machine, or a gate in front of one) the process's.
void ActivatePlatform(PlatformLayer* platform);
bool IsActivePlatform(const PlatformLayer* platform);

// The DACL of a self-relative security descriptor, as bytes; empty for none
// (then *present says whether it is a null DACL or none at all).
std::string DaclOf(const void* descriptor, bool* present);

// `acl` with `aces` (bytes of whole entries, `count` of them) after its own.
std::string WithInherited(const std::string& acl, const std::pair<std::string, int>& aces);

}  // namespace sim

#endif  // PLATFORM_SIM_SIM_INTERNAL_H
