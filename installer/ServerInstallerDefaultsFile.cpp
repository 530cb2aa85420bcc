// The installer defaults file: Name=Value lines that preset settings.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "console/ConsoleUI.h"
#include "installer/OwnStores.h"
#include "installer/ServerInstaller.h"

namespace {

// Names are ASCII words whatever the process's locale says.
bool IsNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsTrailingSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  }
  return a[i] == '\0' && i == b.size();
}

// A number as strtol reads it in base 10, brought into the range of an int.
int ReadNumber(const std::string& value) {
  long number = strtol(value.c_str(), nullptr, 10);
  if (number > INT_MAX)
    return INT_MAX;
  if (number < INT_MIN)
    return INT_MIN;
  return static_cast<int>(number);
}

// Opens path for reading only if it is a regular file: a directory, FIFO or
// device is refused before it can be read or waited on. Null with errno set
// (EISDIR for a directory, EINVAL for anything else that is not a file).
FILE* OpenRegularFile(const char* path) {
  struct stat info;
  if (stat(path, &info) != 0)
    return nullptr;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return nullptr;
  }
  // O_NONBLOCK: should the name be swapped for a FIFO after the check, the
  // open does not wait for a writer; the second check then refuses it.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  int err = 0;
  if (fstat(fd, &info) != 0)
    err = errno;
  else if (!S_ISREG(info.st_mode))
    err = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  if (err != 0) {
    close(fd);
    errno = err;
    return nullptr;
  }
  FILE* file = fdopen(fd, "r");
  if (file == nullptr) {
    err = errno;
    close(fd);
    errno = err;
  }
  return file;
}

}  // namespace

std::vector<ServerInstaller::InstCfgItem> ServerInstaller::DefaultsFileItems() {
  // Built afresh at each call so that the port targets point into the
  // current port table.
  return {
      {"DefInstallPath", &m_szDefInstallPath, 0},
      {"AdminUserID", &m_szAdminUserID, 0},
      {"AdminPassword", &m_szAdminPassword, 0},
      {"AdminRealm", &m_szAdminRealm, 0},
      {"AdminPort", &m_pPorts[5].nPort, 2},
      {"EncoderUserID", &m_szEncoderUserID, 0},
      {"EncoderPassword", &m_szEncoderPassword, 0},
      {"EncoderRealm", &m_szEncoderRealm, 0},
      {"RBSEncoderRealm", &m_szRBSEncoderRealm, 0},
      {"WMEncoderRealm", &m_szWMEncoderRealm, 0},
      {"ContentRealm", &m_szContentRealm, 0},
      {"MonitorPassword", &m_szMonitorPassword, 0},
      {"MonitorPort", &m_pPorts[0].nPort, 2},
      {"HTTPPort", &m_pPorts[3].nPort, 2},
      {"RTSPPort", &m_pPorts[1].nPort, 2},
      {"VQXPort", &m_pPorts[2].nPort, 2},
      {"MMSPort", &m_pPorts[4].nPort, 2},
      {"LoggingStyle", &m_szLoggingStyle, 0},
      {"BackupOldFiles", &m_bBackupOldFiles, 1},
      {"SilentInstall", &m_bSilentInstall, 1},
      {"NonInteractiveInstall", &m_bNonInteractiveInstall, 1},
      {"DebugInstall", &m_bDebugInstall, 1},
      {nullptr, nullptr, 0},
  };
}

int ServerInstaller::ReadInstallerDefaults(const char* fileName) {
  std::vector<InstCfgItem> items = DefaultsFileItems();
  OwnStores own(this);
  return ReadInstallerConfigItems(fileName, items.data(), nullptr);
}

int ServerInstaller::ReadInstallerConfigItems(const char* path, const InstCfgItem* items,
                                              ConsoleUI* ui) {
  FILE* file = OpenRegularFile(path);
  if (file == nullptr)
    return -1;

  char* buffer = nullptr;
  size_t capacity = 0;
  // Each line is read whole, however long: the tail of a long line must never
  // be taken for a line of its own.
  while (getline(&buffer, &capacity, file) >= 0) {
    // The line ends at an embedded NUL as well.
    const char* p = buffer;
    while (*p == ' ')
      ++p;
    const char* nameStart = p;
    while (IsNameChar(*p))
      ++p;
    std::string name(nameStart, p);
    while (*p == ' ' || *p == '\t' || *p == '=')
      ++p;
    const char* valueStart = p;
    while (*p != '\0' && *p != '\n' && *p != '\r')
      ++p;
    std::string value(valueStart, p);
    while (!value.empty() && IsTrailingSpace(value.back()))
      value.pop_back();

    for (const InstCfgItem* item = items; item != nullptr && item->szName != nullptr; ++item) {
      if (!SameNameIgnoringCase(item->szName, name))
        continue;
      if (ui != nullptr)
        ui->ShowMessage("      :Config: %s = %s\n", item->szName, value.c_str());
      if (item->pTarget == nullptr)
        continue;
      if (item->nType == 1 || item->nType == 2) {
        *static_cast<int*>(item->pTarget) = ReadNumber(value);
      } else if (item->nType == 0 && !value.empty()) {
        // The old text is not released here: a caller may still hold it.
        *static_cast<char**>(item->pTarget) = CopyForStore(value.c_str());
      }
    }
  }
  free(buffer);
  fclose(file);
  return 0;
}
