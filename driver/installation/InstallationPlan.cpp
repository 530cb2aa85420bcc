#include "driver/installation/InstallationPlan.h"

#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#include <iterator>

#include "common/FileKind.h"
#include "common/Format.h"
#include "common/ShownText.h"
#include "driver/installation/BackupGeneration.h"
#include "driver/installation/KeptPasswords.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallTree.h"
#include "driver/settings/AnswersFile.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/PasswordDatabases.h"
#include "product/ServerVersion.h"

namespace {

const int kPortCount = static_cast<int>(std::size(ServerInstaller::g_pPortNames));

std::string Text(const char* text) {
  return text != nullptr ? text : "";
}

}  // namespace

InstallationPlan::InstallationPlan(const SetupInstaller& installer,
                                   const std::string& packageDigest, bool reinstall)
    : m_installer(installer),
      m_bReinstall(reinstall),
      m_bHasEarlierManifest(false),
      m_bHasEarlierInstallation(false),
      m_verdict(Verdict::kInstall) {
  m_new.product = ServerVersion::ProductName();
  m_new.release = ServerVersion::ReleaseName();
  m_new.version = ServerVersion::VersionString();
  m_new.packageDigest = packageDigest;
  m_new.installDir = installer.InstallDir();
  m_new.adminUser = Text(installer.m_szAdminUserID);
  m_new.encoderUser = Text(installer.m_szEncoderUserID);
  m_new.adminRealm = Text(installer.m_szAdminRealm);
  m_new.encoderRealm = Text(installer.m_szEncoderRealm);
  m_new.rbsEncoderRealm = Text(installer.m_szRBSEncoderRealm);
  m_new.wmEncoderRealm = Text(installer.m_szWMEncoderRealm);
  m_new.cdistRealm = Text(installer.m_szCDistRealm);
  m_new.contentRealm = Text(installer.m_szContentRealm);
  m_new.loggingStyle = Text(installer.m_szLoggingStyle);
  for (int i = 0; i < kPortCount; ++i)
    m_new.ports[i] = installer.m_pPorts[i].nPort;
  m_new.backupOldFiles = installer.m_bBackupOldFiles != 0;
}

const char* InstallationPlan::VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kInstall:
      return "install";
    case Verdict::kUpgrade:
      return "upgrade";
    case Verdict::kNothingToDo:
      return "nothing to do";
    case Verdict::kReinstall:
      return "reinstall";
  }
  return "install";
}

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

InstallationPlan::AdministratorFile::Handling HandlingOf(const SetupInstaller& installer,
                                                         const std::string& path, FileState state,
                                                         bool takeNew) {
  using Handling = InstallationPlan::AdministratorFile::Handling;
  // Setup's own files: the accounts keep their passwords by other means,
  // and the programs and the answers are setup's to write.
  if (path == AnswersFile::kFileName ||
      path == std::string("Bin/") + InstallManifest::kUninstallerName ||
      path == std::string("Bin/") + InstallManifest::kVerifierName)
    return Handling::kOwn;
  // A new one written beside the administrator's is setup's, written anew.
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".new") == 0)
    return Handling::kOwn;
  for (const DatabaseAccount& account : DatabaseAccounts(installer)) {
    if (StartsWith(path, std::string(account.database) + "/"))
      return Handling::kOwn;
  }
  if (state == FileState::kMissing)
    return Handling::kMissing;
  bool config = StartsWith(path, "Content/") || path == "Bin/loopcast.sh" ||
                (installer.m_szConfigFileName != nullptr && path == installer.m_szConfigFileName) ||
                (installer.m_szDefaultConfigFileName != nullptr &&
                 path == installer.m_szDefaultConfigFileName);
  return config && !takeNew ? Handling::kKept : Handling::kSaved;
}

// Whether path + ".new" is recorded and unchanged on disk.
bool NewOneStands(const InstallManifest& earlier, const std::vector<FileState>& states,
                  const std::string& path) {
  for (size_t i = 0; i < earlier.files.size(); ++i) {
    if (earlier.files[i].path == path + ".new")
      return states[i] == FileState::kUnchanged;
  }
  return false;
}

}  // namespace

bool InstallationPlan::Assess(std::string* error) {
  m_changes.clear();
  FindEarlierInstallation();
  if (!m_bHasEarlierInstallation) {
    m_verdict = Verdict::kInstall;
    return true;
  }
  m_verdict = Verdict::kUpgrade;
  if (!m_bHasEarlierManifest) {
    if (m_notes.empty())
      m_notes.push_back("an earlier installation without a record (install-manifest.txt)");
    return true;
  }
  bool same = CompareSettings();
  bool settled = true;
  if (!AssessRecordedFiles(&settled, error))
    return false;
  if (!settled)
    same = false;
  if (PasswordsGivenAnew())
    same = false;
  if (same)
    m_verdict = m_bReinstall ? Verdict::kReinstall : Verdict::kNothingToDo;
  return true;
}

void InstallationPlan::FindEarlierInstallation() {
  const std::string dir = m_new.installDir;
  BackupGeneration backups(dir);
  m_new.movedToOld.clear();
  if (m_new.backupOldFiles)
    m_new.movedToOld = backups.PresentNames();
  m_bHasEarlierInstallation = !backups.PresentNames().empty();
  m_bHasEarlierManifest = false;
  if (!Exists(dir + "/" + InstallManifest::kFileName))
    return;
  m_bHasEarlierInstallation = true;
  std::string why;
  if (m_earlier.Read(dir, &why))
    m_bHasEarlierManifest = true;
  else
    m_notes.push_back("the earlier record cannot be read (" + why + ")");
}

bool InstallationPlan::CompareSettings() {
  bool same = true;
  if (!m_earlier.SamePackage(m_new)) {
    m_changes.push_back({"package_digest", m_earlier.packageDigest, m_new.packageDigest});
    same = false;
  }
  for (const SettingChange& change : m_earlier.ChangedSettings(m_new)) {
    m_changes.push_back(change);
    same = false;
  }
  return same;
}

bool InstallationPlan::AssessRecordedFiles(bool* settled, std::string* error) {
  std::vector<FileState> states;
  std::string why;
  if (!m_earlier.CheckFiles(m_new.installDir, &states, &why)) {
    *error = FormatText("ERROR: Unable to compare the earlier installation with its record (%s)\n",
                        why.c_str());
    return false;
  }
  m_adminFiles.clear();
  for (size_t i = 0; i < states.size(); ++i) {
    if (states[i] == FileState::kUnchanged)
      continue;
    AdministratorFile file;
    file.path = m_earlier.files[i].path;
    file.handling = HandlingOf(m_installer, file.path, states[i], m_bTakeNewConfig);
    m_adminFiles.push_back(file);
    // A configuration file kept as the administrator's, with the new one
    // beside it as recorded, is already what an installation would leave.
    if (file.handling != AdministratorFile::Handling::kKept ||
        !NewOneStands(m_earlier, states, file.path))
      *settled = false;
  }
  if (m_adminFiles.empty())
    return true;
  m_notes.push_back(FormatText("%zu recorded file%s changed or missing since the installation",
                               m_adminFiles.size(), m_adminFiles.size() == 1 ? "" : "s"));
  for (const AdministratorFile& file : m_adminFiles)
    // Names from the disk: shown without their control characters.
    m_notes.push_back(ShownText(file.path + ": " + HandlingText(file)));
  return true;
}

std::string InstallationPlan::HandlingText(const AdministratorFile& file) {
  switch (file.handling) {
    case AdministratorFile::Handling::kKept:
      return "changed, kept as yours (the new one is " + file.path + ".new)";
    case AdministratorFile::Handling::kSaved:
      return "changed, the new one installed (yours is kept as " + file.path + ".saved)";
    case AdministratorFile::Handling::kMissing:
      return "missing, installed anew";
    case AdministratorFile::Handling::kOwn:
      break;
  }
  return "changed, written anew by setup";
}

bool InstallationPlan::PasswordsGivenAnew() {
  // A given password that differs from the one an account holds changes the
  // user files and the configuration.
  struct {
    const char* database;
    const char* user;
    const char* password;
    const char* what;
  } accounts[] = {
      {kAdminPlainDatabase, m_installer.m_szAdminUserID, m_installer.m_szAdminPassword,
       "the administrator's password is given anew"},
      {kEncoderPlainDatabase, m_installer.m_szEncoderUserID, m_installer.m_szEncoderPassword,
       "the encoder's password is given anew"},
  };
  bool anew = false;
  for (const auto& account : accounts) {
    bool found = false;
    std::string held;
    std::string ignored;
    std::string path = m_installer.FilePath(account.database) + "/users/" + Text(account.user);
    bool readable = ReadPlainPassword(path, &found, &held, &ignored);
    if (account.password != nullptr && (!readable || !found || held != account.password)) {
      m_notes.push_back(account.what);
      anew = true;
    }
  }
  return anew;
}

std::string InstallationPlan::AccountLine(const char* label, const char* database, const char* user,
                                          const char* password) const {
  bool found = false;
  std::string held;
  std::string ignored;
  std::string path = m_installer.FilePath(database) + "/users/" + Text(user);
  bool readable = ReadPlainPassword(path, &found, &held, &ignored);
  const char* state;
  if (!found)
    state = password == nullptr ? "new account, password generated" : "new account";
  else if (password == nullptr || (readable && held == password))
    state = "existing account, password kept";
  else
    state = "existing account, password replaced";
  return FormatText("    %-25s%s (%s)\n", label, Text(user).c_str(), state);
}

std::string InstallationPlan::Describe() const {
  std::string text =
      FormatText("%s in %s:\n", ServerVersion::FullProductName(), m_new.installDir.c_str());
  const char* earlier = m_bHasEarlierInstallation ? "an earlier installation is there"
                                                  : "nothing installed there yet";
  text += FormatText("    %-25s%s (%s)\n", "Installation directory:", m_new.installDir.c_str(),
                     earlier);
  text += FormatText("    %-25s%s\n", "Package:", m_new.packageDigest.c_str());
  text += AccountLine("Administrator:", kAdminPlainDatabase, m_installer.m_szAdminUserID,
                      m_installer.m_szAdminPassword);
  text += AccountLine("Encoder account:", kEncoderPlainDatabase, m_installer.m_szEncoderUserID,
                      m_installer.m_szEncoderPassword);
  std::string ports;
  for (int i = 0; i < kPortCount; ++i) {
    std::string port = std::to_string(m_new.ports[i]);
    if (i == kPortCount - 1 && m_bAdminPortDrawn)
      port = "(a free port from 10000 to 29999 will be drawn)";
    ports +=
        FormatText("%s%s %s", i == 0 ? "" : ", ", ServerInstaller::g_pPortNames[i], port.c_str());
  }
  text += FormatText("    %-25s%s\n", "Ports:", ports.c_str());
  std::string moved;
  for (const std::string& name : m_new.movedToOld)
    moved += (moved.empty() ? "" : " ") + name;
  if (m_verdict == Verdict::kNothingToDo)
    moved = "nothing (no installation needed)";
  else if (moved.empty())
    moved = m_new.backupOldFiles ? "nothing" : "nothing (no backup: earlier files are replaced)";
  text += FormatText("    %-25s%s\n", "Moved to .old:", moved.c_str());
  for (const std::string& note : m_notes)
    text += FormatText("    %-25s%s\n", "Note:", note.c_str());
  return text;
}

std::string InstallationPlan::ChangedLines() const {
  std::string text;
  for (const SettingChange& change : m_changes) {
    text += FormatText("Changed: %s: %s -> %s\n", change.key.c_str(), change.before.c_str(),
                       change.after.c_str());
  }
  return text;
}

bool InstallationPlan::RenewManifestDate(std::string* error) {
  InstallManifest renewed = m_earlier;
  renewed.SetInstalledAt(time(nullptr));
  // An older record lists the files that hold passwords by plain digests,
  // which anyone could test a guess against: they are keyed from now on.
  // Assess found every file as recorded, so the files describe themselves.
  bool plain = false;
  for (const ManifestEntry& entry : renewed.files)
    plain = plain || (!entry.keyed && NeedsKeyedDigest(entry));
  if (plain) {
    std::string key;
    InstallTree tree;
    if (!InstallKey::Stage(m_new.installDir, m_new.installDir, &key, error) ||
        !tree.Open(m_new.installDir, error) || !KeySecretFiles(tree, key, &renewed.files, error))
      return false;
  }
  return renewed.Write(m_new.installDir, error);
}
