#include "driver/uninstaller/Uninstaller.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "common/DirectoryListing.h"
#include "common/FileIo.h"
#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallLog.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/InstallTree.h"
#include "installer/BackupName.h"
#include "installer/PasswordDatabases.h"
#include "product/ServerVersion.h"

namespace {

const int kDeclined = 1;
const int kFailure = 255;
const char kLogsDirectory[] = "Logs";

const char kUsage[] = "Usage: uninstall [-s] [--restore-backup] [-h|--help]\n";
const char kHelp[] =
    "Removes the installation that setup made in the directory above the one\n"
    "that holds this program, as its install-manifest.txt records it. Files\n"
    "that changed since the installation and files that setup did not place\n"
    "are kept and listed; directories left empty are removed.\n"
    "\n"
    "  -s                remove without asking\n"
    "  --restore-backup  then put back what the installation moved to NAME.old\n"
    "  -h, --help        show this help\n"
    "\n"
    "Exit status: 0 when the installation was removed; 1 when the question\n"
    "was answered with anything but yes (then nothing is removed); 255 with a\n"
    "message beginning \"Error: \" otherwise, also when input ends before an\n"
    "answer.\n";

// The program's own file, however long its path.
bool OwnProgram(std::string* path, std::string* error) {
  std::string buffer(256, '\0');
  while (true) {
    ssize_t got = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (got < 0) {
      *error = ErrnoMessage("/proc/self/exe", errno);
      return false;
    }
    if (static_cast<size_t>(got) < buffer.size()) {
      buffer.resize(static_cast<size_t>(got));
      *path = buffer;
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

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
  if (!OwnProgram(&program, &error)) {
    printf("Error: cannot find this program's own file: %s\n", error.c_str());
    return kFailure;
  }
  Uninstaller uninstaller(DirectoryOf(DirectoryOf(program)), program);
  return uninstaller.Main(argc, argv);
}

int Uninstaller::Main(int argc, const char** argv) {
  bool silent = false;
  bool restoreBackup = false;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "-s") {
      silent = true;
    } else if (option == "--restore-backup") {
      restoreBackup = true;
    } else if (option == "-h" || option == "--help") {
      m_pUI->ShowMessage("%s\n%s", kUsage, kHelp);
      m_pUI->FlushOutput();
      return 0;
    } else {
      ShowError("unknown option " + option);
      m_pUI->FlushOutput();
      fputs(kUsage, stderr);
      return kFailure;
    }
  }

  InstallTree tree;
  InstallManifest manifest;
  std::string error;
  if (!tree.Open(m_sDir, &error) || !manifest.ReadFrom(tree, &error)) {
    ShowError("no installation to remove here: " + error);
    return kFailure;
  }
  std::string product = manifest.product.empty() ? ServerVersion::ProductName() : manifest.product;
  if (!manifest.release.empty())
    product += " " + manifest.release;

  if (!silent) {
    std::string question =
        "Remove " + ShownText(product) + " from " + ShownText(m_sDir) + "? (yes or no)";
    char* answer = m_pUI->PromptForItem(question.c_str(), "no", nullptr, "");
    bool answered = answer != nullptr;
    std::string text = answered ? answer : "";
    delete[] answer;
    if (!answered && m_pUI->InputEnded()) {
      m_pUI->ShowMessage("\n");
      ShowError("input ended before an answer; nothing was removed.");
      return kFailure;
    }
    if (!IsYes(text)) {
      m_pUI->ShowMessage("Nothing was removed.\n");
      m_pUI->FlushOutput();
      return kDeclined;
    }
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

bool Uninstaller::Remove(bool restoreBackup, std::string* error) {
  InstallTree tree;
  InstallManifest manifest;
  if (!tree.Open(m_sDir, error) || !manifest.ReadFrom(tree, error))
    return false;

  std::set<std::string> changed;
  m_removed.clear();
  bool removed = RemoveListedFiles(tree, manifest, &changed);
  InstallLog log(restoreBackup ? "uninstall --restore-backup" : "uninstall", m_sDir);
  log.SetPackage(manifest.version, manifest.packageDigest);
  for (const std::string& path : m_removed)
    log.AddFile("removed", path);
  for (const std::string& path : changed)
    log.AddFile("kept as the administrator's (changed since installation):", path);
  if (!removed) {
    log.AddFile("not removed, the record stays for another run:", InstallManifest::kFileName);
    AppendLog(log);
    *error = "not every listed file could be removed; " + tree.PathOf(InstallManifest::kFileName) +
             " stays for another run";
    return false;
  }

  bool empty = false;
  bool swept = Sweep(tree.Fd(), "", manifest, changed, restoreBackup, &empty);
  bool restored = !restoreBackup || RestoreBackups(tree, manifest);
  for (const std::string& name : m_restored)
    log.AddFile("restored from .old:", name);
  // Before the record goes: whatever happens next, the removal is done. The
  // log stays, and with it the installation directory.
  AppendLog(log);
  // Last: until now the manifest was the record of what was still to go,
  // and its key what compares the files that hold passwords.
  if (unlinkat(tree.Fd(), InstallManifest::kFileName, 0) != 0) {
    *error = "cannot remove " + ErrnoMessage(tree.PathOf(InstallManifest::kFileName), errno);
    return false;
  }
  if (unlinkat(tree.Fd(), InstallKey::kFileName, 0) != 0 && errno != ENOENT) {
    *error = "cannot remove " + ErrnoMessage(tree.PathOf(InstallKey::kFileName), errno);
    return false;
  }
  std::vector<std::string> left;
  std::string unread;
  if (ListDirectoryAt(tree.Fd(), m_sDir, &left, &unread) && left.empty() &&
      rmdir(m_sDir.c_str()) != 0) {
    *error = "cannot remove " + ErrnoMessage(m_sDir, errno);
    return false;
  }
  if (!swept || !restored) {
    *error = !swept ? "not every directory could be looked through"
                    : "not every backup could be restored";
    return false;
  }
  return true;
}

bool Uninstaller::RemoveListedFiles(const InstallTree& tree, const InstallManifest& manifest,
                                    std::set<std::string>* changed) {
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
  bool ok = true;
  for (const ManifestEntry* entry : order)
    ok = RemoveListedFile(tree, *entry, changed) && ok;
  if (ok && ownEntry != nullptr)
    ok = RemoveListedFile(tree, *ownEntry, changed);
  return ok;
}

bool Uninstaller::RemoveListedFile(const InstallTree& tree, const ManifestEntry& entry,
                                   std::set<std::string>* changed) {
  std::string problem;
  FileState state;
  if (!CheckFileAt(tree, entry, &state, &problem)) {
    ShowError(problem);
    return false;
  }
  if (state == FileState::kChanged) {
    m_pUI->ShowMessage("Kept (changed since installation): %s\n", ShownText(entry.path).c_str());
    changed->insert(entry.path);
    return true;
  }
  if (state == FileState::kMissing)
    return true;
  ScopedFd parent;
  std::string leaf;
  if (!tree.OpenParent(entry.path, &parent, &leaf) ||
      unlinkat(parent.Get(), leaf.c_str(), 0) != 0) {
    ShowError("cannot remove " + ErrnoMessage(tree.PathOf(entry.path), errno));
    return false;
  }
  m_removed.push_back(entry.path);
  return true;
}

bool Uninstaller::Sweep(int fd, const std::string& prefix, const InstallManifest& manifest,
                        const std::set<std::string>& changed, bool restoreBackup, bool* empty) {
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
    // A listed file that is a directory now was shown as changed, and
    // stays whole.
    if (!S_ISDIR(st.st_mode) || changed.count(relative) != 0) {
      ++left;
      if (relative == InstallLog::kFileName)
        m_pUI->ShowMessage("Kept (the log of the installation): %s\n", relative.c_str());
      else if (changed.count(relative) == 0)
        m_pUI->ShowMessage("Kept (not installed by setup): %s\n", ShownText(relative).c_str());
      continue;
    }
    ScopedFd child(openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    bool childEmpty = false;
    if (child.Get() < 0) {
      ShowError(ErrnoMessage(m_sDir + "/" + relative, errno));
      ok = false;
    } else if (!Sweep(child.Get(), relative + "/", manifest, changed, restoreBackup, &childEmpty)) {
      ok = false;
    }
    // An empty directory goes only when the installation made it: when it
    // held a listed file, or is one of the password databases' own. The
    // administrator's own stays.
    bool made =
        std::any_of(manifest.files.begin(), manifest.files.end(), [&](const ManifestEntry& entry) {
          return entry.path.compare(0, relative.size() + 1, relative + "/") == 0;
        });
    for (const char* const* database = kDatabaseDirectories; !made && *database != nullptr;
         ++database) {
      made = relative == *database ||
             std::string(*database).compare(0, relative.size() + 1, relative + "/") == 0;
    }
    // Logs/ stays for the log of this removal.
    bool logs = relative == kLogsDirectory;
    if (childEmpty && !made && !logs)
      m_pUI->ShowMessage("Kept (not installed by setup): %s/\n", ShownText(relative).c_str());
    if (!childEmpty || !made || logs) {
      ++left;
    } else if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) {
      ShowError("cannot remove " + ErrnoMessage(m_sDir + "/" + relative, errno));
      ok = false;
      ++left;
    }
  }
  *empty = left == 0;
  return ok;
}

bool Uninstaller::KeptAtTop(const std::string& name, const InstallManifest& manifest,
                            bool restoreBackup) {
  if (name == InstallManifest::kFileName || name == InstallKey::kFileName)
    return true;
  // A backup is the earlier installation's, whole: nothing in it is
  // removed, and it is shown as one.
  bool backup =
      std::any_of(manifest.movedToOld.begin(), manifest.movedToOld.end(),
                  [&](const std::string& moved) { return moved + kBackupSuffix == name; });
  if (backup && !restoreBackup)
    m_pUI->ShowMessage("Kept (backup of the earlier installation): %s\n", ShownText(name).c_str());
  return backup;
}

bool Uninstaller::RestoreBackups(const InstallTree& tree, const InstallManifest& manifest) {
  bool ok = true;
  for (const std::string& name : manifest.movedToOld) {
    const std::string backup = name + kBackupSuffix;
    struct stat st;
    if (fstatat(tree.Fd(), backup.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ShowError(tree.PathOf(backup) + " not restored: " + ErrnoText(errno));
      ok = false;
      continue;
    }
    // RENAME_NOREPLACE: whatever has the name now, the administrator's or a
    // changed file, stays.
    int result = renameat2(tree.Fd(), backup.c_str(), tree.Fd(), name.c_str(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL &&
        fstatat(tree.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
      result = renameat(tree.Fd(), backup.c_str(), tree.Fd(), name.c_str());
    if (result != 0) {
      ShowError(tree.PathOf(backup) + " not restored: " +
                (errno == EEXIST || errno == EINVAL ? tree.PathOf(name) + " is still there"
                                                    : std::string(ErrnoText(errno))));
      ok = false;
      continue;
    }
    m_pUI->ShowMessage("Restored: %s (from %s)\n", ShownText(name).c_str(),
                       ShownText(backup).c_str());
    m_restored.push_back(name);
  }
  return ok;
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
