#ifndef STRATA_CREDENTIALS_PASSWORDTOOL_H_
#define STRATA_CREDENTIALS_PASSWORDTOOL_H_

#include <stddef.h>

#include <string>

// Password acceptance, random passwords, digest entries and the user files of
// the server's password databases. Stateless: every operation is static.
class PasswordTool {
 public:
  PasswordTool() {}
  ~PasswordTool() {}

  // Writes into entry (at least 33 bytes) the MD5 of "user:realm:password"
  // as 32 lowercase hexadecimal characters; returns entry.
  static char* MakePasswordEntry(const char* user, const char* realm, const char* password,
                                 char* entry);
  // 1 if the password is acceptable (not null, not empty), else 0.
  static int PasswordIsOK(const char* user, const char* password);
  // A new 16-byte array holding 6 random characters of the password alphabet
  // and a NUL; the caller releases it with delete[]. Drawn as
  // RandomPasswordText draws.
  static char* GenerateRandomPassword();
  // One random character of "abcdefghijkmnopqrstuvwxyz23456789".
  static int GenerateRandomPasswordChar();
  // Writes database/users/user as one line "credential;*;1\n": the digest
  // entry when realm is set and not empty, else the password. 0 when
  // written, -1 when the file cannot be created (an earlier file then stays).
  static int AddPasswordFileEntry(const char* database, const char* user, const char* password,
                                  const char* realm);
};

// length characters of the password alphabet, each drawn on its own and
// uniformly from the system's random source (getrandom), so that no password
// tells anything about another or about the process's random(). Ends the
// process when the system has no random source at all.
std::string RandomPasswordText(size_t length);

// The whole content that AddPasswordFileEntry gives an account's user file:
// "credential;*;1\n", the credential being the digest entry when realm is set
// and not empty, else the password (null texts count as empty).
std::string PasswordFileLine(const char* user, const char* realm, const char* password);

#endif  // STRATA_CREDENTIALS_PASSWORDTOOL_H_
