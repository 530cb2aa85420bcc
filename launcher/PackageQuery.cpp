#include "launcher/PackageQuery.h"

#include <string.h>

bool PackageQuery::Find(int argc, char** argv, PackageQuery* query, std::string* problem) {
  PackageQuery found;
  int given = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr)
      continue;
    if (strcmp(arg, "--info") == 0) {
      found.kind = kInfo;
    } else if (strcmp(arg, "--list") == 0) {
      found.kind = kList;
    } else if (strcmp(arg, "--extract-only") == 0) {
      found.kind = kExtractOnly;
      if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == '\0') {
        *problem = "\nError: --extract-only needs a directory: --extract-only DIR\n";
        return false;
      }
      found.dir = argv[++i];
    } else {
      continue;
    }
    ++given;
  }
  if (given > 1) {
    *problem = "\nError: give only one of --info, --list and --extract-only\n";
    return false;
  }
  *query = found;
  return true;
}
