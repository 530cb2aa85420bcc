#include "driver/uninstaller/Uninstaller.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "common/AtomicFile.h"
#include "common/CrashPoint.h"
#include "common/DirectoryListing.h"
#include "common/DurableFiles.h"
#include "common/FileIo.h"
#include "common/Path.h"
#include "common/RemoveTree.h"
#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "driver/journal/InstallJournal.h"
#include "driver/journal/InstallationLock.h"
#include "driver/journal/Recovery.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallLog.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/InstallTree.h"
#include "installer/BackupName.h"
#include "installer/PasswordDatabases.h"
#include "product/ServerVersion.h"

namespace {

const int kFailure = 255;
const int kDeclined = 1;
const char kLogsDirectory[] = "Logs";

const char kUsage[] = "Usage: uninstall [-s] [--restore-backup] [-h|--help]\n";
const char kHelp[] =
    "Removes the installation that setup made in the directory above the one\n"
    "that holds this program, as its install-manifest.txt records it. Files\n"
    "that changed since the installation and files that setup did not place\n"
    "are kept and listed; directories left empty are removed.\n"
    "\n"
    "  -s                remove without asking\n"
    "  --restore-backup  instead, roll back: put back the earlier installation\n"
    "                    that the last upgrade moved to NAME.old, with its record;\n"
    "                    accounts, Content, Logs and your files stay\n"
    "  -h, --help        show this help\n"
    "\n"
    "Exit status: 0 when the installation was removed; 1 when the question\n"
    "was answered with anything but yes (then nothing is removed); 255 with a\n"
    "message beginning \"Error: \" otherwise, also when input ends before an\n"
    "answer.\n";

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos)
    return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsYes(std::string answer) {
  answer = Trimmed(answer);
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return answer == "yes" || answer == "y";
}

}  // namespace

// The installer's console, with the one thing the question needs to know
// besides the answer: whether input ended before one was given.
class Uninstaller::Console : public ConsoleUI {
 public:
  bool InputEnded() const { return m_bInputEnded; }
};

Uninstaller::Uninstaller(std::string installDir, std::string programPath)
    : m_sDir(std::move(installDir)), m_sProgram(std::move(programPath)), m_pUI(new Console) {}

Uninstaller::~Uninstaller() = default;

bool Uninstaller::IsUninstallerName(const char* argv0) {
  return argv0 != nullptr && BaseNameOf(argv0) == InstallManifest::kUninstallerName;
}

int Uninstaller::RunProgram(int argc, const char** argv) {
  std::string program;
  std::string error;
  if (!OwnProgramPath(&program, &error)) {
    printf("Error: cannot find this program's own file: %s\n", error.c_str());
    return kFailure;
  }
  Uninstaller uninstaller(DirectoryOf(DirectoryOf(program)), program);
  return uninstaller.Main(argc, argv);
}

int Uninstaller::Main(int argc, const char** argv) {
  bool silent = false;
  bool restoreBackup = false;
  int status = 0;
  if (!ReadOptions(argc, argv, &silent, &restoreBackup, &status))
    return status;

  std::string error;
  bool finished = false;
  if (!TakeInstallation(&finished, &error)) {
    ShowError(error);
    return kFailure;
  }
  // A removal that an earlier run began is complete now: nothing is left
  // to ask about.
  if (finished) {
    m_pUI->FlushOutput();
    return 0;
  }
  InstallTree tree;
  InstallManifest manifest;
  if (!tree.Open(m_sDir, &error) || !manifest.ReadFrom(tree, &error)) {
    ShowError("no installation to remove here: " + error);
    return kFailure;
  }
  std::string product = manifest.product.empty() ? ServerVersion::ProductName() : manifest.product;
  if (!manifest.release.empty())
    product += " " + manifest.release;

  if (!silent && !Confirmed(product, restoreBackup, &status))
    return status;

  if (restoreBackup) {
    if (!Rollback(manifest, &error)) {
      ShowError(error);
      return kFailure;
    }
    m_pUI->FlushOutput();
    return 0;
  }
  if (!Remove(restoreBackup, &error)) {
    ShowError(error);
    return kFailure;
  }
  if (!silent)
    m_pUI->ShowMessage("%s was removed from %s.\n", ShownText(product).c_str(),
                       ShownText(m_sDir).c_str());
  m_pUI->FlushOutput();
  return 0;
}

bool Uninstaller::ReadOptions(int argc, const char** argv, bool* silent, bool* restoreBackup,
                              int* status) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "-s") {
      *silent = true;
    } else if (option == "--restore-backup") {
      *restoreBackup = true;
    } else if (option == "-h" || option == "--help") {
      m_pUI->ShowMessage("%s\n%s", kUsage, kHelp);
      m_pUI->FlushOutput();
      *status = 0;
      return false;
    } else {
      ShowError("unknown option " + option);
      m_pUI->FlushOutput();
      fputs(kUsage, stderr);
      *status = kFailure;
      return false;
    }
  }
  return true;
}

bool Uninstaller::Confirmed(const std::string& product, bool restoreBackup, int* status) {
  std::string question =
      (restoreBackup ? "Put the earlier installation back in place of " : "Remove ") +
      ShownText(product) + (restoreBackup ? " in " : " from ") + ShownText(m_sDir) +
      "? (yes or no)";
  char* answer = m_pUI->PromptForItem(question.c_str(), "no", nullptr, "");
  bool answered = answer != nullptr;
  std::string text = answered ? answer : "";
  delete[] answer;
  if (!answered && m_pUI->InputEnded()) {
    m_pUI->ShowMessage("\n");
    ShowError("input ended before an answer; nothing was removed.");
    *status = kFailure;
    return false;
  }
  if (!IsYes(text)) {
    m_pUI->ShowMessage("Nothing was removed.\n");
    m_pUI->FlushOutput();
    *status = kDeclined;
    return false;
  }
  return true;
}

bool Uninstaller::TakeInstallation(bool* finished, std::string* error) {
  *finished = false;
  if (!InstallationLock::Acquire(m_sDir, InstallationLock::kWaitSeconds, error))
    return false;
  Recovery recovery(m_sDir);
  if (!recovery.Inspect(error))
    return false;
  if (!recovery.Needed())
    return true;
  bool removal = recovery.Journal() != nullptr &&
                 recovery.Journal()->action != InstallJournal::Action::kInstall;
  std::vector<std::string> lines;
  std::string why;
  if (!recovery.Run(&lines, &why)) {
    *error = "cannot recover the installation: " + why;
    return false;
  }
  for (const std::string& line : lines)
    m_pUI->ShowMessage("%s\n", ShownText(line).c_str());
  struct stat st;
  // A rollback that recovery completed is done as well.
  *finished = removal && (recovery.Journal()->action == InstallJournal::Action::kRestoreBackup ||
                          lstat((m_sDir + "/" + InstallManifest::kFileName).c_str(), &st) != 0);
  return true;
}

bool Uninstaller::Remove(bool restoreBackup, std::string* error) {
  InstallTree tree;
  InstallManifest manifest;
  if (!tree.Open(m_sDir, error) || !manifest.ReadFrom(tree, error))
    return false;

  Plan plan;
  bool restorable = false;
  if (!PlanRemoval(tree, manifest, restoreBackup, &plan, &restorable, error))
    return false;

  InstallJournal journal;
  journal.action =
      restoreBackup ? InstallJournal::Action::kRestoreBackup : InstallJournal::Action::kUninstall;
  journal.pid = getpid();
  journal.generation = manifest.packageDigest + " " + manifest.installedAt;
  journal.steps = plan.steps;
  if (!journal.Write(m_sDir, error))
    return false;
  InstallLog log(restoreBackup ? "uninstall --restore-backup" : "uninstall", m_sDir);
  log.SetPackage(manifest.version, manifest.packageDigest);
  // Held off: a removal is finished, not left half done by a Ctrl-C.
  CleanupSignalBlock block;
  if (!TakeRemovalSteps(tree, plan, &log, error) || !FinishRemoval(tree, plan, &log, error))
    return false;
  if (!restorable) {
    *error = "not every backup could be restored";
    return false;
  }
  return true;
}

bool Uninstaller::PlanRemoval(const InstallTree& tree, const InstallManifest& manifest,
                              bool restoreBackup, Plan* plan, bool* restorable,
                              std::string* error) {
  // Every step is worked out first and journalled, so that a removal
  // stopped halfway is finished by the next run instead of leaving a
  // record of files that are gone.
  if (!PlanListedFiles(tree, manifest, plan)) {
    *error = "not every listed file could be checked; nothing was removed";
    return false;
  }
  bool empty = false;
  if (!PlanSweep(tree.Fd(), "", manifest, restoreBackup, plan, &empty)) {
    *error = "not every directory could be looked through; nothing was removed";
    return false;
  }
  *restorable = !restoreBackup || PlanRestore(tree, manifest, plan);
  // Last the record's key, which compares the files that hold passwords,
  // and the record, which until then says what is still to go.
  struct stat keySt;
  if (fstatat(tree.Fd(), InstallKey::kFileName, &keySt, AT_SYMLINK_NOFOLLOW) == 0) {
    JournalStep key;
    key.kind = JournalStep::Kind::kUnlink;
    key.path = InstallKey::kFileName;
    plan->steps.push_back(key);
  }
  JournalStep record;
  record.kind = JournalStep::Kind::kUnlink;
  record.path = InstallManifest::kFileName;
  plan->steps.push_back(record);
  return true;
}

bool Uninstaller::TakeRemovalSteps(const InstallTree& tree, const Plan& plan, InstallLog* log,
                                   std::string* error) {
  m_restored.clear();
  // Held open for this tree's steps only.
  m_stepDir.Reset();
  for (const JournalStep& step : plan.steps) {
    if (!TakeStep(tree, step)) {
      for (const std::string& path : plan.changed)
        log->AddFile("kept as the administrator's (changed since installation):", path);
      log->AddFile("not removed, the record stays for another run:", InstallManifest::kFileName);
      AppendLog(*log);
      // What is left is still recorded; the journal goes, so that the next
      // run does not try again what the system refuses.
      std::string ignored;
      Recovery::SyncSteps(m_sDir, plan.steps, &ignored);
      InstallJournal::Remove(m_sDir, &ignored);
      *error = "not every listed file could be removed; " +
               tree.PathOf(InstallManifest::kFileName) + " stays for another run";
      return false;
    }
  }
  return true;
}

bool Uninstaller::FinishRemoval(const InstallTree& tree, const Plan& plan, InstallLog* log,
                                std::string* error) {
  // Said once the backups that could be put back are.
  for (const std::string& problem : plan.restoreProblems)
    ShowError(problem);
  // In the order they went: the program's own file last.
  for (const JournalStep& step : plan.steps) {
    if (step.kind == JournalStep::Kind::kUnlink && plan.removed.count(step.path) != 0)
      log->AddFile("removed", step.path);
  }
  for (const std::string& path : plan.changed)
    log->AddFile("kept as the administrator's (changed since installation):", path);
  for (const std::string& name : m_restored)
    log->AddFile("restored from .old:", name);
  // The log stays, and with it the installation directory.
  AppendLog(*log);
  std::string why;
  if (!Recovery::SyncSteps(m_sDir, plan.steps, &why) || !InstallJournal::Remove(m_sDir, &why)) {
    *error = why;
    return false;
  }
  std::vector<std::string> left;
  std::string unread;
  if (ListDirectoryAt(tree.Fd(), m_sDir, &left, &unread) && left.empty() &&
      rmdir(m_sDir.c_str()) != 0) {
    *error = "cannot remove " + ErrnoMessage(m_sDir, errno);
    return false;
  }
  return true;
}

bool Uninstaller::PlanListedFiles(const InstallTree& tree, const InstallManifest& manifest,
                                  Plan* plan) {
  const std::string base = tree.PathOf("");
  std::string own;
  if (m_sProgram.compare(0, base.size(), base) == 0)
    own = m_sProgram.substr(base.size());

  // The program's own file last, so that a failure leaves the means to run
  // the removal again.
  std::vector<const ManifestEntry*> order;
  const ManifestEntry* ownEntry = nullptr;
  for (const ManifestEntry& entry : manifest.files) {
    if (entry.path == own)
      ownEntry = &entry;
    else
      order.push_back(&entry);
  }
  if (ownEntry != nullptr)
    order.push_back(ownEntry);
  // One pass over the files sorted by path, which shares the opening of
  // their directories and digests on two threads; should a file not be
  // read, each is checked on its own, so that every problem is shown.
  std::vector<ManifestEntry> sorted = manifest.files;
  std::sort(sorted.begin(), sorted.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
  std::vector<FileState> states;
  std::map<std::string, FileState> stateOf;
  std::string unread;
  if (CheckFilesAt(tree, sorted, &states, &unread)) {
    for (size_t i = 0; i < sorted.size(); ++i)
      stateOf[sorted[i].path] = states[i];
  }
  bool ok = true;
  for (const ManifestEntry* entry : order) {
    std::string problem;
    FileState state;
    auto known = stateOf.find(entry->path);
    if (known != stateOf.end()) {
      state = known->second;
    } else if (!CheckFileAt(tree, *entry, &state, &problem)) {
      ShowError(problem);
      ok = false;
      continue;
    }
    if (state == FileState::kChanged) {
      m_pUI->ShowMessage("Kept (changed since installation): %s\n", ShownText(entry->path).c_str());
      plan->changed.insert(entry->path);
    } else if (state != FileState::kMissing) {
      JournalStep step;
      step.kind = JournalStep::Kind::kUnlink;
      step.path = entry->path;
      plan->steps.push_back(step);
      plan->removed.insert(entry->path);
    }
  }
  return ok;
}

bool Uninstaller::PlanSweep(int fd, const std::string& prefix, const InstallManifest& manifest,
                            bool restoreBackup, Plan* plan, bool* empty) {
  std::vector<std::string> names;
  std::string unread;
  if (!ListDirectoryAt(fd,
                       m_sDir + (prefix.empty() ? "" : "/" + prefix.substr(0, prefix.size() - 1)),
                       &names, &unread)) {
    ShowError(unread);
    *empty = false;
    return false;
  }
  bool ok = true;
  size_t left = 0;
  for (const std::string& name : names) {
    const std::string relative = prefix + name;
    if (prefix.empty() && KeptAtTop(name, manifest, restoreBackup)) {
      ++left;
      continue;
    }
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        ShowError(ErrnoMessage(m_sDir + "/" + relative, errno));
        ok = false;
        ++left;
      }
      continue;
    }
    if (!S_ISDIR(st.st_mode) && plan->removed.count(relative) != 0)
      continue;
    // A listed file that is a directory now was shown as changed, and
    // stays whole.
    if (!S_ISDIR(st.st_mode) || plan->changed.count(relative) != 0) {
      ++left;
      if (relative == InstallLog::kFileName)
        m_pUI->ShowMessage("Kept (the log of the installation): %s\n", relative.c_str());
      else if (plan->changed.count(relative) == 0)
        m_pUI->ShowMessage("Kept (not installed by setup): %s\n", ShownText(relative).c_str());
      continue;
    }
    ScopedFd child(openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    bool childEmpty = false;
    if (child.Get() < 0) {
      ShowError(ErrnoMessage(m_sDir + "/" + relative, errno));
      ok = false;
    } else if (!PlanSweep(child.Get(), relative + "/", manifest, restoreBackup, plan,
                          &childEmpty)) {
      ok = false;
    }
    // An empty directory goes only when the installation made it; the
    // administrator's own stays, and Logs/ stays for the log of this
    // removal.
    bool made = MadeByInstallation(relative, manifest);
    bool logs = relative == kLogsDirectory;
    if (childEmpty && !made && !logs)
      m_pUI->ShowMessage("Kept (not installed by setup): %s/\n", ShownText(relative).c_str());
    if (!childEmpty || !made || logs) {
      ++left;
      continue;
    }
    // Deepest first: the directory's own contents were planned above.
    JournalStep step;
    step.kind = JournalStep::Kind::kRmdir;
    step.path = relative;
    plan->steps.push_back(step);
    plan->removed.insert(relative);
  }
  *empty = left == 0;
  return ok;
}

bool Uninstaller::KeptAtTop(const std::string& name, const InstallManifest& manifest,
                            bool restoreBackup) {
  if (name == InstallManifest::kFileName || name == InstallKey::kFileName ||
      name == InstallJournal::kFileName)
    return true;
  // A backup is the earlier installation's, whole: nothing in it is
  // removed, and it is shown as one.
  bool backup = std::any_of(manifest.movedToOld.begin(), manifest.movedToOld.end(),
                            [&](const std::string& moved) { return BackupNameOf(moved) == name; });
  // The earlier generation's record belongs to it.
  backup = backup || (!manifest.movedToOld.empty() &&
                      name == std::string(InstallManifest::kFileName) + ".old");
  if (backup && !restoreBackup)
    m_pUI->ShowMessage("Kept (backup of the earlier installation): %s\n", ShownText(name).c_str());
  return backup;
}

bool Uninstaller::MadeByInstallation(const std::string& relative, const InstallManifest& manifest) {
  const std::string inside = relative + "/";
  bool made =
      std::any_of(manifest.files.begin(), manifest.files.end(), [&](const ManifestEntry& entry) {
        return entry.path.compare(0, inside.size(), inside) == 0;
      });
  for (const char* const* database = kDatabaseDirectories; !made && *database != nullptr;
       ++database) {
    made = relative == *database || std::string(*database).compare(0, inside.size(), inside) == 0;
  }
  return made;
}

bool Uninstaller::PlanRestore(const InstallTree& tree, const InstallManifest& manifest,
                              Plan* plan) {
  bool ok = true;
  for (const std::string& name : manifest.movedToOld) {
    const std::string backup = BackupNameOf(name);
    struct stat st;
    if (fstatat(tree.Fd(), backup.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      plan->restoreProblems.push_back(tree.PathOf(backup) + " not restored: " + ErrnoText(errno));
      ok = false;
      continue;
    }
    // Whatever keeps the name, the administrator's or a changed file, stays.
    if (fstatat(tree.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        plan->removed.count(name) == 0) {
      plan->restoreProblems.push_back(tree.PathOf(backup) + " not restored: " + tree.PathOf(name) +
                                      " is still there");
      ok = false;
      continue;
    }
    JournalStep step;
    step.kind = JournalStep::Kind::kRename;
    step.path = backup;
    step.target = name;
    plan->steps.push_back(step);
  }
  return ok;
}

bool Uninstaller::TakeStep(const InstallTree& tree, const JournalStep& step) {
  CrashPoint();
  if (step.kind == JournalStep::Kind::kRename) {
    m_stepDir.Reset();
    // RENAME_NOREPLACE: whatever has the name now stays.
    int result =
        renameat2(tree.Fd(), step.path.c_str(), tree.Fd(), step.target.c_str(), RENAME_NOREPLACE);
    struct stat st;
    if (result != 0 && errno == EINVAL &&
        fstatat(tree.Fd(), step.target.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
      result = renameat(tree.Fd(), step.path.c_str(), tree.Fd(), step.target.c_str());
    if (result != 0) {
      ShowError(tree.PathOf(step.path) + " not restored: " +
                (errno == EEXIST || errno == EINVAL ? tree.PathOf(step.target) + " is still there"
                                                    : std::string(ErrnoText(errno))));
      return false;
    }
    m_pUI->ShowMessage("Restored: %s (from %s)\n", ShownText(step.target).c_str(),
                       ShownText(step.path).c_str());
    m_restored.push_back(step.target);
    return true;
  }
  size_t slash = step.path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : step.path.substr(0, slash);
  std::string leaf;
  if (step.kind != JournalStep::Kind::kUnlink || m_stepDir.Get() < 0 || dir != m_sStepDir ||
      !InstallTree::IsPlainRelative(step.path)) {
    m_stepDir.Reset();
    if (!tree.OpenParent(step.path, &m_stepDir, &leaf)) {
      ShowError("cannot remove " + ErrnoMessage(tree.PathOf(step.path), errno));
      m_stepDir.Reset();
      return false;
    }
    m_sStepDir = dir;
  }
  leaf = step.path.substr(slash == std::string::npos ? 0 : slash + 1);
  int flags = step.kind == JournalStep::Kind::kRmdir ? AT_REMOVEDIR : 0;
  int removed = unlinkat(m_stepDir.Get(), leaf.c_str(), flags);
  int err = errno;
  // A directory removed may be the one held open, or above it.
  if (step.kind != JournalStep::Kind::kUnlink)
    m_stepDir.Reset();
  if (removed != 0 && err != ENOENT) {
    ShowError("cannot remove " + ErrnoMessage(tree.PathOf(step.path), err));
    return false;
  }
  return true;
}

namespace {

bool UnderName(const std::string& path, const std::string& name) {
  return path == name || path.compare(0, name.size() + 1, name + "/") == 0;
}

// The earlier record, its files as they will stand: those under the
// restored names as it listed them, the others (which stay) as the
// installation that is rolled back left them.
InstallManifest RestoredRecord(const InstallManifest& manifest, const InstallManifest& earlier,
                               const std::string& earlierName) {
  InstallManifest restored = earlier;
  restored.movedToOld.clear();
  restored.files.clear();
  auto restoredName = [&](const std::string& path) {
    for (const std::string& name : manifest.movedToOld) {
      if (UnderName(path, name))
        return true;
    }
    return false;
  };
  for (const ManifestEntry& entry : earlier.files) {
    if (restoredName(entry.path))
      restored.files.push_back(entry);
  }
  for (const ManifestEntry& entry : manifest.files) {
    if (!restoredName(entry.path) && entry.path != earlierName)
      restored.files.push_back(entry);
  }
  // installed_at stays the earlier installation's: it is that one again.
  return restored;
}

void AddRename(std::vector<JournalStep>* steps, const std::string& from, const std::string& to) {
  JournalStep step;
  step.kind = JournalStep::Kind::kRename;
  step.path = from;
  step.target = to;
  steps->push_back(step);
}

// Whether the regular file at a stands at b as well, with its mode and
// content: a file the restored generation already holds needs no name of
// its own.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (lstat(a.c_str(), &sa) != 0 || lstat(b.c_str(), &sb) != 0 || !S_ISREG(sa.st_mode) ||
      sa.st_mode != sb.st_mode || sa.st_size != sb.st_size)
    return false;
  std::string ca, cb, ignored;
  return ReadWholeFile(a, &ca, &ignored) && ReadWholeFile(b, &cb, &ignored) && ca == cb;
}

}  // namespace

// What a rollback does, worked out before anything is moved.
struct Uninstaller::RollbackPlan {
  // The record as it will be, written into the stage.
  InstallManifest restored;
  // The stage directory in the installation: the new record, and aside/ for
  // what the rollback moves out of the way. Absolute, and relative.
  std::string stage;
  std::string stageName;
  // Administrator's files directly under a restored name: NAME and where
  // it goes (NAME.saved, NAME.saved.N).
  std::vector<std::pair<std::string, std::string>> topSaved;
  // Administrator's files below a restored directory: their place in the
  // stage and their name in the restored directory.
  std::vector<std::pair<std::string, std::string>> kept;
  std::vector<JournalStep> steps;
};

// Finds the administrator's files under the restored names: files the
// installation did not list, or changed since. Reads only.
class Uninstaller::AdministratorsFiles {
 public:
  AdministratorsFiles(const std::string& dir, const InstallTree& current,
                      const InstallManifest& manifest, Uninstaller::RollbackPlan* plan)
      : m_sDir(dir), m_current(current), m_pPlan(plan) {
    for (const ManifestEntry& entry : manifest.files)
      m_listed[entry.path] = &entry;
  }

  // Each NAME of moved_to_old: a file that is the administrator's goes to a
  // free NAME.saved[.N], a directory is walked. Files that have no directory
  // to go to in the restored one are gathered in Homeless().
  void Find(const InstallManifest& manifest) {
    for (const std::string& name : manifest.movedToOld) {
      struct stat st;
      if (lstat((m_sDir + "/" + name).c_str(), &st) != 0)
        continue;
      if (S_ISDIR(st.st_mode)) {
        Walk(name, "");
      } else if (Administrators(name) &&
                 !SameFile(m_sDir + "/" + name, m_sDir + "/" + name + ".old")) {
        std::string target = name + ".saved";
        for (int n = 1; !FreeName(target); ++n)
          target = name + ".saved." + std::to_string(n);
        m_taken.insert(target);
        m_pPlan->topSaved.push_back({name, target});
      }
    }
  }

  const std::string& Homeless() const { return m_sHomeless; }

 private:
  bool FreeName(const std::string& path) {
    struct stat st;
    return m_taken.count(path) == 0 && lstat((m_sDir + "/" + path).c_str(), &st) != 0 &&
           errno == ENOENT;
  }

  bool Administrators(const std::string& path) {
    auto found = m_listed.find(path);
    if (found == m_listed.end())
      return true;
    FileState state = FileState::kChanged;
    std::string ignored;
    return !CheckFileAt(m_current, *found->second, &state, &ignored) ||
           state != FileState::kUnchanged;
  }

  // relative: a path below a restored directory, as it stands now; its
  // place in the restored directory is looked up below NAME.old.
  void Walk(const std::string& name, const std::string& relative) {
    std::vector<std::string> names;
    std::string ignored;
    if (!ListDirectory(m_sDir + "/" + name + "/" + relative, &names, &ignored))
      return;
    for (const std::string& child : names) {
      std::string rel = relative.empty() ? child : relative + "/" + child;
      std::string path = name + "/" + rel;
      struct stat st;
      if (lstat((m_sDir + "/" + path).c_str(), &st) != 0)
        continue;
      if (S_ISDIR(st.st_mode)) {
        Walk(name, rel);
        continue;
      }
      if (!Administrators(path) ||
          SameFile(m_sDir + "/" + path, m_sDir + "/" + name + ".old/" + rel))
        continue;
      size_t slash = rel.rfind('/');
      std::string parent = slash == std::string::npos ? "" : "/" + rel.substr(0, slash);
      struct stat dirSt;
      if (lstat((m_sDir + "/" + name + ".old" + parent).c_str(), &dirSt) != 0 ||
          !S_ISDIR(dirSt.st_mode)) {
        m_sHomeless += (m_sHomeless.empty() ? "" : ", ") + path;
        continue;
      }
      std::string target = name + ".old/" + rel;
      std::string shown = path;
      for (int n = 0; !FreeName(target); ++n) {
        shown = path + ".saved" + (n == 0 ? "" : "." + std::to_string(n));
        target = name + ".old/" + shown.substr(name.size() + 1);
      }
      m_taken.insert(target);
      m_pPlan->kept.push_back({m_pPlan->stageName + "/aside/" + path, shown});
    }
  }

  const std::string& m_sDir;
  const InstallTree& m_current;
  Uninstaller::RollbackPlan* m_pPlan;
  std::map<std::string, const ManifestEntry*> m_listed;
  // Targets already given out, so that two files never get one name.
  std::set<std::string> m_taken;
  std::string m_sHomeless;
};

bool Uninstaller::ReadEarlier(const InstallManifest& manifest, InstallManifest* earlier,
                              std::string* error) {
  const std::string earlierName = std::string(InstallManifest::kFileName) + ".old";
  const std::string refused = "no earlier installation to put back in " + m_sDir + ": ";
  std::string text;
  std::string why;
  if (manifest.movedToOld.empty()) {
    *error = refused + "the last installation moved nothing to NAME.old; nothing was changed";
    return false;
  }
  if (!ReadWholeFile(m_sDir + "/" + earlierName, &text, &why) || !earlier->Parse(text, &why)) {
    *error = refused + "its record " + earlierName + " cannot be read (" + why +
             "); nothing was changed";
    return false;
  }
  for (const std::string& name : manifest.movedToOld) {
    struct stat st;
    if (lstat((m_sDir + "/" + name + ".old").c_str(), &st) != 0) {
      *error = refused + ErrnoMessage(name + ".old", errno) + "; nothing was changed";
      return false;
    }
  }
  return true;
}

bool Uninstaller::PrepareRollbackStage(RollbackPlan* plan, std::string* error) {
  std::string pattern = m_sDir + "/.strata-setup.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    *error = ErrnoMessage(pattern, errno) + "; nothing was changed";
    return false;
  }
  plan->stage = buffer.data();
  plan->stageName = plan->stage.substr(m_sDir.size() + 1);
  std::string why;
  if (mkdir((plan->stage + "/aside").c_str(), 0700) != 0 ||
      !plan->restored.Write(plan->stage, &why) || !SyncPath(plan->stage, &why)) {
    std::string ignored;
    RemoveTree(plan->stage, &ignored);
    *error = "cannot prepare the earlier record (" + why + "); nothing was changed";
    return false;
  }
  return true;
}

bool Uninstaller::PlanAdministratorsFiles(const InstallManifest& manifest, RollbackPlan* plan,
                                          std::string* error) {
  // What the administrator added or changed under a restored name stays:
  // beside the restored file as NAME.saved, or in the restored directory.
  InstallTree current;
  if (!current.Open(m_sDir, error))
    return false;
  AdministratorsFiles found(m_sDir, current, manifest, plan);
  found.Find(manifest);
  if (!found.Homeless().empty()) {
    *error = "your files " + found.Homeless() +
             " have no directory in the earlier installation; move them and run again; nothing "
             "was changed";
    return false;
  }
  return true;
}

void Uninstaller::PlanRollbackSteps(const InstallManifest& manifest, RollbackPlan* plan) {
  std::vector<JournalStep>* steps = &plan->steps;
  const std::string aside = plan->stageName + "/aside/";
  for (const std::string& name : manifest.movedToOld) {
    struct stat st;
    bool saved = false;
    for (const auto& top : plan->topSaved) {
      if (top.first == name) {
        AddRename(steps, name, top.second);
        saved = true;
      }
    }
    if (!saved && lstat((m_sDir + "/" + name).c_str(), &st) == 0)
      AddRename(steps, name, aside + name);
    AddRename(steps, name + ".old", name);
  }
  for (const auto& file : plan->kept)
    AddRename(steps, file.first, file.second);
  AddRename(steps, InstallManifest::kFileName, aside + InstallManifest::kFileName);
  AddRename(steps, plan->stageName + "/" + InstallManifest::kFileName, InstallManifest::kFileName);
  JournalStep drop;
  drop.kind = JournalStep::Kind::kUnlink;
  drop.path = std::string(InstallManifest::kFileName) + ".old";
  steps->push_back(drop);
}

bool Uninstaller::TakeRollbackSteps(const InstallTree& tree, const RollbackPlan& plan,
                                    std::string* error) {
  const std::vector<JournalStep>& steps = plan.steps;
  m_restored.clear();
  // Held open for this tree's steps only.
  m_stepDir.Reset();
  for (size_t i = 0; i < steps.size(); ++i) {
    const JournalStep& step = steps[i];
    bool shown = step.kind == JournalStep::Kind::kRename && step.path.size() > 4 &&
                 step.path.compare(step.path.size() - 4, 4, ".old") == 0;
    bool ok;
    if (!shown)
      CrashPoint();
    if (shown) {
      ok = TakeStep(tree, step);
    } else if (step.kind == JournalStep::Kind::kRename) {
      ok = renameat(tree.Fd(), step.path.c_str(), tree.Fd(), step.target.c_str()) == 0;
      if (!ok)
        ShowError("cannot move " + ErrnoMessage(tree.PathOf(step.path), errno));
    } else {
      ok = unlinkat(tree.Fd(), step.path.c_str(), 0) == 0 || errno == ENOENT;
    }
    if (!ok) {
      // Back to the installation as it was, in reverse.
      for (size_t j = i; j-- > 0;) {
        if (steps[j].kind == JournalStep::Kind::kRename)
          renameat(tree.Fd(), steps[j].target.c_str(), tree.Fd(), steps[j].path.c_str());
      }
      std::string why;
      Recovery::SyncSteps(m_sDir, steps, &why);
      InstallJournal::Remove(m_sDir, &why);
      RemoveTree(plan.stage, &why);
      *error = "the earlier installation could not be put back; the installation is as it was";
      return false;
    }
  }
  return true;
}

bool Uninstaller::FinishRollback(const RollbackPlan& plan, InstallJournal* journal,
                                 std::string* error) {
  // Done before the stage goes: a recovery then only clears up.
  std::string why;
  journal->state = InstallJournal::State::kDone;
  if (!Recovery::SyncSteps(m_sDir, plan.steps, &why) || !journal->Write(m_sDir, &why) ||
      !RemoveTree(plan.stage, &why) || !InstallJournal::Remove(m_sDir, &why)) {
    *error = why;
    return false;
  }
  InstallLog log("rollback", m_sDir);
  log.SetPackage(plan.restored.version, plan.restored.packageDigest);
  for (const std::string& name : m_restored)
    log.AddFile("restored from .old:", name);
  for (const auto& top : plan.topSaved) {
    log.AddFile("saved the administrator's as:", top.second);
    m_pUI->ShowMessage("Kept yours: %s\n", ShownText(top.second).c_str());
  }
  for (const auto& file : plan.kept) {
    log.AddFile("kept as the administrator's:", file.second);
    m_pUI->ShowMessage("Kept yours: %s\n", ShownText(file.second).c_str());
  }
  AppendLog(log);
  m_pUI->ShowMessage("The earlier installation (version %s) is back in %s.\n",
                     ShownText(plan.restored.version).c_str(), ShownText(m_sDir).c_str());
  return true;
}

bool Uninstaller::Rollback(const InstallManifest& manifest, std::string* error) {
  const std::string earlierName = std::string(InstallManifest::kFileName) + ".old";
  InstallManifest earlier;
  if (!ReadEarlier(manifest, &earlier, error))
    return false;
  RollbackPlan plan;
  plan.restored = RestoredRecord(manifest, earlier, earlierName);
  if (!PrepareRollbackStage(&plan, error))
    return false;
  std::string ignored;
  if (!PlanAdministratorsFiles(manifest, &plan, error)) {
    RemoveTree(plan.stage, &ignored);
    return false;
  }
  PlanRollbackSteps(manifest, &plan);

  InstallJournal journal;
  journal.action = InstallJournal::Action::kRestoreBackup;
  journal.pid = getpid();
  journal.generation = plan.restored.packageDigest + " " + plan.restored.installedAt;
  journal.stages = {plan.stageName};
  journal.steps = plan.steps;
  if (!journal.Write(m_sDir, error)) {
    RemoveTree(plan.stage, &ignored);
    return false;
  }
  InstallTree tree;
  if (!tree.Open(m_sDir, error))
    return false;
  // Held through the end: the steps, the journal's last states and the log.
  CleanupSignalBlock block;
  return TakeRollbackSteps(tree, plan, error) && FinishRollback(plan, &journal, error);
}

void Uninstaller::ShowError(const std::string& message) {
  // Paths in it are the installation's, whatever they hold.
  m_pUI->ShowErrorMessage("Error: %s\n", ShownText(message).c_str());
  m_pUI->FlushOutput();
}

void Uninstaller::AppendLog(const InstallLog& log) {
  std::string why;
  if (!log.Append(&why))
    m_pUI->ShowErrorMessage("Warning: Unable to write the installation log (%s)\n",
                            ShownText(why).c_str());
}
