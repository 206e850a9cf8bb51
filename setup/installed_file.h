// Copies into and deletes from the system's folders, whatever attributes the
// files there or their sources carry.
#ifndef SETUP_INSTALLED_FILE_H
#define SETUP_INSTALLED_FILE_H

// Copies `source` over `destination`. CopyFileA refuses to overwrite a
// read-only or hidden file and gives the copy the source's attributes, and
// every file on a CD is read-only: a destination that is read-only, hidden or
// system loses those attributes first, and the copy loses a read-only
// attribute it took from its source. False when the copy failed; the
// destination then keeps the attributes it had.
bool CopyOverwriting(const char* source, const char* destination);

// Copies `source` into the company folder as `destination`, never through a
// name that is there already: on NT a name planted before the folder was
// sealed may be a hard link to a file of the system, and CopyFileA would open
// it and write into that file. The copy is made under a new name and takes
// the old name's place, which leaves any file the old name also stood for
// untouched; a copy that fails leaves the old one as it was. Windows 9x has
// neither links nor MoveFileExA: there it is CopyOverwriting.
bool CopyFresh(const char* source, const char* destination);

// Deletes `path`, read-only or not (DeleteFileA refuses a read-only file).
// False when it stays, for example because a loaded driver holds it, with the
// attributes it had.
bool DeleteInstalledFile(const char* path);

// Deletes the company folder's copy at `path` as DeleteInstalledFile does,
// but on NT changes its attributes only where the name is its file's only
// one: a name planted before the folder was sealed may be a second name of a
// file of the system, whose attributes are its own (a read-only one stays).
bool DeleteFresh(const char* path);

// Whether two files hold the same bytes; false where either is missing or
// cannot be read, which (not a missing file) sets *unread where it is given.
bool SameFileBytes(const char* left, const char* right, bool* unread = nullptr);

#endif  // SETUP_INSTALLED_FILE_H
