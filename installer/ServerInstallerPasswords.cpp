// Random passwords and the server's password databases.
#include <sys/stat.h>

#include "credentials/PasswordTool.h"
#include "installer/PasswordDatabases.h"
#include "installer/ServerInstaller.h"
#include "installer/WorkingDirectory.h"

namespace {

// An account without a user name or password gets no user file: there is no
// name to give the file and nothing to store in it.
void AddEntry(const char* database, const char* user, const char* password, const char* realm) {
  if (user == nullptr || password == nullptr)
    return;
  PasswordTool::AddPasswordFileEntry(database, user, password, realm);
}

}  // namespace

void ServerInstaller::GenerateRandomPasswords() {
  // The order of the draws decides which account gets which password.
  if (m_szAdminPassword == nullptr)
    m_szAdminPassword = AdoptText(PasswordTool::GenerateRandomPassword());
  if (m_szEncoderPassword == nullptr)
    m_szEncoderPassword = AdoptText(PasswordTool::GenerateRandomPassword());
  if (m_szMonitorPassword == nullptr)
    m_szMonitorPassword = AdoptText(PasswordTool::GenerateRandomPassword());
}

void ServerInstaller::UpdatePasswordDatabases() {
  SavedWorkingDirectory saved;
  // Reported even in a silent installation: the accounts would not work.
  if (!EnterInstallDirectory(saved, m_szDefInstallPath, m_pUI, true))
    return;
  // Existing subdirectories and missing databases are no reason to stop.
  for (const char* const* dir = kDatabaseDirectories; *dir != nullptr; ++dir)
    mkdir(*dir, 0755);

  for (const DatabaseAccount& account : DatabaseAccounts(*this))
    AddEntry(account.database, account.user, account.password, account.realm);
  // Whether the way back worked changes nothing of what follows.
  std::string ignored;
  saved.Restore(&ignored);
}
