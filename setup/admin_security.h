// Security descriptors that admit SYSTEM and Administrators alone, built as
// constants: the functions that build one from text are missing on NT 4.0.
#ifndef SETUP_ADMIN_SECURITY_H
#define SETUP_ADMIN_SECURITY_H

#include "platform/win_types.h"

// A self-relative descriptor with a DACL of two entries, each granting
// `rights` with the inheritance `aceFlags`: to SYSTEM (S-1-5-18) and to
// Administrators (S-1-5-32-544). Owned by Administrators where `owned`, else
// it names no owner (the maker's own).
struct AdminDescriptor {
  alignas(4) unsigned char bytes[88];
};

constexpr AdminDescriptor MakeAdminDescriptor(DWORD rights, BYTE aceFlags, WORD control,
                                              bool owned) {
  const unsigned char r0 = rights & 0xFF, r1 = (rights >> 8) & 0xFF, r2 = (rights >> 16) & 0xFF,
                      r3 = rights >> 24;
  return {{
      1, 0, static_cast<unsigned char>(control), static_cast<unsigned char>(control >> 8),
      static_cast<unsigned char>(owned ? 72 : 0), 0, 0, 0,  // the owner after the DACL
      0, 0, 0, 0,  0, 0, 0, 0,  // no group or SACL
      20, 0, 0, 0,  // the DACL follows the header
      2, 0, 52, 0, 2, 0, 0, 0,  // ACL revision 2, 52 bytes, two entries
      0, aceFlags, 20, 0, r0, r1, r2, r3,  // allowed, to:
      1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,  // S-1-5-18
      0, aceFlags, 24, 0, r0, r1, r2, r3,
      1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0,  // S-1-5-32-544
      1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0,  // owner: S-1-5-32-544
  }};
}

const WORD kDaclPresent = 0x0004;
const WORD kDaclProtected = 0x1000;  // nothing inherited from the parent
const WORD kSelfRelative = 0x8000;

#endif  // SETUP_ADMIN_SECURITY_H
