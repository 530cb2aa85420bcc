#include "installer/PasswordDatabases.h"

#include "installer/ServerInstaller.h"

const char kAdminPlainDatabase[] = "adm_b_db";
const char kEncoderPlainDatabase[] = "enc_b_db";

const char* const kDatabaseDirectories[] = {
    "adm_b_db/users", "adm_b_db/guids", "adm_b_db/logs", "adm_b_db/redirect",
    "enc_r_db/users", "enc_r_db/guids", "enc_r_db/logs", "enc_r_db/redirect",
    "enc_b_db/users", "enc_b_db/guids", "enc_b_db/logs", "enc_b_db/redirect",
    "enc_w_db/users", "enc_w_db/guids", "enc_w_db/logs", "enc_w_db/redirect",
    "cdi_b_db/users", "cdi_b_db/guids", "cdi_b_db/logs", "cdi_b_db/redirect",
    nullptr,
};

std::vector<DatabaseAccount> DatabaseAccounts(const ServerInstaller& installer) {
  return {
      {kAdminPlainDatabase, installer.m_szAdminUserID, installer.m_szAdminPassword, nullptr},
      {"enc_r_db", installer.m_szEncoderUserID, installer.m_szEncoderPassword,
       installer.m_szEncoderRealm},
      {"enc_w_db", installer.m_szEncoderUserID, installer.m_szEncoderPassword,
       installer.m_szWMEncoderRealm},
      {kEncoderPlainDatabase, installer.m_szEncoderUserID, installer.m_szEncoderPassword, nullptr},
      {"cdi_b_db", installer.m_szAdminUserID, installer.m_szAdminPassword, nullptr},
  };
}
