#ifndef STRATA_INSTALLER_PASSWORDDATABASES_H_
#define STRATA_INSTALLER_PASSWORDDATABASES_H_

#include <vector>

class ServerInstaller;

// The server's five password databases and which account goes into which:
// the table that ServerInstaller::UpdatePasswordDatabases writes from, for
// whoever needs to know what it wrote.

// One account's user file: database/users/user holds
// PasswordFileLine(user, realm, password) (credentials/PasswordTool.h). The
// texts are the installer's settings, valid while they are.
struct DatabaseAccount {
  const char* database;  // "adm_b_db", relative to the installation directory
  const char* user;
  const char* password;
  const char* realm;  // null: the password is stored as it is
};

// The five user files of installer's two accounts, in the order they are
// written.
std::vector<DatabaseAccount> DatabaseAccounts(const ServerInstaller& installer);

// The databases that hold each account's password as it is, from which an
// installation can read it back: "adm_b_db" and "enc_b_db".
extern const char kAdminPlainDatabase[];
extern const char kEncoderPlainDatabase[];

// The subdirectories of the five databases, relative to the installation
// directory, in the order they are made; a null entry ends the list.
extern const char* const kDatabaseDirectories[];

#endif  // STRATA_INSTALLER_PASSWORDDATABASES_H_
