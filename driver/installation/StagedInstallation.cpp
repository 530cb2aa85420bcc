#include "driver/installation/StagedInstallation.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/DirectoryListing.h"
#include "common/FileKind.h"
#include "common/RemoveTree.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "installer/BackupName.h"
#include "installer/ServerInstaller.h"
#include "installer/WorkingDirectory.h"

namespace {

const char kStagePattern[] = "/.strata-setup.XXXXXX";

bool IsBackupName(const std::string& name) {
  for (const char* backup : ServerInstaller::g_pBackupNames) {
    if (name == backup)
      return true;
  }
  return false;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

}  // namespace

StagedInstallation::StagedInstallation(ServerInstaller& installer, const std::string& dir,
                                       bool backup)
    : m_installer(installer),
      m_sDir(dir),
      m_bBackup(backup),
      m_bHadEarlier(false),
      m_nAside(0),
      m_bSwitched(false),
      m_bBackupFailed(false),
      m_bRestored(true) {}

StagedInstallation::~StagedInstallation() {
  if (m_sStage.empty())
    return;
  if (m_bSwitched) {
    std::string ignored;
    Finish(&ignored);
  } else {
    Discard();
  }
  ForgetSignalRemovals();
}

bool StagedInstallation::Prepare(std::string* error) {
  struct stat st;
  if (stat(m_sDir.c_str(), &st) == 0) {
    std::vector<std::string> names;
    if (!ListDirectory(m_sDir, &names, error))
      return false;
    m_bHadEarlier = !names.empty();
  } else {
    // Made one level at a time, so that a failure can take back exactly
    // what this installation created.
    std::string current;
    std::string::size_type start = 1;
    while (start <= m_sDir.size()) {
      std::string::size_type slash = m_sDir.find('/', start);
      if (slash == std::string::npos)
        slash = m_sDir.size();
      current = m_sDir.substr(0, slash);
      start = slash + 1;
      if (current.empty() || current.back() == '/')
        continue;
      CleanupSignalBlock block;
      if (mkdir(current.c_str(), 0755) == 0) {
        if (m_sCreatedTop.empty()) {
          m_sCreatedTop = current;
          RemoveTreeOnSignal(m_sCreatedTop.c_str());
        }
        continue;
      }
      int err = errno;
      if (err == EEXIST && stat(current.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        continue;
      *error = ErrnoMessage(current, err == EEXIST ? ENOTDIR : err);
      Discard();
      return false;
    }
  }

  std::string pattern = Join(m_sDir, kStagePattern + 1);
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  {
    // Made and registered as one step: a signal in between would leave it.
    CleanupSignalBlock block;
    if (mkdtemp(buffer.data()) == nullptr) {
      *error = ErrnoMessage("cannot create a directory in " + m_sDir, errno);
      Discard();
      return false;
    }
    m_sStage = buffer.data();
    RemoveTreeOnSignal(m_sStage.c_str());
  }
  m_sNew = m_sStage + "/new";
  m_sAside = m_sStage + "/old";
  if (mkdir(m_sNew.c_str(), 0755) != 0 || mkdir(m_sAside.c_str(), 0700) != 0) {
    *error = ErrnoMessage(m_sStage, errno);
    Discard();
    return false;
  }
  return true;
}

std::string StagedInstallation::ShownPaths(const std::string& text) const {
  if (m_sNew.empty())
    return text;
  std::string shown;
  std::string::size_type at = 0;
  for (;;) {
    std::string::size_type found = text.find(m_sNew, at);
    if (found == std::string::npos)
      break;
    shown += text.substr(at, found - at) + m_sDir;
    at = found + m_sNew.size();
  }
  return shown + text.substr(at);
}

bool StagedInstallation::Switch(std::string* error) {
  // Held off until the installation is either in place or undone: a signal
  // in the middle would leave half of each.
  CleanupSignalBlock block;
  m_undo.clear();
  m_movedToOld.clear();
  // The framework backs a name up relative to the installation directory.
  SavedWorkingDirectory saved;
  std::string why;
  if (!saved.ChangeTo(m_sDir.c_str(), &why)) {
    *error = m_sDir + ": " + why;
    return false;
  }
  bool switched = SwitchDirectory(m_sNew, m_sDir, true, error);
  saved.Restore(&why);
  if (!switched) {
    std::string undoError;
    m_movedToOld.clear();
    if (!RollBack(&undoError)) {
      *error += "; " + undoError;
      m_bRestored = false;
    }
    return false;
  }
  m_undo.clear();
  m_bSwitched = true;
  // What Prepare created is the installation now.
  if (!m_sCreatedTop.empty())
    ForgetTreeRemoval(m_sCreatedTop.c_str());
  return true;
}

bool StagedInstallation::SwitchDirectory(const std::string& staged, const std::string& dest,
                                         bool top, std::string* error) {
  std::vector<std::string> names;
  if (!ListDirectory(staged, &names, error))
    return false;
  bool backups = top && m_bBackup;
  for (const std::string& name : names) {
    std::string from = staged + "/" + name;
    std::string to = Join(dest, name);
    if (backups && IsBackupName(name)) {
      if (!SwitchBackupName(name, from, error))
        return false;
      continue;
    }
    struct stat source;
    struct stat target;
    if (lstat(from.c_str(), &source) != 0) {
      *error = ErrnoMessage(from, errno);
      return false;
    }
    if (lstat(to.c_str(), &target) != 0) {
      if (errno != ENOENT) {
        *error = ErrnoMessage(to, errno);
        return false;
      }
      if (!Move(from, to, error))
        return false;
      continue;
    }
    if (S_ISDIR(source.st_mode)) {
      struct stat followed;
      bool linkedDirectory =
          S_ISLNK(target.st_mode) && stat(to.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode);
      if (S_ISDIR(target.st_mode) || linkedDirectory) {
        // A directory both have is merged: what the earlier one holds
        // besides the product's files (accounts, content) stays. It takes
        // the product's mode, unless it lies elsewhere behind a link.
        mode_t mode = source.st_mode & 07777;
        if (!linkedDirectory && (target.st_mode & 07777) != mode) {
          if (chmod(to.c_str(), mode) != 0) {
            *error = ErrnoMessage(to, errno);
            return false;
          }
          m_undo.push_back({to, std::string(), true, target.st_mode & 07777});
        }
        if (!SwitchDirectory(from, to, false, error))
          return false;
        continue;
      }
    }
    if (!MoveAside(to, error) || !Move(from, to, error))
      return false;
  }
  if (backups) {
    // Names of the backup list that the new installation does not have are
    // still backed up, as the earlier installation's.
    for (const char* name : ServerInstaller::g_pBackupNames) {
      bool inNew = false;
      for (const std::string& stagedName : names)
        inNew = inNew || stagedName == name;
      if (!inNew && Exists(Join(dest, name)) && !SwitchBackupName(name, std::string(), error))
        return false;
    }
  }
  return true;
}

bool StagedInstallation::SwitchBackupName(const std::string& name, const std::string& staged,
                                          std::string* error) {
  std::string path = Join(m_sDir, name);
  std::string backup = path + kBackupSuffix;
  // The older backup goes aside rather than away, so that it is there
  // again should the switch be undone.
  if (Exists(backup) && !MoveAside(backup, error))
    return false;
  if (Exists(path)) {
    errno = 0;
    int result = m_installer.BackupIfPresent(name.c_str());
    int err = errno;
    bool moved = !Exists(path) && Exists(backup);
    if (moved) {
      m_undo.push_back({path, backup, false, 0});
      m_movedToOld.push_back(name);
    }
    if (result != 0 || !moved) {
      m_bBackupFailed = true;
      *error = path + " could not be moved to " + name + kBackupSuffix;
      if (result != 0 && err != 0)
        *error += std::string(": ") + ErrnoText(err);
      return false;
    }
  }
  return staged.empty() || Move(staged, path, error);
}

bool StagedInstallation::Move(const std::string& from, const std::string& to, std::string* error,
                              bool nameSource) {
  if (Rename(from.c_str(), to.c_str()) != 0) {
    // The message names the entry of the installation directory.
    *error = ErrnoMessage(nameSource ? from : to, errno);
    return false;
  }
  m_undo.push_back({from, to, false, 0});
  return true;
}

int StagedInstallation::Rename(const char* from, const char* to) {
  return rename(from, to);
}

bool StagedInstallation::MoveAside(const std::string& path, std::string* error) {
  std::string aside = m_sAside + "/" + std::to_string(++m_nAside);
  return Move(path, aside, error, true);
}

bool StagedInstallation::RollBack(std::string* error) {
  std::string failed;
  for (auto undo = m_undo.rbegin(); undo != m_undo.rend(); ++undo) {
    bool undone = undo->chmodOnly ? chmod(undo->from.c_str(), undo->mode) == 0
                                  : Rename(undo->to.c_str(), undo->from.c_str()) == 0;
    if (!undone)
      failed += (failed.empty() ? "" : ", ") + ErrnoMessage(undo->from, errno);
  }
  m_undo.clear();
  if (failed.empty())
    return true;
  *error = "these could not be put back as they were: " + failed;
  return false;
}

bool StagedInstallation::Finish(std::string* error) {
  if (m_sStage.empty())
    return true;
  bool removed = RemoveTree(m_sStage, error);
  ForgetSignalRemovals();
  m_sStage.clear();
  return removed;
}

void StagedInstallation::Discard() {
  std::string ignored;
  if (!m_sStage.empty())
    RemoveTree(m_sStage, &ignored);
  if (!m_bSwitched && !m_sCreatedTop.empty())
    RemoveTree(m_sCreatedTop, &ignored);
  ForgetSignalRemovals();
  m_sStage.clear();
  m_sCreatedTop.clear();
}

void StagedInstallation::ForgetSignalRemovals() {
  if (!m_sStage.empty())
    ForgetTreeRemoval(m_sStage.c_str());
  if (!m_sCreatedTop.empty())
    ForgetTreeRemoval(m_sCreatedTop.c_str());
}
