#include "credentials/PasswordTool.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/types.h>
#include <unistd.h>
// libmd's declarations need the BSD integer types of sys/types.h.
#include <md5.h>

#include <string>

#include "common/AtomicFile.h"

namespace {

const char kPasswordAlphabet[] = "abcdefghijkmnopqrstuvwxyz23456789";
const size_t kAlphabetSize = sizeof kPasswordAlphabet - 1;
// The largest multiple of the alphabet's size that a byte can hold: bytes
// from it up are drawn again, so that every character is equally likely.
const unsigned kUnbiasedLimit = 256 / kAlphabetSize * kAlphabetSize;

// Fills buffer from the system's random source. getrandom waits only until
// the kernel's pool has been seeded once at boot; /dev/urandom stands in on
// a kernel without it. A password must never come from anything weaker, so
// without either source the process ends.
void DrawRandomBytes(unsigned char* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    ssize_t got = getrandom(buffer + filled, size - filled, 0);
    if (got > 0) {
      filled += static_cast<size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR)
      continue;
    break;
  }
  if (filled == size)
    return;
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  while (fd >= 0 && filled < size) {
    ssize_t got = read(fd, buffer + filled, size - filled);
    if (got > 0)
      filled += static_cast<size_t>(got);
    else if (got == 0 || errno != EINTR)
      break;
  }
  if (fd >= 0)
    close(fd);
  if (filled == size)
    return;
  fputs("ERROR: The system's random source cannot be read; no password can be made.\n", stderr);
  abort();
}

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
  return RandomPasswordText(1)[0];
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

std::string RandomPasswordText(size_t length) {
  std::string password;
  password.reserve(length);
  unsigned char bytes[64];
  while (password.size() < length) {
    DrawRandomBytes(bytes, sizeof bytes);
    for (unsigned char byte : bytes) {
      if (byte >= kUnbiasedLimit || password.size() == length)
        continue;
      password += kPasswordAlphabet[byte % kAlphabetSize];
    }
  }
  return password;
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
