#ifndef STRATA_PACKAGER_UNPACKEDCONTENTS_H_
#define STRATA_PACKAGER_UNPACKEDCONTENTS_H_

#include <stdint.h>

#include <set>
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
  void AddDirectory(const std::string& name);
  // Symbolic and hard links take no blocks of their own.
  void AddLink(const std::string& name);

  uint64_t Size() const { return m_nSize; }
  // Whether Bin/setup, or one of its script forms (.sh, .pl, .py) that the
  // launcher also starts, is among the members.
  bool HasSecondStage() const { return m_bSecondStage; }
  // Whether a directory of this name lies at the top of the tree, as a
  // member of its own or as the folder of one ("adm_b_db/users/x" makes
  // adm_b_db one, as tar would).
  bool HasTopDirectory(const std::string& name) const;
  // What ReadArchive found as the regular file Bin/setup, whole; empty when
  // it was none (absent, a link, or larger than any second stage).
  const std::string& SetupProgram() const { return m_szSetupProgram; }

  // Tallies the members of the archive file open at fd (any compression and
  // archive format that libarchive reads), decompressing it once. False with
  // *error when it cannot be read to its end; the tally is then partial.
  bool ReadArchive(int fd, std::string* error);

 private:
  // name without its leading "./".
  static std::string Relative(const std::string& name);
  void Note(const std::string& name);
  // Reads the data of entry, Bin/setup, into m_szSetupProgram: false when
  // the archive fails.
  bool ReadSetupProgram(struct archive* reader, struct archive_entry* entry);

  uint64_t m_nSize = 0;
  bool m_bSecondStage = false;
  std::set<std::string> m_topDirectories;
  std::string m_szSetupProgram;
};

#endif  // STRATA_PACKAGER_UNPACKEDCONTENTS_H_
