#ifndef STRATA_DRIVER_RECORD_INSTALLKEY_H_
#define STRATA_DRIVER_RECORD_INSTALLKEY_H_

#include <string>

class Checksum;
class InstallTree;

// The installation's own secret, install-manifest.key beside the record,
// mode 0600: 32 random bytes written as 64 lowercase hexadecimal characters
// and a line feed. The record is readable by everyone; a file that holds a
// password is listed there by an HMAC-SHA256 of its content under this key,
// so that nobody who cannot read the key can test a password guess against
// the record. The key stays with the installation through upgrades.
class InstallKey {
 public:
  static const char kFileName[];  // "install-manifest.key"

  // The key of the installation open as tree, in *key (32 bytes): true, or
  // false with *error ("PATH: reason") and errno set (ENOENT when there is
  // none).
  static bool Read(const InstallTree& tree, std::string* key, std::string* error);
  // The key of the installation in dir when it has a good one, else a new
  // one; either way written to stageDir/install-manifest.key (mode 0600)
  // and left in *key. True, or false with *error.
  static bool Stage(const std::string& dir, const std::string& stageDir, std::string* key,
                    std::string* error);

  // The HMAC-SHA256 under key of the bytes read from fd up to its end, as
  // lowercase hexadecimal: true, or false with *error naming shown.
  static bool DigestFile(const std::string& key, int fd, const std::string& shown,
                         std::string* digest, std::string* error);
  // The same of a text in memory.
  static std::string DigestText(const std::string& key, const std::string& text);
};

#endif  // STRATA_DRIVER_RECORD_INSTALLKEY_H_
