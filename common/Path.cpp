#include "common/Path.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/SystemError.h"

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  size_t end = path.find_last_not_of('/', slash);
  if (end == std::string::npos)
    return "/";
  return path.substr(0, end + 1);
}

std::string BaseNameOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos)
    return name;
  if (name.empty())
    return "";
  const char* path = getenv("PATH");
  // The search path that the shell uses when PATH is unset.
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
    // An empty entry means the current directory.
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == std::string::npos)
      return "";
    start = end + 1;
  }
}

bool OwnProgramPath(std::string* path, std::string* error) {
  std::string buffer(256, '\0');
  while (true) {
    ssize_t got = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (got < 0) {
      *error = ErrnoMessage("/proc/self/exe", errno);
      return false;
    }
    if (static_cast<size_t>(got) < buffer.size()) {
      buffer.resize(static_cast<size_t>(got));
      *path = buffer;
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}
