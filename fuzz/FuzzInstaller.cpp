#include "fuzz/FuzzInstaller.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "common/FileIo.h"

namespace {

size_t FormattedLength(const char* format, va_list args) {
  char buffer[256];
  int length = vsnprintf(buffer, sizeof buffer, format, args);
  return length > 0 ? static_cast<size_t>(length) : 0;
}

std::string g_harnessFile;

void RemoveHarnessFile() {
  if (!g_harnessFile.empty())
    unlink(g_harnessFile.c_str());
}

}  // namespace

void QuietUI::ShowMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shownBytes += FormattedLength(format, args);
  va_end(args);
}

void QuietUI::ShowErrorMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shownBytes += FormattedLength(format, args);
  va_end(args);
}

const char FuzzInstaller::kConfigName[] = "fuzz.cfg";

FuzzInstaller::FuzzInstaller(std::string configPath) : m_configPath(std::move(configPath)) {
  delete m_pUI;
  m_pUI = new QuietUI;
}

void FuzzInstaller::CleanUpAndExit(int status, ConsoleUI*) {
  throw FuzzExit{status};
}

int FuzzInstaller::ReadInstallerDefaults(const char* fileName) {
  // The parser hands over "../" + the name as typed, or an absolute name.
  std::string relative = std::string("../") + kConfigName;
  if (strcmp(fileName, relative.c_str()) != 0) {
    errno = ENOENT;
    return -1;
  }
  return ServerInstaller::ReadInstallerDefaults(m_configPath.c_str());
}

int FuzzInstaller::ReadInstallerConfigItems(const char* path, const InstCfgItem* items,
                                            ConsoleUI* ui) {
  return ServerInstaller::ReadInstallerConfigItems(path, items, ui != nullptr ? ui : m_pUI);
}

size_t FuzzInstaller::SettingsLength() const {
  const char* const texts[] = {
      m_szAdminUserID,           m_szAdminPassword,       m_szAdminRealm,
      m_szEncoderUserID,         m_szEncoderPassword,     m_szEncoderRealm,
      m_szRBSEncoderRealm,       m_szWMEncoderRealm,      m_szCDistRealm,
      m_szContentRealm,          m_szMonitorPassword,     m_szConfigFileName,
      m_szDefaultConfigFileName, m_szInstallerConfigFile, m_szLoggingStyle,
      m_szLocalHostName,         m_szDefInstallPath,
  };
  size_t total = 0;
  for (const char* text : texts)
    total += text != nullptr ? strlen(text) : 0;
  return total;
}

const std::string& HarnessFile() {
  if (g_harnessFile.empty()) {
    // Rewriting a file at each run is slow on a disk file system (ext4
    // flushes a truncated file); shared memory is a file system in memory.
    const char* tmp = getenv("TMPDIR");
    std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (access("/dev/shm", W_OK) == 0)
      dir = "/dev/shm";
    std::string pattern = dir + "/strata-fuzz-XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd < 0) {
      perror("mkstemp");
      abort();
    }
    close(fd);
    g_harnessFile = pattern;
    atexit(RemoveHarnessFile);
  }
  return g_harnessFile;
}

void WriteHarnessFile(const uint8_t* data, size_t size) {
  int fd = open(HarnessFile().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    perror("open");
    abort();
  }
  if (!WriteAll(fd, data, size)) {
    perror("write");
    abort();
  }
  close(fd);
}
