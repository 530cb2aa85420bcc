#ifndef STRATA_PACKAGER_DIRECTORYARCHIVE_H_
#define STRATA_PACKAGER_DIRECTORYARCHIVE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "package/ProductDigests.h"
#include "packager/UnpackedContents.h"

// The tar archive of a directory's contents, made so that the same names,
// contents, modes and link targets always give the same bytes: members
// "./name" sorted by byte value, no member for the top directory itself,
// owner and group 0, one fixed time, hard links stored as plain files and
// symbolic links as links (never followed). GNU tar does the writing. After
// the members comes the list of the regular files' SHA-256
// (package/ProductDigests.h), read from the files as Scan found them.
class DirectoryArchive {
 public:
  // The time stamped on every member: 2000-01-01 00:00:00 UTC.
  static const int64_t kMemberTime = 946684800;

  DirectoryArchive() = default;
  DirectoryArchive(const DirectoryArchive&) = delete;
  DirectoryArchive& operator=(const DirectoryArchive&) = delete;

  // Collects the members below dir (a symbolic link naming a directory is
  // followed for dir itself only). Fails with a message for an entry that
  // cannot be read or is neither a regular file, a directory nor a symbolic
  // link, for a directory with nothing in it, and for a top entry named as
  // the list of digests.
  bool Scan(const std::string& dir, std::string* error);

  // The members found by Scan, "./a", "./a/b", ... in archive order.
  const std::vector<std::string>& Members() const { return m_members; }
  // The directory scanned, with every symbolic link on the way resolved.
  const std::string& Root() const { return m_szRoot; }
  // The room the members take once unpacked, and whether a second stage is
  // among them.
  const UnpackedContents& Contents() const { return m_contents; }
  // The digest of every regular file, sorted by path.
  const std::vector<ProductDigest>& Digests() const { return m_digests; }

  // Writes the archive, piped through the compressor command, to outFd at
  // its current position. On failure *error says which program failed and
  // why; outFd may then hold part of the stream.
  bool Write(const std::vector<std::string>& compressor, int outFd, std::string* error) const;

 private:
  bool ScanDirectory(const std::string& relative, std::string* error);
  // The SHA-256 and size of the file at full (shown in messages).
  static bool DigestFile(const std::string& full, const std::string& shown, ProductDigest* digest,
                         std::string* error);
  // Writes the list of digests into a new temporary directory, *dir.
  bool WriteDigests(std::string* dir, std::string* error) const;

  std::string m_szDisplay;  // dir as the caller named it, for messages
  std::string m_szRoot;     // dir resolved
  std::vector<std::string> m_members;
  std::vector<ProductDigest> m_digests;
  UnpackedContents m_contents;
};

#endif  // STRATA_PACKAGER_DIRECTORYARCHIVE_H_
