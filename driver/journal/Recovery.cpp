#include "driver/journal/Recovery.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "common/CrashPoint.h"
#include "common/DirectoryListing.h"
#include "common/DurableFiles.h"
#include "common/FileKind.h"
#include "common/Path.h"
#include "common/RemoveTree.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallLog.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/InstallTree.h"

namespace {

const char kStagePrefix[] = ".strata-setup.";

std::string Join(const std::string& dir, const std::string& relative) {
  return dir == "/" ? "/" + relative : dir + "/" + relative;
}

bool Fail(const std::string& path, std::string* error) {
  *error = ErrnoMessage(path, errno);
  return false;
}

}  // namespace

Recovery::Recovery(std::string dir) : m_sDir(std::move(dir)), m_bHaveJournal(false) {}

std::string Recovery::Path(const std::string& relative) const {
  return Join(m_sDir, relative);
}

bool Recovery::IsStagingName(const std::string& name) {
  return name.compare(0, sizeof kStagePrefix - 1, kStagePrefix) == 0;
}

std::vector<std::string> Recovery::FindStages(const std::string& dir) {
  std::vector<std::string> stages;
  std::vector<std::string> names;
  std::string ignored;
  if (!ListDirectory(dir, &names, &ignored))
    return stages;
  for (const std::string& name : names) {
    std::string path = Join(dir, name);
    struct stat st;
    if (IsStagingName(name)) {
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        stages.push_back(name);
      continue;
    }
    // A directory the administrator put on another file system gets a
    // staging directory of its own there.
    struct stat followed;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) ||
        stat(path.c_str(), &followed) != 0 || !S_ISDIR(followed.st_mode))
      continue;
    std::vector<std::string> inner;
    if (!ListDirectory(path, &inner, &ignored))
      continue;
    for (const std::string& innerName : inner) {
      if (IsStagingName(innerName) && lstat((path + "/" + innerName).c_str(), &st) == 0 &&
          S_ISDIR(st.st_mode))
        stages.push_back(name + "/" + innerName);
    }
  }
  return stages;
}

bool Recovery::Inspect(std::string* error) {
  m_bHaveJournal = false;
  std::string why;
  if (!m_journal.Read(m_sDir, &m_bHaveJournal, &why)) {
    *error =
        "the journal of an interrupted run cannot be read (" + why + "); nothing has been changed";
    return false;
  }
  m_deadStages.clear();
  for (const std::string& stage : FindStages(m_sDir)) {
    bool journalled = m_bHaveJournal && std::find(m_journal.stages.begin(), m_journal.stages.end(),
                                                  stage) != m_journal.stages.end();
    if (!journalled)
      m_deadStages.push_back(stage);
  }
  return true;
}

std::vector<std::string> Recovery::Describe(bool wouldDo) const {
  std::vector<std::string> lines;
  const std::string lead = wouldDo ? "Recovery needed: " : "Recovery: ";
  std::string by = m_journal.pid > 0 ? " by process " + std::to_string(m_journal.pid) : "";
  if (m_bHaveJournal) {
    std::string what;
    switch (m_journal.action) {
      case InstallJournal::Action::kInstall:
        if (m_journal.state == InstallJournal::State::kDone) {
          what = std::string(wouldDo ? "would finish" : "finished") +
                 " the clean-up after the installation" + by + " in " + m_sDir +
                 ", which was complete";
        } else if (!m_sUndoReason.empty()) {
          what = "undid the interrupted installation" + by + " in " + m_sDir + " (" +
                 m_sUndoReason + "); the earlier installation stands";
        } else {
          what = std::string(wouldDo ? "would complete" : "completed") +
                 " the interrupted installation" + by + " in " + m_sDir +
                 " (every new file had been written to disk before it stopped)";
        }
        break;
      case InstallJournal::Action::kRestoreBackup:
        what = std::string(wouldDo ? "would complete" : "completed") +
               " the interrupted restoring of the backup" + by + " in " + m_sDir;
        break;
      case InstallJournal::Action::kUninstall:
        what = std::string(wouldDo ? "would complete" : "completed") + " the interrupted removal" +
               by + " of the installation in " + m_sDir;
        break;
    }
    lines.push_back(lead + what);
  }
  for (const std::string& stage : m_deadStages) {
    lines.push_back(lead + (wouldDo ? "would remove " : "removed ") + Path(stage) +
                    ", left by an interrupted run");
  }
  return lines;
}

bool Recovery::Run(std::vector<std::string>* lines, std::string* error) {
  m_sUndoReason.clear();
  if (m_bHaveJournal) {
    if (m_journal.state == InstallJournal::State::kSwitching && !FinishSwitch(error))
      return false;
    if (!RemoveStages(m_journal.stages, error) || !InstallJournal::Remove(m_sDir, error))
      return false;
  }
  if (!RemoveStages(m_deadStages, error))
    return false;
  *lines = Describe(false);
  LogWhatWasDone(*lines);
  return true;
}

bool Recovery::FinishSwitch(std::string* error) {
  bool forward = true;
  std::string why;
  if (!RollForward(m_sDir, m_journal.steps, &why)) {
    if (m_journal.action != InstallJournal::Action::kInstall) {
      *error = "the interrupted " + std::string(InstallJournal::ActionText(m_journal.action)) +
               " in " + m_sDir + " cannot be completed (" + why + ")";
      return false;
    }
    forward = false;
    m_sUndoReason = why;
    std::string undoWhy;
    if (!RollBack(m_sDir, m_journal.steps, &undoWhy)) {
      *error = "the interrupted installation in " + m_sDir +
               " can neither be completed nor undone (" + why + "; " + undoWhy + ")";
      return false;
    }
  }
  CrashPoint();
  if (!SyncSteps(m_sDir, m_journal.steps, error))
    return false;
  // Marked done so that a later run does not try again what is on disk.
  if (forward) {
    InstallJournal done = m_journal;
    done.state = InstallJournal::State::kDone;
    if (!done.Write(m_sDir, error))
      return false;
  }
  return true;
}

bool Recovery::RemoveStages(const std::vector<std::string>& stages, std::string* error) const {
  for (const std::string& stage : stages) {
    CrashPoint();
    if (!RemoveTree(Path(stage), error))
      return false;
  }
  return true;
}

void Recovery::LogWhatWasDone(const std::vector<std::string>& lines) const {
  // The run it finished or undid could not say so itself. A log that cannot
  // be written is no reason to undo a recovery. Only where an installation or
  // its log is: a first installation undone leaves nothing behind, not even a
  // log.
  if (!Exists(Path(InstallManifest::kFileName)) &&
      !Exists(Path(DirectoryOf(InstallLog::kFileName))))
    return;
  // A removal or a rollback that the recovery completed is that action,
  // done by another run: the log says so.
  std::string action = "recovery";
  if (m_bHaveJournal && m_journal.action == InstallJournal::Action::kRestoreBackup)
    action = "rollback completed by recovery";
  else if (m_bHaveJournal && m_journal.action == InstallJournal::Action::kUninstall)
    action = "uninstall completed by recovery";
  InstallLog log(action, m_sDir);
  if (m_bHaveJournal)
    log.SetPackage("", m_journal.generation.substr(0, m_journal.generation.find(' ')));
  for (const std::string& line : lines)
    log.AddNote(line);
  std::string ignored;
  log.Append(&ignored);
}

size_t Recovery::TakenCount(const std::string& dir, const std::vector<JournalStep>& steps) {
  // The steps were taken in order: everything up to the last rename taken
  // is done. A rename taken leaves its source gone and its target there,
  // and every rename before it has its target there too; the second test
  // tells a rename taken from one whose source was lost before it.
  for (size_t i = steps.size(); i > 0; --i) {
    const JournalStep& step = steps[i - 1];
    if (step.kind != JournalStep::Kind::kRename || Exists(Join(dir, step.path)) ||
        !Exists(Join(dir, step.target)))
      continue;
    bool consistent = true;
    for (size_t j = 0; j + 1 < i && consistent; ++j) {
      if (steps[j].kind == JournalStep::Kind::kRename)
        consistent = Exists(Join(dir, steps[j].target));
    }
    if (consistent)
      return i;
  }
  return 0;
}

bool Recovery::RollForward(const std::string& dir, const std::vector<JournalStep>& steps,
                           std::string* error) {
  size_t first = TakenCount(dir, steps);
  for (size_t i = first; i < steps.size(); ++i) {
    const JournalStep& step = steps[i];
    std::string path = Join(dir, step.path);
    switch (step.kind) {
      case JournalStep::Kind::kRename: {
        std::string target = Join(dir, step.target);
        // The target is free until its step: there means taken.
        if (Exists(target))
          break;
        if (!Exists(path)) {
          *error = path + " and " + target + " are both gone";
          return false;
        }
        CrashPoint();
        if (rename(path.c_str(), target.c_str()) != 0) {
          *error = ErrnoMessage(target, errno);
          return false;
        }
        break;
      }
      case JournalStep::Kind::kChmod:
        CrashPoint();
        if (chmod(path.c_str(), step.mode) != 0 && errno != ENOENT) {
          *error = ErrnoMessage(path, errno);
          return false;
        }
        break;
      case JournalStep::Kind::kUnlink:
      case JournalStep::Kind::kRmdir:
        if (!RemoveStep(dir, step, error))
          return false;
        break;
    }
  }
  return true;
}

bool Recovery::RemoveStep(const std::string& dir, const JournalStep& step, std::string* error) {
  // Removals reach their names from the directory without following a
  // link, as the uninstaller does: a link planted since cannot lead them
  // outside.
  InstallTree tree;
  ScopedFd parent;
  std::string leaf;
  if (!tree.Open(dir, error))
    return false;
  if (!tree.OpenParent(step.path, &parent, &leaf))
    return errno == ENOENT || errno == ENOTDIR ? true : Fail(tree.PathOf(step.path), error);
  struct stat st;
  if (fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return true;
  bool directory = step.kind == JournalStep::Kind::kRmdir;
  // Taken already, or something else has the name now: it stays.
  if (S_ISDIR(st.st_mode) != directory)
    return true;
  CrashPoint();
  if (unlinkat(parent.Get(), leaf.c_str(), directory ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT)
    return true;
  // Whatever came into a directory since stays, and so does the directory.
  if (directory && (errno == ENOTEMPTY || errno == EEXIST))
    return true;
  return Fail(tree.PathOf(step.path), error);
}

bool Recovery::RollBack(const std::string& dir, const std::vector<JournalStep>& steps,
                        std::string* error) {
  size_t taken = TakenCount(dir, steps);
  // Mode changes up to the next rename may have been made too; putting an
  // earlier mode back is harmless either way.
  size_t undoFrom = taken;
  while (undoFrom < steps.size() && steps[undoFrom].kind == JournalStep::Kind::kChmod)
    ++undoFrom;
  std::string failed;
  for (size_t i = undoFrom; i > 0; --i) {
    const JournalStep& step = steps[i - 1];
    std::string path = Join(dir, step.path);
    if (step.kind == JournalStep::Kind::kChmod) {
      CrashPoint();
      if (chmod(path.c_str(), step.earlierMode) != 0 && errno != ENOENT)
        failed += (failed.empty() ? "" : ", ") + ErrnoMessage(path, errno);
      continue;
    }
    if (step.kind != JournalStep::Kind::kRename)
      continue;
    std::string target = Join(dir, step.target);
    // Undone already (by a recovery that stopped): the source is back.
    if (Exists(path) || !Exists(target))
      continue;
    CrashPoint();
    if (rename(target.c_str(), path.c_str()) != 0)
      failed += (failed.empty() ? "" : ", ") + ErrnoMessage(path, errno);
  }
  if (failed.empty())
    return true;
  *error = "these could not be put back as they were: " + failed;
  return false;
}

bool Recovery::SyncSteps(const std::string& dir, const std::vector<JournalStep>& steps,
                         std::string* error) {
  std::set<std::string> dirs;
  for (const JournalStep& step : steps) {
    dirs.insert(DirectoryOf(Join(dir, step.path)));
    if (step.kind == JournalStep::Kind::kRename)
      dirs.insert(DirectoryOf(Join(dir, step.target)));
    if (step.kind == JournalStep::Kind::kChmod)
      dirs.insert(Join(dir, step.path));
  }
  for (const std::string& path : dirs) {
    // A directory that a later step removed has nothing left to sync.
    if (!SyncPath(path, error) && Exists(path))
      return false;
  }
  return true;
}
