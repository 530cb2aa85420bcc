#include "driver/settings/InstallPath.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/FileKind.h"
#include "common/Path.h"
#include "common/ShownText.h"
#include "common/SystemError.h"

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    std::string::size_type slash = path.find('/', start);
    if (slash == std::string::npos)
      slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (!part.empty() && part != ".")
      parts.push_back(part);
    start = slash + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts)
    path += "/" + part;
  return path.empty() ? "/" : path;
}

// Directories that belong to the system or hold many installations side by
// side: the product's Bin, Lib and databases have no place directly in them.
bool IsSystemDirectory(const std::string& path) {
  static const char* const kSystem[] = {
      "/",
      "/bin",
      "/boot",
      "/dev",
      "/etc",
      "/home",
      "/media",
      "/mnt",
      "/opt",
      "/proc",
      "/root",
      "/run",
      "/sbin",
      "/srv",
      "/sys",
      "/tmp",
      "/usr",
      "/var",
      "/usr/bin",
      "/usr/include",
      "/usr/local",
      "/usr/sbin",
      "/usr/share",
      "/usr/src",
      "/usr/local/bin",
      "/usr/local/sbin",
      "/usr/local/share",
      "/var/cache",
      "/var/lib",
      "/var/log",
      "/var/opt",
      "/var/spool",
      "/var/tmp",
  };
  for (const char* system : kSystem) {
    if (path == system)
      return true;
  }
  // /lib, /lib64, /usr/lib32, /usr/local/lib and their kin.
  for (const char* parent : {"/", "/usr/", "/usr/local/"}) {
    std::string prefix = std::string(parent) + "lib";
    if (path.compare(0, prefix.size(), prefix) == 0 &&
        path.find('/', prefix.size()) == std::string::npos)
      return true;
  }
  return false;
}

// Room for the staging directory and the product's deepest names below the
// installation directory.
const size_t kRoomBelowInstallDir = 1024;

}  // namespace

std::string ResolvePath(const std::string& path, const std::string& base) {
  if (!path.empty() && path[0] == '/')
    return Join(Components(path));
  return Join(Components(base + "/" + path));
}

std::string ExpandHome(const std::string& path) {
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] == '\0')
    return path;
  if (path == "~")
    return home;
  if (path.compare(0, 2, "~/") == 0)
    return std::string(home) + path.substr(1);
  return path;
}

std::string CanonicalPath(const std::string& path) {
  std::vector<std::string> parts = Components(path);
  // The longest prefix that exists is resolved by the system; the rest does
  // not exist and so holds no links.
  for (size_t keep = parts.size() + 1; keep-- > 0;) {
    std::vector<std::string> head(parts.begin(), parts.begin() + keep);
    std::string prefix = Join(head);
    struct stat st;
    if (lstat(prefix.c_str(), &st) != 0)
      continue;
    char* real = realpath(prefix.c_str(), nullptr);
    if (real == nullptr)
      return std::string();
    std::string result = real;
    free(real);
    for (size_t i = keep; i < parts.size(); ++i) {
      // A ".." below a missing directory cannot be resolved by the system;
      // taken lexically, it stays within what is being created.
      if (parts[i] == "..")
        result = DirectoryOf(result);
      else
        result += (result == "/" ? "" : "/") + parts[i];
    }
    return result;
  }
  return std::string();
}

bool IsSameOrInside(const std::string& path, const std::string& dir) {
  std::string p = CanonicalPath(path);
  std::string d = CanonicalPath(dir);
  if (p.empty() || d.empty())
    return false;
  if (p == d || d == "/")
    return true;
  return p.compare(0, d.size(), d) == 0 && p.size() > d.size() && p[d.size()] == '/';
}

bool CheckInstallDirName(const std::string& path, std::string* error) {
  static const char kAllowed[] = "/._+,:@%=-";
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alnum || (c != '\0' && strchr(kAllowed, c) != nullptr))
      continue;
    std::string what;
    if (c == ' ')
      what = "a blank";
    else if (IsControlCharacter(c))
      what = "a control character";
    else if (byte >= 0x80)
      what = "a character outside ASCII";
    else if (c == '"')
      what = "a double quote";
    else
      what = std::string("\"") + c + "\"";
    *error =
        "its name contains " + what + "; only letters, digits and \"" + kAllowed + "\" may be used";
    return false;
  }
  return true;
}

bool CheckInstallDir(const std::string& path, std::string* error) {
  if (!CheckInstallDirName(path, error))
    return false;
  if (path.size() + kRoomBelowInstallDir > PATH_MAX) {
    *error = std::string("its name is too long (") + ErrnoText(ENAMETOOLONG) + ")";
    return false;
  }
  if (IsSystemDirectory(path) || IsSystemDirectory(CanonicalPath(path))) {
    *error = "it is a system directory; choose a directory of its own for the server";
    return false;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      *error = "it exists and is not a directory";
      return false;
    }
    if (access(path.c_str(), W_OK | X_OK) != 0) {
      *error = std::string("it is not writable (") + ErrnoText(errno) + ")";
      return false;
    }
    return true;
  }
  // A file in the way shows as ENOTDIR; the walk up below names it.
  if (errno != ENOENT && errno != ENOTDIR) {
    *error = ErrnoText(errno);
    return false;
  }
  // It will be created: the nearest existing ancestor must allow that.
  std::string ancestor = DirectoryOf(path);
  while (ancestor != "/" && stat(ancestor.c_str(), &st) != 0)
    ancestor = DirectoryOf(ancestor);
  if (!IsDirectoryFollowingLinks(ancestor)) {
    *error = ancestor + " is not a directory";
    return false;
  }
  if (access(ancestor.c_str(), W_OK | X_OK) != 0) {
    *error = "it cannot be created in " + ancestor + " (" + ErrnoText(errno) + ")";
    return false;
  }
  return true;
}

std::string InstallDirMessage(const std::string& dir, const std::string& why) {
  return "ERROR: Cannot install into " + ShownText(dir) + ": " + why + "\n";
}

std::string PathInInstallDir(const std::string& dir, const std::string& name) {
  if (!name.empty() && name[0] == '/')
    return name;
  return dir == "/" ? "/" + name : dir + "/" + name;
}

bool MakeDirectories(const std::string& path, std::string* error) {
  std::vector<std::string> parts = Components(path);
  std::string current = path.empty() || path[0] != '/' ? "." : "";
  for (const std::string& part : parts) {
    current += "/" + part;
    if (mkdir(current.c_str(), 0755) == 0)
      continue;
    int err = errno;
    if (err == EEXIST && IsDirectoryFollowingLinks(current))
      continue;
    *error = ErrnoMessage(current, err == EEXIST ? ENOTDIR : err);
    return false;
  }
  return true;
}
