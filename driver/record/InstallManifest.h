#ifndef STRATA_DRIVER_RECORD_INSTALLMANIFEST_H_
#define STRATA_DRIVER_RECORD_INSTALLMANIFEST_H_

#include <time.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/record/FileDescription.h"

class InstallTree;

// A settings line that differs between two manifests.
struct SettingChange {
  std::string key;
  std::string before;
  std::string after;
};

// The record of one installation, install-manifest.txt in the installation
// directory: the product, the package, the settings (never a password), what
// was moved to ".old", and every file placed. A value: Format and Parse turn
// it into its text and back; Write and Read put it into a directory and take
// it from there.
class InstallManifest {
 public:
  static const char kFileName[];  // "install-manifest.txt"
  // The program in Bin/ that removes the installation a record describes,
  // and the name under which setup acts as it: "uninstall".
  static const char kUninstallerName[];
  // The program in Bin/ that checks an installation against its record, and
  // the name under which setup acts as it: "verify".
  static const char kVerifierName[];

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
  struct ParseState;
  // One line of Parse that is no comment, taken into this manifest: true,
  // or false with *problem; *whole when the problem is the text's, not the
  // line's.
  bool ParseLine(const std::string& line, ParseState* state, std::string* problem, bool* whole);
};

#endif  // STRATA_DRIVER_RECORD_INSTALLMANIFEST_H_
