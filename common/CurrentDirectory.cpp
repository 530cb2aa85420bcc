#include "common/CurrentDirectory.h"

#include <errno.h>
#include <unistd.h>

#include <vector>

bool CurrentDirectory(std::string* dir) {
  std::vector<char> buffer(1024);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      *dir = buffer.data();
      return true;
    }
    if (errno != ERANGE)
      return false;
    buffer.resize(buffer.size() * 2);
  }
}
