#include "driver/SetupOptions.h"

#include <string.h>

#include "installer/ServerInstaller.h"

namespace {

bool IsOneOf(const char* arg, std::initializer_list<const char*> forms) {
  for (const char* form : forms) {
    if (strcmp(arg, form) == 0)
      return true;
  }
  return false;
}

bool TakesValue(const char* arg) {
  for (const char* const* form = ServerInstaller::g_pValueOptions; *form != nullptr; ++form) {
    if (strcmp(arg, *form) == 0)
      return true;
  }
  return false;
}

}  // namespace

SetupOptions::SetupOptions(int argc, const char** argv)
    : m_bCheck(false), m_bReinstall(false), m_bHelp(false) {
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (i > 0 && arg != nullptr) {
      if (strcmp(arg, "--check") == 0) {
        m_bCheck = true;
        continue;
      }
      if (strcmp(arg, "--reinstall") == 0) {
        m_bReinstall = true;
        continue;
      }
      if (IsOneOf(arg, {"--help", "-h", "/?"})) {
        m_bHelp = true;
        continue;
      }
      // "-d --check" is a directory named "--check" to nobody: the framework
      // takes no value that begins with "-", so only other values are kept.
      if (TakesValue(arg) && i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '-') {
        m_rest.push_back(arg);
        m_rest.push_back(argv[++i]);
        continue;
      }
    }
    m_rest.push_back(arg);
  }
}
