#ifndef STRATA_DRIVER_INSTALLMANIFEST_H_
#define STRATA_DRIVER_INSTALLMANIFEST_H_

#include <stdint.h>
#include <time.h>

#include <string>
#include <utility>
#include <vector>

class InstallTree;

// One regular file or symbolic link that an installation placed or
// generated, as the manifest records it.
struct ManifestEntry {
  // Relative to the installation directory, "/"-separated.
  std::string path;
  bool isLink = false;
  // Permission bits of a regular file (at most 07777); 0 for a link.
  unsigned mode = 0;
  // Bytes of the file, or of a link's target text.
  uint64_t size = 0;
  // Lowercase hexadecimal SHA-256 of the content, or of the target text.
  std::string sha256;

  bool operator==(const ManifestEntry& other) const;
  bool operator!=(const ManifestEntry& other) const { return !(*this == other); }
};

// A settings line that differs between two manifests.
struct SettingChange {
  std::string key;
  std::string before;
  std::string after;
};

// How a listed file stands on disk now.
enum class FileState {
  kUnchanged,  // same kind, mode, size and digest (a link: same target)
  kChanged,    // something else has the name
  kMissing,    // nothing has the name inside the directory (a directory on
               // the way is gone, or is a file or a link)
};

// The record of one installation, install-manifest.txt in the installation
// directory: the product, the package, the settings (never a password), what
// was moved to ".old", and every file placed. A value: Format and Parse turn
// it into its text and back; Write and Read put it into a directory and take
// it from there.
class InstallManifest {
 public:
  static const char kFileName[];  // "install-manifest.txt"

  InstallManifest();

  // Header lines, in the order they are written.
  std::string product;
  std::string release;
  std::string version;
  std::string installedAt;    // "2026-12-09T01:50:07Z"
  std::string packageDigest;  // "<kind>:<hex>", "none" or "unknown"
  std::string installDir;
  std::string adminUser;
  std::string encoderUser;
  std::string adminRealm;
  std::string encoderRealm;
  std::string rbsEncoderRealm;
  std::string wmEncoderRealm;
  std::string cdistRealm;
  std::string contentRealm;
  std::string loggingStyle;
  // In the order of the installer's port table: Monitor, RTSP, VQX, HTTP,
  // MMS, Admin.
  int ports[6];
  bool backupOldFiles;
  // Names that this installation moved to NAME.old.
  std::vector<std::string> movedToOld;
  // Sorted by path (byte value) when written.
  std::vector<ManifestEntry> files;

  // Sets installedAt from a time: UTC, ISO 8601, whole seconds.
  void SetInstalledAt(time_t when);

  // The text of the manifest, with the files sorted by path.
  std::string Format() const;
  // Replaces this manifest by the one in text: true, or false with *error
  // ("line N: what is wrong") and this manifest unchanged. Refuses a format
  // other than 1 (which must be the first line but comments), malformed
  // lines, known keys given twice, paths that leave the directory and a
  // file count that does not match; unknown header keys are passed over, so
  // that a later writer may add some.
  bool Parse(const std::string& text, std::string* error);
  // Whether every value can be written and read back as it is: true, or
  // false with *error naming the first that cannot (a line feed in a value,
  // a bad path, a blank in a moved name, a path listed twice).
  bool Validate(std::string* error) const;

  // Writes the manifest atomically to dir/install-manifest.txt, mode 0644:
  // true, or false with *error and any earlier manifest untouched.
  bool Write(const std::string& dir, std::string* error) const;
  // Reads dir/install-manifest.txt (never through a link): true, or false
  // with *error ("PATH: reason") and this manifest unchanged.
  bool Read(const std::string& dir, std::string* error);
  // The same from a directory already open.
  bool ReadFrom(const InstallTree& tree, std::string* error);

  // The settings lines of the idempotency rule (install_dir through
  // backup_old_files) that differ from newer's, in the order of the header.
  std::vector<SettingChange> ChangedSettings(const InstallManifest& newer) const;
  bool SameSettings(const InstallManifest& other) const { return ChangedSettings(other).empty(); }
  // Whether both come from one package: the digests are equal and say
  // something ("unknown" and a package without checksum, "none", never do).
  bool SamePackage(const InstallManifest& other) const;

  // The state of each listed file under dir, in the order of files: true,
  // or false with *error when a file could not be read or dir opened.
  bool CheckFiles(const std::string& dir, std::vector<FileState>* states, std::string* error) const;

 private:
  // key=value lines of the header, in order, format first.
  std::vector<std::pair<std::string, std::string>> Header() const;
  bool SetHeader(const std::string& key, const std::string& value, std::string* error);
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
// twice is described once. False with *error as DescribeFile, and *entries
// untouched.
bool DescribeFiles(const std::string& dir, const std::vector<std::string>& relatives,
                   std::vector<ManifestEntry>* entries, std::string* error);

// The state of entry's path in tree now: true, or false with *error when
// the file could not be read.
bool CheckFileAt(const InstallTree& tree, const ManifestEntry& entry, FileState* state,
                 std::string* error);

#endif  // STRATA_DRIVER_INSTALLMANIFEST_H_
