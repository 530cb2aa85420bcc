// The installer's command line.
#include <errno.h>
#include <string.h>

#include <initializer_list>
#include <string>

#include "common/IsOneOf.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "installer/ServerInstaller.h"

namespace {

// The longest path of a defaults file that the installer reads.
const size_t kMaxConfigPath = 1023;

}  // namespace

const char* const ServerInstaller::g_pValueOptions[] = {"--destination", "--dest", "-dest", "-d",
                                                        "-cfg",          nullptr};
const char* const ServerInstaller::g_pFlagOptions[] = {
    "--version",       "-v", "--help",      "-h",   "/?",  "--silent", "-s",   "/s",
    "--progress-only", "-p", "--no-backup", "--nb", "-nb", "--debug",  nullptr};

void ServerInstaller::ParseCmdLine(int argc, const char** argv) {
  // Pass one: options that end the process or change how the rest reports,
  // the program name included. The first of them decides.
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr)
      continue;
    if (IsOneOf(arg, {"--version", "-v"})) {
      if (m_pUI != nullptr)
        m_pUI->ShowMessage("%s", VersionBanner());
      CleanUpAndExit(0, m_pUI);
    }
    if (IsOneOf(arg, {"--help", "-h", "/?"})) {
      if (m_pUI != nullptr)
        m_pUI->PrintUsage("installer", nullptr);
      CleanUpAndExit(0, m_pUI);
    }
    if (IsOneOf(arg, {"--silent", "-s", "/s"})) {
      m_bSilentInstall = 1;
      m_bNonInteractiveInstall = 1;
    }
  }

  // Reports are muted in silent mode; a defaults file may change that midway.
  auto reporting = [this] { return m_bSilentInstall == 0 && m_pUI != nullptr; };

  // Pass two: the rest, left to right, after the program name.
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr)
      continue;
    bool takesValue = IsOneOf(arg, g_pValueOptions);
    const char* value = nullptr;
    if (takesValue) {
      // A following option is not taken for the value; it is examined next.
      if (i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '-') {
        value = argv[++i];
      } else {
        if (reporting())
          m_pUI->ShowErrorMessage("Option: %s must take a filename!\n", arg);
        continue;
      }
    }

    if (IsOneOf(arg, {"--progress-only", "-p"})) {
      m_bNonInteractiveInstall = 1;
      if (reporting())
        m_pUI->ShowMessage("Option: non-interactive install\n");
    } else if (IsOneOf(arg, {"--destination", "--dest", "-dest", "-d"})) {
      if (reporting())
        m_pUI->ShowMessage("Option: install to directory %s\n", value);
      m_szDefInstallPath = OwnedCopy(value);
    } else if (strcmp(arg, "-cfg") == 0) {
      if (reporting())
        m_pUI->ShowMessage("Option: read installer configuration from %s\n", value);
      m_szInstallerConfigFile = OwnedCopy(value);
      // A relative name is taken from where the user started the package,
      // the parent of the extraction directory.
      std::string path = value[0] == '/' ? std::string(value) : "../" + std::string(value);
      int result;
      if (path.size() > kMaxConfigPath) {
        errno = ENAMETOOLONG;
        result = -1;
      } else {
        result = ReadInstallerDefaults(path.c_str());
      }
      if (result != 0) {
        int err = errno;
        if (reporting())
          m_pUI->ShowErrorMessage("ERROR: Unable to read installer config file %s (%s)\n", value,
                                  ErrnoText(err));
        CleanUpAndExit(-1, m_pUI);
      }
    } else if (IsOneOf(arg, {"--no-backup", "--nb", "-nb"})) {
      if (reporting())
        m_pUI->ShowMessage("Option: no-backup\n");
      m_bBackupOldFiles = 0;
    } else if (strcmp(arg, "--debug") == 0) {
      if (reporting())
        m_pUI->ShowMessage("Option: debug\n");
      m_bDebugInstall = 1;
    } else if (reporting()) {
      m_pUI->ShowErrorMessage("ERROR: unknown command-line option: %s\n", arg);
    }
  }
}
