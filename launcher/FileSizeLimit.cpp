#include "launcher/FileSizeLimit.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <vector>

#include "common/DirectoryListing.h"
#include "common/Format.h"

uint64_t FileSizeLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return 0;
  return static_cast<uint64_t>(limit.rlim_cur);
}

std::string FileSizeLimitText(const std::string& name, uint64_t limit) {
  return FormatText("%s reached the file size limit of %llu bytes (ulimit -f)", name.c_str(),
                    static_cast<unsigned long long>(limit));
}

bool FindFileAtLimit(const std::string& dir, uint64_t limit, std::string* path) {
  std::vector<std::string> names;
  std::string ignored;
  if (!ListDirectory(dir, &names, &ignored))
    return false;
  for (const std::string& name : names) {
    const std::string entry = dir + "/" + name;
    struct stat st;
    if (lstat(entry.c_str(), &st) != 0)
      continue;
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) >= limit) {
      *path = entry;
      return true;
    }
    if (S_ISDIR(st.st_mode) && FindFileAtLimit(entry, limit, path))
      return true;
  }
  return false;
}
