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

#include "common/FileIo.h"

namespace {

// A missing text counts as empty, so no caller can make the digest read
// through a null pointer.
const char* OrEmpty(const char* text) {
  return text ? text : "";
}

// Creates a new, empty file beside path (same directory, so that a rename
// over path is atomic) with the permissions of a plain new file: 0666 less
// the umask, applied by the kernel. Returns the descriptor and its name, or
// -1 when no such file can be created.
int CreateSiblingTemp(const std::string& path, std::string* tempName) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  // Not derived from the user's name, so that a name near the file-name
  // limit still gets a temporary file.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    *tempName = dir + ".pwentry." + std::to_string(getpid()) + "." + std::to_string(attempt);
    int fd = open(tempName->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0)
      return fd;
    if (errno != EEXIST)
      return -1;
  }
  return -1;
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

  std::string credential;
  if (realm != nullptr && realm[0] != '\0') {
    char entry[64];
    credential = MakePasswordEntry(user, realm, password, entry);
  } else {
    credential = password;
  }

  // The new file is written under another name and renamed over the old one,
  // so a failure at any step leaves the user's earlier entry in place.
  std::string tempName;
  int fd = CreateSiblingTemp(path, &tempName);
  if (fd < 0)
    return -1;
  std::string line = credential + ";*;1\n";
  bool written = WriteAll(fd, line.data(), line.size());
  if (close(fd) != 0)
    written = false;
  if (!written || rename(tempName.c_str(), path.c_str()) != 0) {
    unlink(tempName.c_str());
    return -1;
  }
  return 0;
}
