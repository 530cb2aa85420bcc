#ifndef STRATA_DRIVER_RECORD_FILEDESCRIPTION_H_
#define STRATA_DRIVER_RECORD_FILEDESCRIPTION_H_

#include <stdint.h>

#include <string>
#include <vector>

class InstallTree;
class PackagedDigests;

// One regular file or symbolic link that an installation placed or
// generated, as the installation record lists it.
struct ManifestEntry {
  // Relative to the installation directory, "/"-separated.
  std::string path;
  bool isLink = false;
  // Permission bits of a regular file (at most 07777); 0 for a link.
  unsigned mode = 0;
  // Bytes of the file, or of a link's target text.
  uint64_t size = 0;
  // Lowercase hexadecimal SHA-256 of the content, or of the target text;
  // when keyed, the HMAC-SHA256 of the content under the installation's key
  // (driver/record/InstallKey.h) instead.
  std::string sha256;
  // A file that not everyone may read can hold a password: its plain digest
  // in the world-readable record would let anyone test a guess.
  bool keyed = false;

  bool operator==(const ManifestEntry& other) const;
  bool operator!=(const ManifestEntry& other) const { return !(*this == other); }
};

// How a listed file stands on disk now.
enum class FileState {
  kUnchanged,  // same kind, mode, size and digest (a link: same target)
  kChanged,    // something else has the name
  kMissing,    // nothing has the name inside the directory (a directory on
               // the way is gone, or is a file or a link)
};

// How a listed entry stands on disk now, in detail.
struct FileStanding {
  // Nothing has the name inside the directory.
  bool missing = false;
  // A listed file is a regular file, a listed link a link.
  bool sameKind = false;
  // Of the same kind and size, and the same digest (a link: the same
  // target text; a keyed file: the same keyed digest).
  bool sameContent = false;
  // The permission bits of a regular file now; 0 for anything else.
  unsigned mode = 0;

  // The state that these make for entry.
  FileState State(const ManifestEntry& entry) const;
};

// The entry for relative under dir as it is now, from lstat (a link itself,
// never what it leads to; no link on the way is followed either): true, or
// false with *error when it is missing, neither a file nor a link, or
// unreadable.
bool DescribeFile(const std::string& dir, const std::string& relative, ManifestEntry* entry,
                  std::string* error);
// The same in a directory already open.
bool DescribeFileAt(const InstallTree& tree, const std::string& relative, ManifestEntry* entry,
                    std::string* error);

// Entries for the files and links named by relatives under dir, sorted by
// path, in *entries; the name of a directory stands for every file and link
// below it (a link to a directory is a link, not entered). A file named
// twice is described once. Each directory is opened once and each file
// once, and the files are digested on two threads when they are many. A file
// for which packaged has its package's digest (driver/record/
// PackagedDigests.h) is not read. False with *error as DescribeFile, and
// *entries untouched.
bool DescribeFiles(const std::string& dir, const std::vector<std::string>& relatives,
                   std::vector<ManifestEntry>* entries, std::string* error,
                   const PackagedDigests* packaged = nullptr);

// The state of entry's path in tree now: true, or false with *error when
// the file could not be read. A keyed entry is compared under the key of
// tree; without a key it counts as changed, since nothing shows it is not.
bool CheckFileAt(const InstallTree& tree, const ManifestEntry& entry, FileState* state,
                 std::string* error);
// The state of each of entries in tree now, in their order, in *states:
// true, or false with *error when a file could not be read. Entries sorted
// by path share the opening of their directory, and the files are digested
// on two threads when they are many.
bool CheckFilesAt(const InstallTree& tree, const std::vector<ManifestEntry>& entries,
                  std::vector<FileState>* states, std::string* error);

// The same in detail, in *standings: a file of the same kind and size is
// read whatever its mode, so that a report can tell content from mode.
// Where a keyed entry needs the installation's key and it cannot be read,
// false with *error when keyRequired, else the entry's content counts as
// different.
bool InspectFilesAt(const InstallTree& tree, const std::vector<ManifestEntry>& entries,
                    bool keyRequired, std::vector<FileStanding>* standings, std::string* error);

// Whether entry should be described by a keyed digest: a regular file that
// others may not read.
bool NeedsKeyedDigest(const ManifestEntry& entry);
// Describes each entry that NeedsKeyedDigest, and is not keyed yet, anew by
// its keyed digest under key, reading it in tree: true, or false with
// *error and *entries as they were.
bool KeySecretFiles(const InstallTree& tree, const std::string& key,
                    std::vector<ManifestEntry>* entries, std::string* error);

#endif  // STRATA_DRIVER_RECORD_FILEDESCRIPTION_H_
