#ifndef STRATA_PACKAGER_PACKAGEINSPECTOR_H_
#define STRATA_PACKAGER_PACKAGEINSPECTOR_H_

#include <stdint.h>

#include <string>

#include "common/ScopedFd.h"
#include "package/PackageRecord.h"

// Looks into a package without running any of it: the record in its
// launcher piece, the digest of its pieces, and the members of its archive
// (read with the system's own decompressor and tar, never with the
// package's). Owns the open package file.
class PackageInspector {
 public:
  enum Verdict {
    kVerified,    // the pieces give the recorded digest
    kMismatch,    // they do not
    kNoChecksum,  // the package records no digest
    // It records none, and the archive piece does not start with its type's
    // signature: most likely the package was cut short.
    kWrongStart,
  };

  PackageInspector();

  PackageInspector(const PackageInspector&) = delete;
  PackageInspector& operator=(const PackageInspector&) = delete;

  // Opens the package and reads its record, the first one in the file.
  // False with a message when the file cannot be read, holds no record, or
  // its record does not describe the file (lengths that do not fit, an
  // unknown type or checksum kind, no decompressor for a type that needs
  // one); a launcher that was never made into a package is named as such.
  bool Open(const std::string& path, std::string* error);

  const PackageRecord& Record() const { return m_record; }
  uint64_t LauncherLength() const;

  // Digests the decompressor and archive pieces with the recorded kind and
  // compares. *actual receives the digest found, as hexadecimal text.
  // Without a recorded digest, only the start of the archive piece is
  // checked; a digest that matches needs no such check, and the builder
  // takes an archive of an unusual make with a warning.
  bool Verify(Verdict* verdict, std::string* actual, std::string* error) const;

  // The archive's member list as tar prints it, one name a line.
  bool List(std::string* listing, std::string* error) const;

 private:
  uint64_t ArchiveStart() const;

  std::string m_szPath;
  ScopedFd m_fd;
  PackageRecord m_record;
  uint64_t m_nFileSize;
  uint64_t m_nRecordOffset;
};

#endif  // STRATA_PACKAGER_PACKAGEINSPECTOR_H_
