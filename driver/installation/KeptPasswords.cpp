#include "driver/installation/KeptPasswords.h"

#include <errno.h>
#include <sys/stat.h>

#include "common/DirectoryListing.h"
#include "common/FileIo.h"
#include "common/Format.h"
#include "common/SystemError.h"
#include "credentials/PasswordTool.h"
#include "driver/settings/SettingRules.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/PasswordDatabases.h"

bool ReadPlainPassword(const std::string& path, bool* found, std::string* password,
                       std::string* error) {
  struct stat st;
  *found = false;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    *error = ErrnoMessage(path, errno);
    return false;
  }
  *found = true;
  std::string content;
  std::string unread;
  if (!S_ISREG(st.st_mode)) {
    *error = path + " is not a file";
    return false;
  }
  if (!ReadWholeFile(path, &content, &unread)) {
    *error = unread;
    return false;
  }
  // Only a line that writing the password back would give again counts.
  std::string suffix = PasswordFileLine(nullptr, nullptr, "");
  std::string candidate;
  if (content.size() > suffix.size() &&
      content.compare(content.size() - suffix.size(), suffix.size(), suffix) == 0)
    candidate = content.substr(0, content.size() - suffix.size());
  std::string why;
  if (candidate.empty() || PasswordFileLine(nullptr, nullptr, candidate.c_str()) != content ||
      !CheckPassword(candidate.c_str(), &why)) {
    *error = path + " holds no password in plain form";
    return false;
  }
  *password = candidate;
  return true;
}

bool KeptPasswords::Take(std::string* error) {
  if (!TakeOne(kAdminPlainDatabase, m_installer.m_szAdminUserID, &m_installer.m_szAdminPassword,
               &m_bAdminKept, error) ||
      !TakeOne(kEncoderPlainDatabase, m_installer.m_szEncoderUserID,
               &m_installer.m_szEncoderPassword, &m_bEncoderKept, error))
    return false;
  std::vector<std::string> users;
  std::string ignored;
  std::string current = m_installer.m_szAdminUserID != nullptr ? m_installer.m_szAdminUserID : "";
  if (ListDirectory(m_installer.FilePath(kAdminPlainDatabase) + "/users", &users, &ignored)) {
    for (const std::string& user : users) {
      if (user != current)
        m_otherAdmins.push_back(user);
    }
  }
  return true;
}

bool KeptPasswords::TakeOne(const char* database, const char* user, char** password, bool* kept,
                            std::string* error) {
  if (*password != nullptr || user == nullptr || user[0] == '\0')
    return true;
  std::string path = m_installer.FilePath(database) + "/users/" + user;
  bool found = false;
  std::string text;
  std::string why;
  if (!ReadPlainPassword(path, &found, &text, &why)) {
    *error = FormatText(
        "ERROR: The account %s exists, but its password cannot be kept (%s); give its password "
        "to replace it\n",
        user, why.c_str());
    return false;
  }
  if (!found)
    return true;
  *password = m_installer.OwnedText(text);
  *kept = true;
  return true;
}
