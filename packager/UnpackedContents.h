#ifndef STRATA_PACKAGER_UNPACKEDCONTENTS_H_
#define STRATA_PACKAGER_UNPACKEDCONTENTS_H_

#include <stdint.h>

#include <string>

// What an archive unpacks to, as far as the launcher cares before it writes
// anything: the room its files take, counted as the package record counts
// it (package/PackageRecord.h: regular files in whole 4 KiB blocks, one
// block for each directory, nothing for links), and whether a second stage
// is among them.
class UnpackedContents {
 public:
  UnpackedContents() = default;

  // One member, named as an archive names it ("./Bin/setup" or "Bin/setup").
  void AddFile(const std::string& name, uint64_t size);
  void AddDirectory();
  // Symbolic and hard links take no blocks of their own.
  void AddLink(const std::string& name);

  uint64_t Size() const { return m_nSize; }
  // Whether Bin/setup, or one of its script forms (.sh, .pl, .py) that the
  // launcher also starts, is among the members.
  bool HasSecondStage() const { return m_bSecondStage; }

  // Tallies the members of the archive file open at fd (any compression and
  // archive format that libarchive reads), decompressing it once. False with
  // *error when it cannot be read to its end; the tally is then partial.
  bool ReadArchive(int fd, std::string* error);

 private:
  void Note(const std::string& name);

  uint64_t m_nSize = 0;
  bool m_bSecondStage = false;
};

#endif  // STRATA_PACKAGER_UNPACKEDCONTENTS_H_
