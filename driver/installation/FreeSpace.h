#ifndef STRATA_DRIVER_INSTALLATION_FREESPACE_H_
#define STRATA_DRIVER_INSTALLATION_FREESPACE_H_

#include <stdint.h>
#include <sys/types.h>

#include <string>

// Room on file systems, measured before an installation changes anything:
// what a tree takes and what a file system still offers. Nothing here
// changes a file.

// The bytes that the tree at path takes on a file system with blocks of
// blockSize: each regular file rounded up to whole blocks, each directory
// and link one block. Links are not followed. True, or false with *error
// ("PATH: reason").
bool TreeSize(const std::string& path, uint64_t blockSize, uint64_t* bytes, std::string* error);

// The file system of path, or of its nearest existing ancestor when path
// does not exist yet: its device, block size and the bytes available to
// this process (root may use the reserved blocks too). True, or false with
// *error.
struct FileSystemRoom {
  dev_t device = 0;
  uint64_t blockSize = 0;
  uint64_t available = 0;
  std::string measuredAt;  // path or the ancestor that was measured
};
bool RoomAt(const std::string& path, FileSystemRoom* room, std::string* error);

#endif  // STRATA_DRIVER_INSTALLATION_FREESPACE_H_
