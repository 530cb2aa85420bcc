#ifndef STRATA_DRIVER_INSTALLATION_KEPTPASSWORDS_H_
#define STRATA_DRIVER_INSTALLATION_KEPTPASSWORDS_H_

#include <string>
#include <vector>

class SetupInstaller;

// The passwords of accounts that an earlier installation in the same
// directory set up. A rerun that gives no password for such an account keeps
// it, and with it everything written from it, so that live encoders and the
// administrator are not locked out; the databases that hold passwords as
// they are tell them. Nothing here changes a file.
class KeptPasswords {
 public:
  explicit KeptPasswords(SetupInstaller& installer) : m_installer(installer) {}

  KeptPasswords(const KeptPasswords&) = delete;
  KeptPasswords& operator=(const KeptPasswords&) = delete;

  // For each account without a password whose user file is in the
  // installation directory, takes its password into the settings: true, or
  // false with the message to end with when such a file holds no password
  // that can be read back.
  bool Take(std::string* error);

  bool AdminKept() const { return m_bAdminKept; }
  bool EncoderKept() const { return m_bEncoderKept; }
  // Administrators of earlier installations besides the current one, whose
  // accounts still exist.
  const std::vector<std::string>& OtherAdmins() const { return m_otherAdmins; }

 private:
  bool TakeOne(const char* database, const char* user, char** password, bool* kept,
               std::string* error);

  SetupInstaller& m_installer;
  bool m_bAdminKept = false;
  bool m_bEncoderKept = false;
  std::vector<std::string> m_otherAdmins;
};

// The password that a user file holds in plain form ("password;*;1\n"):
// true with *found false when there is no such file, true with *password
// when there is, or false with *error saying why the file gives none.
bool ReadPlainPassword(const std::string& path, bool* found, std::string* password,
                       std::string* error);

#endif  // STRATA_DRIVER_INSTALLATION_KEPTPASSWORDS_H_
