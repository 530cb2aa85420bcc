// Random passwords and the server's password databases.
#include <sys/stat.h>

#include "credentials/PasswordTool.h"
#include "installer/ServerInstaller.h"
#include "installer/WorkingDirectory.h"

namespace {

// The subdirectories of the five databases, in the order they are made.
const char* const kDatabaseDirs[] = {
    "adm_b_db/users", "adm_b_db/guids", "adm_b_db/logs", "adm_b_db/redirect",
    "enc_r_db/users", "enc_r_db/guids", "enc_r_db/logs", "enc_r_db/redirect",
    "enc_b_db/users", "enc_b_db/guids", "enc_b_db/logs", "enc_b_db/redirect",
    "enc_w_db/users", "enc_w_db/guids", "enc_w_db/logs", "enc_w_db/redirect",
    "cdi_b_db/users", "cdi_b_db/guids", "cdi_b_db/logs", "cdi_b_db/redirect",
};

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
  for (const char* dir : kDatabaseDirs)
    mkdir(dir, 0755);

  AddEntry("adm_b_db", m_szAdminUserID, m_szAdminPassword, nullptr);
  AddEntry("enc_r_db", m_szEncoderUserID, m_szEncoderPassword, m_szEncoderRealm);
  AddEntry("enc_w_db", m_szEncoderUserID, m_szEncoderPassword, m_szWMEncoderRealm);
  AddEntry("enc_b_db", m_szEncoderUserID, m_szEncoderPassword, nullptr);
  AddEntry("cdi_b_db", m_szAdminUserID, m_szAdminPassword, nullptr);
  saved.Restore();
}
