#ifndef STRATA_LAUNCHER_EXTRACTIONROOM_H_
#define STRATA_LAUNCHER_EXTRACTIONROOM_H_

#include <stdint.h>

#include <string>

// The room an extraction takes in the working directory's file system, and
// whether that file system has it. Nothing here writes anything.
//
// The room is the temporary decompressor, the archive file itself for the
// file-mode types (it lies in the extraction directory while it is
// unpacked), the unpacked files as the record counts them, and a margin for
// what the file system keeps beside them (inodes, directory blocks): 1 MiB
// and 1/64 of the rest. Files are counted in whole 4 KiB blocks.
class ExtractionRoom {
 public:
  static const uint64_t kMegabyte = 1024 * 1024;

  ExtractionRoom(int64_t extractorLength, int64_t archiveLength, bool fileMode,
                 uint64_t unpackedSize);

  // Bytes needed, never less than the margin; saturates instead of wrapping
  // for a record that claims more than any file system holds.
  uint64_t Needed() const { return m_nNeeded; }

  // Checks the file system that holds dir. True when it has the room, or
  // when it cannot tell (statvfs fails, or the file system reports no
  // size); false with *message, the launcher's error text:
  // "\nError: not enough free space in DIR: the package needs N MB, M MB are
  // free\n", N rounded up and M rounded down to whole MiB, so that N is
  // always larger than M.
  bool FitsIn(const std::string& dir, std::string* message) const;

  // The same check against a given number of free bytes.
  bool FitsInFree(const std::string& dir, uint64_t freeBytes, std::string* message) const;

 private:
  uint64_t m_nNeeded;
};

#endif  // STRATA_LAUNCHER_EXTRACTIONROOM_H_
