#ifndef STRATA_DRIVER_RECORD_PACKAGEDDIGESTS_H_
#define STRATA_DRIVER_RECORD_PACKAGEDDIGESTS_H_

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <map>
#include <string>

// The digests a package carries for its product files
// (package/ProductDigests.h), each bound to the very file tar unpacked: a
// listed digest stands for a file only while it is that file (the same
// device and inode, so renamed into place, not copied or replaced), of the
// listed size, and not written since it was unpacked (its modification time
// still the archive's, which lies before Load). Anything setup writes fails
// one of these, so the record never takes a listed digest for a file setup
// made or changed; such files, and all files of a package without a list,
// are read as before. A value; owns nothing on disk.
class PackagedDigests {
 public:
  // Reads the list in the extraction directory dir and notes the identity of
  // each listed file unpacked there (never through a link). Entries whose
  // file is missing, no regular file, of another size, or stamped after
  // Load began are left out. True without entries when the package has no
  // list; false with *error and no entries when the list cannot be read or
  // is malformed (the caller then reads every file).
  bool Load(const std::string& dir, std::string* error);

  // Drops the entry of path and of everything below it: a name setup
  // writes itself.
  void Forget(const std::string& path);

  // The listed SHA-256 of the file at relative whose lstat is st, when it is
  // still the listed, unpacked file; nullptr otherwise.
  const std::string* DigestFor(const std::string& relative, const struct stat& st) const;

  size_t Count() const { return m_known.size(); }

 private:
  struct Known {
    dev_t device;
    ino_t inode;
    uint64_t size;
    struct timespec modified;
    std::string sha256;
  };
  std::map<std::string, Known> m_known;
};

#endif  // STRATA_DRIVER_RECORD_PACKAGEDDIGESTS_H_
