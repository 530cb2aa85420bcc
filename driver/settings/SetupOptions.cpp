#include "driver/settings/SetupOptions.h"

#include "common/IsOneOf.h"

SetupOptions::SetupOptions(int argc, const char** argv)
    : m_bCheck(false), m_bReinstall(false), m_bHelp(false) {
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (i > 0 && arg != nullptr) {
      if (IsOneOf(arg, {"--check"})) {
        m_bCheck = true;
        continue;
      }
      if (IsOneOf(arg, {"--reinstall"})) {
        m_bReinstall = true;
        continue;
      }
      if (IsOneOf(arg, {"--take-new-config"})) {
        m_bTakeNewConfig = true;
        continue;
      }
      if (IsOneOf(arg, {"--help", "-h", "/?"})) {
        m_bHelp = true;
        continue;
      }
    }
    m_rest.push_back(arg);
  }
}
