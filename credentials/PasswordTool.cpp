#include "credentials/PasswordTool.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>
// libmd's declarations need the BSD integer types of sys/types.h.
#include <md5.h>

#include <string>

#include "common/AtomicFile.h"

namespace {

// A missing text counts as empty, so no caller can make the digest read
// through a null pointer.
const char* OrEmpty(const char* text) {
  return text ? text : "";
}

}  // namespace

char* PasswordTool::MakePasswordEntry(const char* user, const char* realm, const char* password,
                                      char* entry) {
  // Built as a string of any length rather than in a fixed buffer, so a long
  // password is digested whole instead of being cut or overflowing.
  std::string text = std::string(OrEmpty(user)) + ":" + OrEmpty(realm) + ":" + OrEmpty(password);
  MD5Data(reinterpret_cast<const uint8_t*>(text.data()), text.size(), entry);
  return entry;
}

int PasswordTool::PasswordIsOK(const char* /*user*/, const char* password) {
  if (password == nullptr)
    return 0;
  if (password[0] == '\0')
    return 0;
  return 1;
}

char* PasswordTool::GenerateRandomPassword() {
  char* password = new char[16]();
  for (int i = 0; i < 6; ++i)
    password[i] = static_cast<char>(GenerateRandomPasswordChar());
  password[6] = '\0';
  return password;
}

int PasswordTool::GenerateRandomPasswordChar() {
  for (;;) {
    int c = static_cast<int>(random() % 127);
    bool letter = c >= 'a' && c <= 'z';
    bool digit = c >= '0' && c <= '9';
    // "0", "1" and "l" are too easily mistaken for one another or for "O".
    if ((letter || digit) && c != '0' && c != '1' && c != 'l')
      return c;
  }
}

int PasswordTool::AddPasswordFileEntry(const char* database, const char* user, const char* password,
                                       const char* realm) {
  if (database == nullptr || user == nullptr || password == nullptr)
    return -1;
  std::string path = std::string(database) + "/users/" + user;
  // Replaced whole or not at all, so a failure at any step (a full disk
  // included) leaves the user's earlier entry in place. The file gets the
  // permissions of a plain new file: 0666 less the umask.
  std::string error;
  if (!WriteFileAtomically(path, PasswordFileLine(user, realm, password), ModeUnderUmask(0666),
                           &error))
    return -1;
  return 0;
}

std::string PasswordFileLine(const char* user, const char* realm, const char* password) {
  std::string credential;
  if (realm != nullptr && realm[0] != '\0') {
    char entry[64];
    credential = PasswordTool::MakePasswordEntry(user, realm, password, entry);
  } else {
    credential = OrEmpty(password);
  }
  return credential + ";*;1\n";
}
