#include "driver/installation/InstallSteps.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <set>
#include <vector>

#include "common/AtomicFile.h"
#include "common/DirectoryListing.h"
#include "common/FileIo.h"
#include "common/FileKind.h"
#include "common/Format.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"
#include "credentials/PasswordTool.h"
#include "driver/installation/BackupGeneration.h"
#include "driver/installation/FreeSpace.h"
#include "driver/installation/InstallationPlan.h"
#include "driver/installation/KeptPasswords.h"
#include "driver/installation/PlaceUninstaller.h"
#include "driver/installation/ProductFiles.h"
#include "driver/installation/ReadBackChecks.h"
#include "driver/installation/StagedInstallation.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/InstallTree.h"
#include "driver/settings/AnswersFile.h"
#include "driver/settings/ChangedConfigQuestion.h"
#include "driver/settings/InstallPath.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/PasswordDatabases.h"
#include "package/ExtractionMark.h"
#include "package/ProductDigests.h"
#include "product/ServerVersion.h"
#include "templates/NewInstallerIQLoopcastScript.h"

namespace {

const char kLoopcastScript[] = "Bin/loopcast.sh";
const char kLogsDirectory[] = "Logs";
// The installer itself is placed with the product but removed at the end.
const char kSetupProgram[] = "Bin/setup";
// Room for what the installation writes besides the product: the accounts,
// the configuration files, the scripts, the answers and the record.
const uint64_t kGeneratedFilesRoom = 256 * 1024;

// The user files and the configuration files hold passwords: while they are
// written, new files and directories are the installing user's alone.
class PrivateFiles {
 public:
  PrivateFiles() : m_saved(umask(077)) {}
  ~PrivateFiles() { umask(m_saved); }
  PrivateFiles(const PrivateFiles&) = delete;
  PrivateFiles& operator=(const PrivateFiles&) = delete;

 private:
  mode_t m_saved;
};

// The installer's directory setting pointed at the staging directory while
// the framework writes there; the texts it writes still name the real one.
class StagedDirectory {
 public:
  StagedDirectory(SetupInstaller& installer, const std::string& staged)
      : m_installer(installer), m_saved(installer.m_szDefInstallPath) {
    installer.m_szDefInstallPath = installer.OwnedText(staged);
  }
  ~StagedDirectory() { m_installer.m_szDefInstallPath = m_saved; }
  StagedDirectory(const StagedDirectory&) = delete;
  StagedDirectory& operator=(const StagedDirectory&) = delete;

 private:
  SetupInstaller& m_installer;
  char* m_saved;
};

// Copies the file or link from to the new name to (which must not be there),
// content and mode: true, or false with *error.
bool CopyEntry(const std::string& from, const std::string& to, std::string* error) {
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) {
    *error = ErrnoMessage(from, errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
    ssize_t got = readlink(from.c_str(), target.data(), target.size());
    if (got < 0 || static_cast<size_t>(got) >= target.size()) {
      *error = ErrnoMessage(from, got < 0 ? errno : EOVERFLOW);
      return false;
    }
    target[static_cast<size_t>(got)] = '\0';
    if (symlink(target.data(), to.c_str()) != 0) {
      *error = ErrnoMessage(to, errno);
      return false;
    }
    return true;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = from + ": neither a file nor a symbolic link";
    return false;
  }
  ScopedFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (in.Get() < 0) {
    *error = ErrnoMessage(from, errno);
    return false;
  }
  ScopedFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.Get() < 0) {
    *error = ErrnoMessage(to, errno);
    return false;
  }
  uint64_t copied = 0;
  bool writeFailed = false;
  if (!CopyToEnd(in.Get(), out.Get(), &copied, &writeFailed)) {
    *error = ErrnoMessage(writeFailed ? to : from, errno);
    return false;
  }
  // The mode after the copy: a umask or a default ACL does not narrow or
  // widen what the administrator chose.
  if (fchmod(out.Get(), st.st_mode & 07777) != 0) {
    *error = ErrnoMessage(to, errno);
    return false;
  }
  return true;
}

// Copies the file, link or directory tree from to the new name to, with
// their modes: true, or false with *error.
bool CopyAny(const std::string& from, const std::string& to, std::string* error) {
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) {
    *error = ErrnoMessage(from, errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode))
    return CopyEntry(from, to, error);
  if (mkdir(to.c_str(), 0700) != 0) {
    *error = ErrnoMessage(to, errno);
    return false;
  }
  ProductFiles tree(from, to);
  tree.SetCopyAlways(true);
  if (!tree.Place(error))
    return false;
  if (chmod(to.c_str(), st.st_mode & 07777) != 0) {
    *error = ErrnoMessage(to, errno);
    return false;
  }
  return true;
}

bool Present(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The recorded files of the installation in dir where a directory now
// stands; none without a record that can be read.
std::set<std::string> RecordedFilesNowDirectories(const std::string& dir) {
  std::set<std::string> paths;
  InstallManifest earlier;
  std::string ignored;
  if (!earlier.Read(dir, &ignored))
    return paths;
  for (const ManifestEntry& entry : earlier.files) {
    if (IsDirectoryNotFollowingLinks(dir + "/" + entry.path))
      paths.insert(entry.path);
  }
  return paths;
}

bool IsNonEmptyDirectory(const std::string& path) {
  struct stat st;
  std::vector<std::string> names;
  std::string ignored;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ListDirectory(path, &names, &ignored) && !names.empty();
}

}  // namespace

InstallSteps::InstallSteps(SetupInstaller& installer, const std::string& extractDir)
    : m_installer(installer),
      m_sExtractDir(extractDir),
      m_bChecked(false),
      m_bPlacesChecked(false),
      m_bRoomChecked(false),
      m_nNeeded(0),
      m_nAvailable(0) {}

InstallSteps::~InstallSteps() {}

bool InstallSteps::Check(bool writeAnswers, std::string* error) {
  std::string dir = m_installer.InstallDir();
  // Moving the product into its own extraction directory would leave
  // nothing behind once the clean-up has removed that directory.
  if (IsSameOrInside(dir, m_sExtractDir)) {
    *error = InstallDirMessage(dir, "it lies inside the package's extraction directory");
    return false;
  }
  if (!StagedInstallation::CheckLinkedDirectories(m_sExtractDir, dir, error) ||
      !CheckBeforeChanges(dir, writeAnswers, error))
    return false;
  m_bChecked = true;
  return true;
}

InstallOutcome InstallSteps::Install(const InstallationPlan& plan, bool writeAnswers,
                                     std::string* error) {
  m_outcome.installed = false;
  // Until the switch, nothing outside the staging directory has changed.
  m_outcome.undone = true;
  if ((!m_bChecked && !Check(writeAnswers, error)) || (!m_bPlacesChecked && !CheckPlaces(error)) ||
      (!m_bRoomChecked && !CheckRoom(error)))
    return m_outcome;
  std::string dir = m_installer.InstallDir();
  if (!m_installer.m_bSilentInstall)
    UI().ShowMessage("\nInstalling %s into %s...\n", ServerVersion::FullProductName(), dir.c_str());
  GeneratePasswords();

  StagedInstallation stage(m_installer, dir, m_installer.m_bBackupOldFiles != 0);
  std::string why;
  if (!stage.Prepare(&why)) {
    *error = FormatText(
        "ERROR: Unable to prepare the installation (%s); nothing has been changed\n", why.c_str());
    return m_outcome;
  }
  const char* unchanged = stage.HadEarlierInstallation() ? "; the earlier installation is unchanged"
                                                         : "; nothing has been installed";
  if (!StageFiles(stage, plan, writeAnswers, error)) {
    stage.Discard();
    // The message names the files where they were to be; the earlier ones
    // have not been touched.
    std::string shown = stage.ShownPaths(*error);
    if (!shown.empty() && shown.back() == '\n')
      shown.pop_back();
    *error = shown + unchanged + "\n";
    return m_outcome;
  }
  if (!stage.Switch(&why)) {
    stage.Discard();
    *error = FormatText(stage.BackupFailed()
                            ? "ERROR: Unable to back up the earlier installation (%s)%s\n"
                            : "ERROR: Unable to put the new installation in place (%s)%s\n",
                        stage.ShownPaths(why).c_str(), stage.Restored() ? unchanged : "");
    m_outcome.undone = stage.Restored();
    return m_outcome;
  }
  // From here the installation directory's Bin/setup is this installation's.
  m_installer.MarkPlacing();
  m_outcome.installed = true;
  m_outcome.undone = false;
  m_outcome.movedToOld = stage.MovedToOld();
  if (m_outcome.movedToOld.size() != plan.MovedToOld().size())
    CorrectRecord(dir, m_outcome.movedToOld);
  if (!stage.Finish(&why)) {
    UI().ShowErrorMessage("Warning: Unable to remove what the earlier installation left (%s)\n",
                          why.c_str());
  }
  return m_outcome;
}

ConsoleUI& InstallSteps::UI() {
  return *m_installer.m_pUI;
}

bool InstallSteps::CheckBeforeChanges(const std::string& dir, bool writeAnswers,
                                      std::string* error) {
  bool backingUp = m_installer.m_bBackupOldFiles != 0;
  BackupGeneration backups(dir);
  std::string why;
  // A directory where the record has a file is the administrator's, kept or
  // saved like a changed file. The record is read only when such a
  // directory stands there.
  std::set<std::string> recordedDirectories;
  bool recordedRead = false;
  auto recordedHere = [&](const char* name) {
    if (!recordedRead)
      recordedDirectories = RecordedFilesNowDirectories(dir);
    recordedRead = true;
    return recordedDirectories.count(name) != 0;
  };
  // The files that the installation writes itself need room as well.
  if (!backingUp) {
    for (const char* name :
         {m_installer.m_szConfigFileName, m_installer.m_szDefaultConfigFileName}) {
      std::string path = m_installer.FilePath(name);
      if (IsNonEmptyDirectory(path) && !recordedHere(name)) {
        *error = FormatText("ERROR: Unable to replace the configuration file %s (%s)\n",
                            path.c_str(), ErrnoText(ENOTEMPTY));
        return false;
      }
    }
  }
  std::vector<const char*> generated = {kLoopcastScript};
  if (writeAnswers)
    generated.push_back(AnswersFile::kFileName);
  for (const char* name : generated) {
    std::string path = m_installer.FilePath(name);
    if (IsNonEmptyDirectory(path) && !recordedHere(name)) {
      *error = FormatText(
          "ERROR: Unable to install the product's files: %s is a directory that is not empty, "
          "where the installation writes a file; nothing has been changed\n",
          path.c_str());
      return false;
    }
  }
  if (backingUp && !backups.CheckEarlierBackupsRemovable(&why)) {
    *error =
        FormatText("ERROR: Unable to remove an earlier backup (%s); nothing has been installed\n",
                   why.c_str());
    return false;
  }
  KeptPasswords kept(m_installer);
  if (!kept.Take(error))
    return false;
  m_outcome.adminPasswordKept = kept.AdminKept();
  m_outcome.encoderPasswordKept = kept.EncoderKept();
  m_outcome.otherAdmins = kept.OtherAdmins();
  return true;
}

void InstallSteps::GeneratePasswords() {
  // Each from the system's random source, on its own: none tells anything
  // about another, nor about the Admin port drawn from random().
  m_outcome.adminPasswordGenerated = m_installer.m_szAdminPassword == nullptr;
  m_outcome.encoderPasswordGenerated = m_installer.m_szEncoderPassword == nullptr;
  for (char** password : {&m_installer.m_szAdminPassword, &m_installer.m_szEncoderPassword,
                          &m_installer.m_szMonitorPassword}) {
    if (*password == nullptr)
      *password = m_installer.OwnedText(RandomPasswordText(kGeneratedPasswordLength));
  }
}

bool InstallSteps::StageFiles(StagedInstallation& stage, const InstallationPlan& plan,
                              bool writeAnswers, std::string* error) {
  ProductFiles files(m_sExtractDir, stage.NewRoot());
  files.Skip(ConsoleUI::kDisplayTextFile);
  files.Skip(kExtractionMarkName);
  files.Skip(kProductDigestsName);
  std::string why;
  // Noted before the files move: a listed digest holds only for the file
  // unpacked. A list that cannot be used leaves every file to be read.
  if (!m_packagedDigests.Load(m_sExtractDir, &why))
    m_packagedDigests = PackagedDigests();
  ForgetGeneratedFiles();
  if (!files.Place(&why)) {
    *error = FormatText("ERROR: Unable to install the product's files (%s)\n", why.c_str());
    return false;
  }
  // The configuration comes last: with it in place the server can start,
  // so it is written only once everything it refers to is there.
  if (!StageAccounts(stage, error) || !StageLoopcastScript(stage, error) ||
      !StageConfigFiles(stage, error))
    return false;
  if (writeAnswers)
    StageAnswers(stage);
  return StageLogs(stage, error) && StageAdministratorFiles(stage, plan, error) &&
         StageRecord(stage, plan, error);
}

void InstallSteps::ForgetGeneratedFiles() {
  // What setup writes itself is read for the record whatever the package
  // says of a file of that name; the identity check in PackagedDigests
  // would find these too, this says so plainly.
  for (const char* name : std::initializer_list<const char*>{
           m_installer.m_szConfigFileName, m_installer.m_szDefaultConfigFileName, kLoopcastScript,
           AnswersFile::kFileName, InstallManifest::kFileName, ConsoleUI::kDisplayTextFile,
           kExtractionMarkName}) {
    if (name != nullptr)
      m_packagedDigests.Forget(name);
  }
  for (const char* name : {InstallManifest::kUninstallerName, InstallManifest::kVerifierName})
    m_packagedDigests.Forget(std::string("Bin/") + name);
  for (const DatabaseAccount& account : DatabaseAccounts(m_installer))
    m_packagedDigests.Forget(account.database);
}

bool InstallSteps::StageEarlierDirectory(StagedInstallation& stage, const char* name,
                                         std::string* error) {
  // A directory that the earlier installation has but the product does not
  // bring is made in the staging directory, so that what the installation
  // writes into it has a place; the switch merges it with the earlier one.
  std::string staged = stage.NewRoot() + "/" + name;
  struct stat earlier;
  if (IsDirectoryNotFollowingLinks(staged) ||
      stat(m_installer.FilePath(name).c_str(), &earlier) != 0 || !S_ISDIR(earlier.st_mode))
    return true;
  if (mkdir(staged.c_str(), earlier.st_mode & 07777) != 0) {
    *error = FormatText("ERROR: Unable to create %s (%s)\n", staged.c_str(), ErrnoText(errno));
    return false;
  }
  return true;
}

bool InstallSteps::StageAccounts(StagedInstallation& stage, std::string* error) {
  for (const DatabaseAccount& account : DatabaseAccounts(m_installer)) {
    if (!StageEarlierDirectory(stage, account.database, error))
      return false;
  }
  StagedDirectory staged(m_installer, stage.NewRoot());
  {
    PrivateFiles privateFiles;
    m_installer.UpdatePasswordDatabases();
  }
  return CheckUserFiles(m_installer, error);
}

bool InstallSteps::StageLoopcastScript(StagedInstallation& stage, std::string* error) {
  if (!StageEarlierDirectory(stage, "Bin", error))
    return false;
  // The script names the installation directory, not the staging one.
  std::string path = stage.NewRoot() + "/" + kLoopcastScript;
  const char* script =
      NewInstallerIQLoopcastScript::CreateScriptFile(m_installer.m_szDefInstallPath);
  std::string why;
  int err = 0;
  if (script == nullptr || !WriteFileAtomically(path, script, 0755, &why, &err)) {
    *error = FormatText("ERROR: Unable to write %s\n",
                        (script == nullptr ? path : ErrnoMessage(path, err)).c_str());
    return false;
  }
  return CheckLoopcastScript(m_installer, path, error);
}

bool InstallSteps::StageConfigFiles(StagedInstallation& stage, std::string* error) {
  const char* names[] = {m_installer.m_szConfigFileName, m_installer.m_szDefaultConfigFileName};
  for (const char* name : names) {
    std::string path = stage.NewRoot() + "/" + (name != nullptr ? name : "");
    {
      PrivateFiles privateFiles;
      // Written by its full name: the framework formats the text for the
      // installation directory.
      m_installer.CreateConfigFile(path.c_str());
    }
    mode_t mode = 0;
    if (!CheckConfigFile(m_installer, path.c_str(), &mode, error))
      return false;
    // A default ACL of the directory can grant what the umask withholds.
    if ((mode & 077) != 0 && chmod(path.c_str(), mode & 0700) != 0) {
      *error = FormatText(
          "ERROR: Unable to make the configuration file %s readable by its owner only (%s)\n",
          path.c_str(), ErrnoText(errno));
      return false;
    }
  }
  return true;
}

void InstallSteps::StageAnswers(StagedInstallation& stage) {
  std::string path = m_installer.FilePath(AnswersFile::kFileName);
  std::vector<std::string> skipped;
  std::string why;
  if (!AnswersFile::Write(stage.NewRoot() + "/" + AnswersFile::kFileName, m_installer, &skipped,
                          &why)) {
    // The installation itself is complete; only the record of it is not.
    UI().ShowErrorMessage("Warning: Unable to write the installer answers (%s)\n",
                          stage.ShownPaths(why).c_str());
    return;
  }
  m_outcome.answersWritten = true;
  for (const std::string& name : skipped) {
    UI().ShowMessage("Note: %s cannot be kept in %s and has been left out.\n", name.c_str(),
                     path.c_str());
  }
}

void InstallSteps::CorrectRecord(const std::string& dir, const std::vector<std::string>& moved) {
  // Something came or went between the check and the switch: the record
  // states what did go to ".old".
  InstallManifest manifest;
  std::string why;
  if (manifest.Read(dir, &why)) {
    manifest.movedToOld = moved;
    if (manifest.Write(dir, &why))
      return;
  }
  UI().ShowErrorMessage("Warning: Unable to correct the record of the installation (%s)\n",
                        why.c_str());
}

bool InstallSteps::CheckPlaces(std::string* error) {
  std::string dir = m_installer.InstallDir();
  ProductFiles files(m_sExtractDir, dir);
  files.Skip(ConsoleUI::kDisplayTextFile);
  // The package's mark on the extraction directory is not the product's.
  files.Skip(kExtractionMarkName);
  files.Skip(kProductDigestsName);
  // What is moved aside makes room for the product.
  if (m_installer.m_bBackupOldFiles != 0) {
    BackupGeneration backups(dir);
    for (const std::string& name : backups.PresentNames())
      files.Vacate(name);
  }
  // A directory where the record has a file is the administrator's, which
  // StageAdministratorFiles keeps or saves like a changed file.
  for (const std::string& path : RecordedFilesNowDirectories(dir))
    files.Vacate(path);
  std::string why;
  if (!files.Check(&why)) {
    *error =
        FormatText("ERROR: Unable to install the product's files: %s; nothing has been changed\n",
                   why.c_str());
    return false;
  }
  m_bPlacesChecked = true;
  return true;
}

bool InstallSteps::CheckRoom(std::string* error) {
  std::string dir = m_installer.InstallDir();
  FileSystemRoom target;
  FileSystemRoom source;
  std::string why;
  if (!RoomAt(dir, &target, &why) || !RoomAt(m_sExtractDir, &source, &why)) {
    *error = FormatText("ERROR: Unable to find the room for the installation (%s)\n", why.c_str());
    return false;
  }
  // On one file system the product's files are renamed into place and take
  // no more room; on another they are copied. Bin/uninstall is a copy of
  // the installer either way.
  uint64_t needed = kGeneratedFilesRoom;
  if (target.device != source.device && !TreeSize(m_sExtractDir, target.blockSize, &needed, &why)) {
    *error = FormatText("ERROR: Unable to find the room for the installation (%s)\n", why.c_str());
    return false;
  }
  // A package without Bin/setup brings no uninstaller to copy.
  std::string ignored;
  TreeSize(m_sExtractDir + "/" + kSetupProgram, target.blockSize, &needed, &ignored);
  // And Bin/verify another.
  TreeSize(m_sExtractDir + "/" + kSetupProgram, target.blockSize, &needed, &ignored);
  m_nNeeded = needed;
  m_nAvailable = target.available;
  m_bRoomChecked = needed <= target.available;
  if (m_bRoomChecked)
    return true;
  const char* unchanged = BackupGeneration(dir).PresentNames().empty()
                              ? "nothing has been installed"
                              : "the earlier installation is unchanged";
  *error = FormatText(
      "ERROR: Not enough room for the installation in %s (%s: %llu KiB needed, %llu KiB "
      "available); %s\n",
      target.measuredAt.c_str(), ErrnoText(ENOSPC),
      static_cast<unsigned long long>((needed + 1023) / 1024),
      static_cast<unsigned long long>(target.available / 1024), unchanged);
  return false;
}

bool InstallSteps::StageLogs(StagedInstallation& stage, std::string* error) {
  // The configuration sends the server's logs to Logs/; a product that does
  // not bring it gets it, private to the server's user and group. An
  // earlier one stays as it is.
  std::string staged = stage.NewRoot() + "/" + kLogsDirectory;
  struct stat st;
  if (lstat(staged.c_str(), &st) == 0 ||
      lstat(m_installer.FilePath(kLogsDirectory).c_str(), &st) == 0)
    return true;
  if (mkdir(staged.c_str(), 0750) != 0 || chmod(staged.c_str(), 0750) != 0) {
    *error = FormatText("ERROR: Unable to create %s (%s)\n", staged.c_str(), ErrnoText(errno));
    return false;
  }
  return true;
}

bool InstallSteps::StageAdministratorFiles(StagedInstallation& stage, const InstallationPlan& plan,
                                           std::string* error) {
  m_keptPaths.clear();
  m_keptDirectories.clear();
  m_savedCopies.clear();
  m_outcome.administratorFiles.clear();
  for (const InstallationPlan::AdministratorFile& file : plan.AdministratorFiles()) {
    if (!SettleAdministratorFile(stage, plan, file, error))
      return false;
  }
  return StageEarlierRecord(stage, plan, error) && CarrySavedCopies(stage, plan, error) &&
         CarryAddedFiles(stage, plan, error);
}

bool InstallSteps::SettleAdministratorFile(StagedInstallation& stage, const InstallationPlan& plan,
                                           const InstallationPlan::AdministratorFile& file,
                                           std::string* error) {
  using Handling = InstallationPlan::AdministratorFile::Handling;
  const std::string staged = stage.NewRoot() + "/" + file.path;
  const std::string yours = m_installer.FilePath(file.path.c_str());
  // A file the new product no longer brings is left as it stands. Of what
  // is neither a file, a link nor a directory nothing can be copied: the
  // switch treats it like any other name it replaces.
  struct stat st;
  if ((file.handling != Handling::kKept && file.handling != Handling::kSaved) || !Present(staged) ||
      lstat(yours.c_str(), &st) != 0 ||
      !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode)))
    return true;
  Handling handling = file.handling;
  // Only now is the new text of a generated file there to compare with.
  if (handling == Handling::kKept && m_bAskAboutConfig && S_ISREG(st.st_mode) &&
      file.path.compare(0, 8, "Content/") != 0) {
    ChangedConfigQuestion question(UI());
    ChangedConfigQuestion::Choice choice;
    if (!question.Ask(yours, yours, staged, &choice, error))
      return false;
    if (choice == ChangedConfigQuestion::Choice::kTakeNew)
      handling = Handling::kSaved;
  }
  if (handling == Handling::kSaved)
    return SaveAdministratorFile(stage, file.path, error);
  std::string why;
  if (rename(staged.c_str(), (staged + ".new").c_str()) != 0) {
    *error = FormatText("ERROR: Unable to write %s.new (%s)\n", stage.ShownPaths(staged).c_str(),
                        ErrnoText(errno));
    return false;
  }
  // A directory stays where it is, unless its place goes to ".old" with
  // the earlier installation: then a copy goes into the new one.
  const std::string top = file.path.substr(0, file.path.find('/'));
  bool movedToOld = false;
  for (const std::string& name : plan.MovedToOld())
    movedToOld = movedToOld || name == top;
  if ((!S_ISDIR(st.st_mode) || movedToOld) && !CopyAny(yours, staged, &why)) {
    *error = FormatText("ERROR: Unable to keep your %s (%s)\n", file.path.c_str(),
                        stage.ShownPaths(why).c_str());
    return false;
  }
  m_keptPaths.push_back(file.path);
  if (S_ISDIR(st.st_mode))
    m_keptDirectories.push_back(file.path);
  m_outcome.administratorFiles.push_back({"kept", file.path});
  return true;
}

bool InstallSteps::SaveAdministratorFile(StagedInstallation& stage, const std::string& path,
                                         std::string* error) {
  const std::string saved = stage.NewRoot() + "/" + path + ".saved";
  std::string why;
  if (Present(saved) && unlink(saved.c_str()) != 0) {
    *error = ErrnoMessage(stage.ShownPaths(saved), errno);
    return false;
  }
  if (!CopyAny(m_installer.FilePath(path.c_str()), saved, &why)) {
    *error = FormatText("ERROR: Unable to save your %s (%s)\n", path.c_str(),
                        stage.ShownPaths(why).c_str());
    return false;
  }
  m_savedCopies.push_back(path + ".saved");
  m_outcome.administratorFiles.push_back({"saved", path + ".saved"});
  return true;
}

bool InstallSteps::StageEarlierRecord(StagedInstallation& stage, const InstallationPlan& plan,
                                      std::string* error) {
  // With backups, the earlier record goes with the ".old" generation, so
  // that Bin/uninstall --restore-backup can put back an installation that
  // knows itself.
  if (m_installer.m_bBackupOldFiles == 0 || plan.MovedToOld().empty() ||
      plan.EarlierManifest() == nullptr)
    return true;
  const std::string saved = std::string(InstallManifest::kFileName) + ".old";
  std::string why;
  if (!CopyEntry(m_installer.FilePath(InstallManifest::kFileName), stage.NewRoot() + "/" + saved,
                 &why)) {
    *error = FormatText("ERROR: Unable to back up the earlier record (%s)\n",
                        stage.ShownPaths(why).c_str());
    return false;
  }
  return true;
}

bool InstallSteps::CarrySavedCopies(StagedInstallation& stage, const InstallationPlan& plan,
                                    std::string* error) {
  // Copies saved by earlier runs go with the new installation: a directory
  // that goes to its ".old" name would otherwise take them along, and lose
  // them with the next backup.
  const InstallManifest* earlier = plan.EarlierManifest();
  if (earlier == nullptr)
    return true;
  const std::string root = stage.NewRoot() + "/";
  std::string why;
  for (const ManifestEntry& entry : earlier->files) {
    const std::string saved = entry.path + ".saved";
    const std::string yours = m_installer.FilePath(saved.c_str());
    size_t slash = saved.rfind('/');
    if (!Present(yours) || Present(root + saved) ||
        (slash != std::string::npos &&
         !IsDirectoryNotFollowingLinks(root + saved.substr(0, slash))))
      continue;
    if (!CopyAny(yours, root + saved, &why)) {
      *error = FormatText("ERROR: Unable to keep your %s (%s)\n", saved.c_str(),
                          stage.ShownPaths(why).c_str());
      return false;
    }
    m_savedCopies.push_back(saved);
  }
  return true;
}

bool InstallSteps::CarryAddedFiles(StagedInstallation& stage, const InstallationPlan& plan,
                                   std::string* error) {
  // What the administrator added inside a directory that goes to its ".old"
  // name goes with the new installation as well: in the backup alone it
  // would be lost with the next upgrade, unnamed. Without a record nothing
  // can tell the administrator's files from the product's.
  const InstallManifest* earlier = plan.EarlierManifest();
  if (earlier == nullptr)
    return true;
  std::set<std::string> recorded;
  for (const ManifestEntry& entry : earlier->files)
    recorded.insert(entry.path);
  for (const std::string& name : plan.MovedToOld()) {
    if (IsDirectoryNotFollowingLinks(m_installer.FilePath(name.c_str())) &&
        IsDirectoryNotFollowingLinks(stage.NewRoot() + "/" + name) &&
        !CarryAddedFilesIn(stage, name, recorded, error))
      return false;
  }
  return true;
}

bool InstallSteps::CarryAddedFilesIn(StagedInstallation& stage, const std::string& dir,
                                     const std::set<std::string>& recorded, std::string* error) {
  std::vector<std::string> names;
  std::string why;
  if (!ListDirectory(m_installer.FilePath(dir.c_str()), &names, &why)) {
    *error = FormatText("ERROR: Unable to keep your files in %s (%s)\n", dir.c_str(), why.c_str());
    return false;
  }
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    const std::string yours = m_installer.FilePath(path.c_str());
    const std::string staged = stage.NewRoot() + "/" + path;
    // Settled or carried already by this run.
    bool settled = false;
    for (const std::string& done : m_savedCopies)
      settled = settled || done == path;
    for (const std::string& done : m_keptPaths)
      settled = settled || done == path;
    if (recorded.count(path) != 0 || path == kSetupProgram || settled)
      continue;
    bool recordedInside = false;
    for (auto at = recorded.lower_bound(path + "/");
         at != recorded.end() && at->compare(0, path.size() + 1, path + "/") == 0; ++at)
      recordedInside = true;
    if (recordedInside) {
      // A directory of the earlier product's: only what was added in it.
      struct stat st;
      if (!IsDirectoryNotFollowingLinks(yours) || lstat(yours.c_str(), &st) != 0)
        continue;
      if (!Present(staged) &&
          (mkdir(staged.c_str(), 0700) != 0 || chmod(staged.c_str(), st.st_mode & 07777) != 0)) {
        *error = ErrnoMessage(stage.ShownPaths(staged), errno);
        return false;
      }
      if (IsDirectoryNotFollowingLinks(staged) && !CarryAddedFilesIn(stage, path, recorded, error))
        return false;
      continue;
    }
    // Where the new product brings the same name, the administrator's goes
    // beside it, as for a changed file.
    if (Present(staged)) {
      if (!IsDirectoryNotFollowingLinks(staged) && !Present(staged + ".saved") &&
          !SaveAdministratorFile(stage, path, error))
        return false;
      continue;
    }
    if (!CopyAny(yours, staged, &why)) {
      *error = FormatText("ERROR: Unable to keep your %s (%s)\n", path.c_str(),
                          stage.ShownPaths(why).c_str());
      return false;
    }
    m_savedCopies.push_back(path);
  }
  return true;
}

bool InstallSteps::StageRecord(StagedInstallation& stage, const InstallationPlan& plan,
                               std::string* error) {
  std::string why;
  // Placed before the files are described, so that the record holds the
  // digest of the copy that stays.
  if (!PlaceUninstaller(stage.NewRoot(), &why)) {
    *error = FormatText("ERROR: Unable to place the uninstaller (%s)\n", why.c_str());
    return false;
  }
  InstallManifest manifest = plan.NewManifest();
  std::vector<std::string> names;
  if (!ListDirectory(stage.NewRoot(), &names, &why) ||
      !DescribeFiles(stage.NewRoot(), names, &manifest.files, &why, &m_packagedDigests)) {
    *error = FormatText("ERROR: Unable to record the installation (%s)\n", why.c_str());
    return false;
  }
  manifest.files = ListedFiles(manifest.files);
  // Described last, so that the key is listed nowhere.
  std::string key;
  InstallTree staged;
  if (!InstallKey::Stage(m_installer.InstallDir(), stage.NewRoot(), &key, &why) ||
      !staged.Open(stage.NewRoot(), &why) || !KeySecretFiles(staged, key, &manifest.files, &why)) {
    *error = FormatText("ERROR: Unable to record the installation (%s)\n",
                        stage.ShownPaths(why).c_str());
    return false;
  }
  ListKeptAsNew(&manifest.files);
  manifest.SetInstalledAt(time(nullptr));
  if (!manifest.Write(stage.NewRoot(), &why)) {
    *error =
        FormatText("ERROR: Unable to write the record of the installation (%s)\n", why.c_str());
    return false;
  }
  return true;
}

namespace {

bool IsOrIsInside(const std::string& path, const std::string& top) {
  return path == top || path.compare(0, top.size() + 1, top + "/") == 0;
}

}  // namespace

std::vector<ManifestEntry> InstallSteps::ListedFiles(
    const std::vector<ManifestEntry>& staged) const {
  std::vector<ManifestEntry> listed;
  for (const ManifestEntry& entry : staged) {
    bool administrators = false;
    for (const std::string& copy : m_savedCopies)
      administrators = administrators || IsOrIsInside(entry.path, copy);
    // What lies in a directory kept in place of a file is not setup's.
    for (const std::string& path : m_keptDirectories)
      administrators = administrators || IsOrIsInside(entry.path, path);
    // The earlier record beside the new one is the backup's, like the
    // record itself not listed.
    if (entry.path != kSetupProgram && entry.path != InstallManifest::kFileName &&
        entry.path != std::string(InstallManifest::kFileName) + ".old" && !administrators)
      listed.push_back(entry);
  }
  return listed;
}

void InstallSteps::ListKeptAsNew(std::vector<ManifestEntry>* files) const {
  // A file kept as the administrator's is listed as the new one, which is
  // what setup installed: it stays "changed" for Bin/verify and later runs.
  for (const std::string& path : m_keptPaths) {
    size_t fresh = files->size();
    size_t listed = files->size();
    for (size_t i = 0; i < files->size(); ++i) {
      if ((*files)[i].path == path + ".new")
        fresh = i;
      else if ((*files)[i].path == path)
        listed = i;
    }
    if (fresh == files->size())
      continue;
    ManifestEntry entry = (*files)[fresh];
    entry.path = path;
    // A directory in its place has no line of its own: it gets one, in
    // the order of the names.
    if (listed == files->size())
      files->insert(files->begin() + static_cast<std::ptrdiff_t>(fresh), entry);
    else
      (*files)[listed] = entry;
  }
}
