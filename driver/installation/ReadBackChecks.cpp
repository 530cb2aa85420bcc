#include "driver/installation/ReadBackChecks.h"

#include <sys/stat.h>

#include "common/FileIo.h"
#include "common/Format.h"
#include "credentials/PasswordTool.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/PasswordDatabases.h"
#include "templates/NewInstallerIQLoopcastScript.h"

namespace {

// Whether the file at path holds exactly expected. Why it cannot be read
// does not matter: the messages say which file is wrong.
bool Holds(const std::string& path, const std::string& expected) {
  std::string content;
  std::string unread;
  return ReadWholeFile(path, &content, &unread) && content == expected;
}

}  // namespace

bool CheckUserFiles(const SetupInstaller& installer, std::string* error) {
  for (const DatabaseAccount& account : DatabaseAccounts(installer)) {
    std::string path = installer.FilePath(account.database) + "/users/" + account.user;
    if (!Holds(path, PasswordFileLine(account.user, account.realm, account.password))) {
      *error = FormatText("ERROR: Unable to write the user file %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

bool CheckLoopcastScript(const SetupInstaller& installer, const std::string& path,
                         std::string* error) {
  const char* script = NewInstallerIQLoopcastScript::CreateScriptFile(installer.m_szDefInstallPath);
  struct stat st;
  if (script == nullptr || !Holds(path, script) || stat(path.c_str(), &st) != 0 ||
      (st.st_mode & 0111) == 0) {
    *error = FormatText("ERROR: Unable to write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool CheckConfigFile(const SetupInstaller& installer, const char* name, mode_t* mode,
                     std::string* error) {
  std::string path = installer.FilePath(name);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      installer.m_szConfigFileText == nullptr || !Holds(path, installer.m_szConfigFileText)) {
    *error = FormatText("ERROR: Unable to write the configuration file %s\n", path.c_str());
    return false;
  }
  *mode = st.st_mode;
  return true;
}
