#include "driver/installation/StagedInstallation.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CrashPoint.h"
#include "common/DirectoryListing.h"
#include "common/DurableFiles.h"
#include "common/FileKind.h"
#include "common/RemoveTree.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "driver/installation/ProductFiles.h"
#include "driver/journal/InstallationLock.h"
#include "driver/journal/Recovery.h"
#include "driver/record/InstallManifest.h"
#include "installer/BackupName.h"
#include "installer/ServerInstaller.h"
#include "installer/WorkingDirectory.h"

namespace {

const char kStagePattern[] = "/.strata-setup.XXXXXX";
const char kSetupProgram[] = "Bin/setup";

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
      m_bRestored(true),
      m_bJournalled(false) {}

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

bool StagedInstallation::CheckLinkedDirectories(const std::string& productDir,
                                                const std::string& dir, std::string* error) {
  struct stat top;
  std::vector<std::string> names;
  std::string ignored;
  if (stat(dir.c_str(), &top) != 0 || !ListDirectory(productDir, &names, &ignored))
    return true;
  for (const std::string& name : names) {
    std::string path = Join(dir, name);
    struct stat product;
    struct stat link;
    struct stat followed;
    if (stat((productDir + "/" + name).c_str(), &product) != 0 || !S_ISDIR(product.st_mode) ||
        lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) ||
        stat(path.c_str(), &followed) != 0 || !S_ISDIR(followed.st_mode) ||
        followed.st_dev == top.st_dev)
      continue;
    // The new files are staged in the linked directory itself.
    if (access(path.c_str(), W_OK | X_OK) != 0) {
      *error = "ERROR: Unable to install the product's files: " + path +
               " is a symbolic link to a directory on another file system that setup cannot "
               "write into (" +
               ErrnoText(errno) + "); nothing has been changed\n";
      return false;
    }
  }
  return true;
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

  // A directory this run created is locked at once, as the earlier one
  // would have been (its ancestor's lock covered it until now).
  if (!m_sCreatedTop.empty() && InstallationLock::LockedDirectory() == m_sDir &&
      !InstallationLock::LockCreated(m_sDir, error)) {
    // Another run found it first and works in it now: it is not ours to
    // remove.
    ForgetTreeRemoval(m_sCreatedTop.c_str());
    m_sCreatedTop.clear();
    return false;
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
  InstallJournal journal;
  if (!PlanSwitch(error) || !MakeStagedDurable(error) || !WriteJournal(&journal, error))
    return false;
  return TakeSteps(&journal, error);
}

bool StagedInstallation::PlanSwitch(std::string* error) {
  m_steps.clear();
  m_movedToOld.clear();
  m_linkedStages.clear();
  m_linkedCounters.clear();
  // The installer is placed with the product but never stays in an
  // installation: what a crash leaves must not hold it.
  std::string setup = m_sNew + "/" + kSetupProgram;
  if (unlink(setup.c_str()) != 0 && errno != ENOENT) {
    *error = ErrnoMessage(setup, errno);
    return false;
  }
  struct stat stage;
  if (stat(m_sStage.c_str(), &stage) != 0) {
    *error = ErrnoMessage(m_sStage, errno);
    return false;
  }
  Area area = {m_sAside, stage.st_dev, &m_nAside};
  return PlanDirectory(m_sNew, m_sDir, area, true, error);
}

bool StagedInstallation::MakeStagedDurable(std::string* error) {
  // Every new file and directory on disk before the first earlier one
  // moves; then the journal that says what moves where.
  CrashPoint();
  if (!SyncTree(m_sStage, error) || !SyncPath(m_sDir, error) || !SyncParentDirectory(m_sDir, error))
    return false;
  for (const std::string& linked : m_linkedStages) {
    if (!SyncTree(Join(m_sDir, linked), error) || !SyncParentDirectory(Join(m_sDir, linked), error))
      return false;
  }
  return true;
}

bool StagedInstallation::WriteJournal(InstallJournal* journal, std::string* error) {
  journal->action = InstallJournal::Action::kInstall;
  journal->pid = getpid();
  InstallManifest record;
  std::string ignored;
  if (record.Read(m_sNew, &ignored))
    journal->generation = record.packageDigest + " " + record.installedAt;
  journal->stages.push_back(Relative(m_sStage));
  journal->stages.insert(journal->stages.end(), m_linkedStages.begin(), m_linkedStages.end());
  journal->steps = JournalSteps(m_steps.size());
  // Held off until the installation is either in place or undone, and
  // then until the driver has shown what was done: a signal in the middle
  // would leave half of each, or passwords never shown.
  HoldCleanupSignals();
  if (!journal->Write(m_sDir, error))
    return false;
  m_bJournalled = true;
  return true;
}

bool StagedInstallation::TakeSteps(InstallJournal* journal, std::string* error) {
  size_t taken = 0;
  while (taken < m_steps.size() && TakeStep(m_steps[taken], error))
    ++taken;
  std::string ignored;
  if (taken < m_steps.size()) {
    std::string undoError;
    m_movedToOld.clear();
    std::vector<JournalStep> done = JournalSteps(taken);
    if (!Recovery::RollBack(m_sDir, done, &undoError)) {
      *error += "; " + undoError;
      m_bRestored = false;
      // The journal stays: the next run's recovery tries again.
      return false;
    }
    Recovery::SyncSteps(m_sDir, done, &ignored);
    InstallJournal::Remove(m_sDir, &ignored);
    m_bJournalled = false;
    return false;
  }
  // Every step is taken; should it not reach the disk, the journal stays
  // for the next run's recovery, and nothing claims the earlier
  // installation unchanged.
  CrashPoint();
  journal->state = InstallJournal::State::kDone;
  std::string why;
  if (!Recovery::SyncSteps(m_sDir, journal->steps, &why) || !journal->Write(m_sDir, &why)) {
    *error = why;
    m_bRestored = false;
    return false;
  }
  m_bSwitched = true;
  // What Prepare created is the installation now.
  if (!m_sCreatedTop.empty())
    ForgetTreeRemoval(m_sCreatedTop.c_str());
  return true;
}

std::string StagedInstallation::Relative(const std::string& path) const {
  std::string prefix = m_sDir == "/" ? "/" : m_sDir + "/";
  return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

std::vector<JournalStep> StagedInstallation::JournalSteps(size_t count) const {
  std::vector<JournalStep> steps;
  for (size_t i = 0; i < count && i < m_steps.size(); ++i) {
    JournalStep step = m_steps[i].step;
    step.path = Relative(step.path);
    if (step.kind == JournalStep::Kind::kRename)
      step.target = Relative(step.target);
    steps.push_back(step);
  }
  return steps;
}

bool StagedInstallation::PlanDirectory(const std::string& staged, const std::string& dest,
                                       const Area& area, bool top, std::string* error) {
  std::vector<std::string> names;
  if (!ListDirectory(staged, &names, error))
    return false;
  bool backups = top && m_bBackup;
  for (const std::string& name : names) {
    std::string from = staged + "/" + name;
    std::string to = Join(dest, name);
    if (backups && IsBackupName(name)) {
      PlanBackupName(name, from, area);
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
      PlanMove(from, to);
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
          Step step;
          step.step.kind = JournalStep::Kind::kChmod;
          step.step.path = to;
          step.step.mode = mode;
          step.step.earlierMode = target.st_mode & 07777;
          step.nameSource = false;
          m_steps.push_back(step);
        }
        if (linkedDirectory && followed.st_dev != area.device) {
          Area linked;
          std::string linkedNew;
          if (!PrepareLinkedArea(from, to, &linked, &linkedNew, error) ||
              !PlanDirectory(linkedNew, to, linked, false, error))
            return false;
          continue;
        }
        if (!PlanDirectory(from, to, area, false, error))
          return false;
        continue;
      }
    }
    PlanMoveAside(to, area);
    PlanMove(from, to);
  }
  if (backups) {
    // Names of the backup list that the new installation does not have are
    // still backed up, as the earlier installation's.
    for (const char* name : ServerInstaller::g_pBackupNames) {
      bool inNew = false;
      for (const std::string& stagedName : names)
        inNew = inNew || stagedName == name;
      if (!inNew && Exists(Join(dest, name)))
        PlanBackupName(name, std::string(), area);
    }
  }
  return true;
}

bool StagedInstallation::PrepareLinkedArea(const std::string& staged, const std::string& linked,
                                           Area* area, std::string* newRoot, std::string* error) {
  // The administrator's directory on another file system: a rename cannot
  // reach it, so the new files are copied to a staging directory there and
  // renamed into place from it, all or nothing like the rest.
  std::string pattern = linked + kStagePattern;
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  std::string stage;
  {
    CleanupSignalBlock block;
    if (mkdtemp(buffer.data()) == nullptr) {
      *error = ErrnoMessage(linked + " (a symbolic link to another file system)", errno);
      return false;
    }
    m_linkedStages.push_back(Relative(buffer.data()));
    stage = buffer.data();
  }
  *newRoot = stage + "/new";
  std::string aside = stage + "/old";
  if (mkdir(newRoot->c_str(), 0755) != 0 || mkdir(aside.c_str(), 0700) != 0) {
    *error = ErrnoMessage(stage, errno);
    return false;
  }
  ProductFiles copy(staged, *newRoot);
  copy.SetCopyAlways(true);
  if (!copy.Place(error))
    return false;
  struct stat st;
  if (stat(stage.c_str(), &st) != 0) {
    *error = ErrnoMessage(stage, errno);
    return false;
  }
  m_linkedCounters.push_back(0);
  *area = {aside, st.st_dev, &m_linkedCounters.back()};
  return true;
}

void StagedInstallation::PlanBackupName(const std::string& name, const std::string& staged,
                                        const Area& area) {
  std::string path = Join(m_sDir, name);
  std::string backup = BackupNameOf(path);
  // The older backup goes aside rather than away, so that it is there
  // again should the switch be undone.
  if (Exists(backup))
    PlanMoveAside(backup, area);
  if (Exists(path)) {
    Step step;
    step.step.kind = JournalStep::Kind::kRename;
    step.step.path = path;
    step.step.target = backup;
    step.backupName = name;
    step.nameSource = false;
    m_steps.push_back(step);
  }
  if (!staged.empty())
    PlanMove(staged, path);
}

void StagedInstallation::PlanMove(const std::string& from, const std::string& to, bool nameSource) {
  Step step;
  step.step.kind = JournalStep::Kind::kRename;
  step.step.path = from;
  step.step.target = to;
  step.nameSource = nameSource;
  m_steps.push_back(step);
}

void StagedInstallation::PlanMoveAside(const std::string& path, const Area& area) {
  PlanMove(path, area.aside + "/" + std::to_string(++*area.counter), true);
}

bool StagedInstallation::TakeStep(const Step& planned, std::string* error) {
  const JournalStep& step = planned.step;
  CrashPoint();
  if (step.kind == JournalStep::Kind::kChmod) {
    if (chmod(step.path.c_str(), step.mode) != 0) {
      *error = ErrnoMessage(step.path, errno);
      return false;
    }
    return true;
  }
  if (!planned.backupName.empty()) {
    // The framework backs a name up relative to the installation directory.
    SavedWorkingDirectory saved;
    std::string why;
    if (!saved.ChangeTo(m_sDir.c_str(), &why)) {
      *error = m_sDir + ": " + why;
      return false;
    }
    errno = 0;
    int result = m_installer.BackupIfPresent(planned.backupName.c_str());
    int err = errno;
    saved.Restore(&why);
    bool moved = !Exists(step.path) && Exists(step.target);
    if (moved)
      m_movedToOld.push_back(planned.backupName);
    if (result != 0 || !moved) {
      m_bBackupFailed = true;
      *error = step.path + " could not be moved to " + planned.backupName + kBackupSuffix;
      if (result != 0 && err != 0)
        *error += std::string(": ") + ErrnoText(err);
      return false;
    }
    return true;
  }
  if (Rename(step.path.c_str(), step.target.c_str()) != 0) {
    // The message names the entry of the installation directory.
    *error = ErrnoMessage(planned.nameSource ? step.path : step.target, errno);
    return false;
  }
  return true;
}

int StagedInstallation::Rename(const char* from, const char* to) {
  return rename(from, to);
}

bool StagedInstallation::Finish(std::string* error) {
  if (m_sStage.empty())
    return true;
  bool removed = true;
  for (const std::string& linked : m_linkedStages) {
    CrashPoint();
    removed = RemoveTree(Join(m_sDir, linked), error) && removed;
  }
  CrashPoint();
  removed = RemoveTree(m_sStage, error) && removed;
  ForgetSignalRemovals();
  m_sStage.clear();
  // Last: until the staging directories are gone, the journal names them
  // for the next run to remove.
  if (removed && m_bJournalled)
    removed = InstallJournal::Remove(m_sDir, error);
  m_bJournalled = false;
  return removed;
}

void StagedInstallation::Discard() {
  std::string ignored;
  if (m_bJournalled) {
    // A switch that could not be undone: the staging directory holds
    // earlier files, and the journal names it for the next run's recovery.
    ForgetSignalRemovals();
    return;
  }
  for (const std::string& linked : m_linkedStages)
    RemoveTree(Join(m_sDir, linked), &ignored);
  m_linkedStages.clear();
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
