#ifndef STRATA_DRIVER_INSTALLATION_INSTALLSTEPS_H_
#define STRATA_DRIVER_INSTALLATION_INSTALLSTEPS_H_

#include <stdint.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/installation/InstallationPlan.h"
#include "driver/record/InstallManifest.h"
#include "driver/record/PackagedDigests.h"

class ConsoleUI;
class SetupInstaller;
class StagedInstallation;

// What one run of InstallSteps::Install did, as one value for the summary
// and the caller.
struct InstallOutcome {
  // Whether the new installation is in place.
  bool installed = false;
  // After a failure: whether the installation directory is as it was (an
  // earlier installation exactly, or a directory this run made gone).
  bool undone = false;
  // The names that did go to ".old", in the order they went.
  std::vector<std::string> movedToOld;
  // Which passwords were generated, and which kept from the earlier
  // installation.
  bool adminPasswordGenerated = false;
  bool encoderPasswordGenerated = false;
  bool adminPasswordKept = false;
  bool encoderPasswordKept = false;
  // Earlier administrators whose accounts still exist.
  std::vector<std::string> otherAdmins;
  // Whether the answers file was written.
  bool answersWritten = false;
  // The administrator's changed files and what was done with each: "kept"
  // (NAME stays, the new one is NAME.new) or "saved" (the new one installed,
  // the administrator's as NAME.saved), with the path.
  std::vector<std::pair<std::string, std::string>> administratorFiles;
};

// The installation itself, once every setting has been checked and the
// plan made (driver/installation/InstallationPlan.h), all or nothing. First,
// without changing anything, it finds whether the product's files and the
// generated files have room, whether older backups can give way, and which
// passwords an earlier installation keeps. Then it assembles the new
// installation beside the earlier one (StagedInstallation.h): the product's
// files from the extraction directory, the accounts, the loopcast script, the
// two configuration files (each read back, see ReadBackChecks.h), after a
// dialogue the answers file, Logs/ when neither the product nor the directory
// has it, Bin/uninstall and, last, the record install-manifest.txt, which is
// the plan's; and puts it in place with a few renames.
//
// The administrator's changed files (InstallationPlan::AdministratorFiles)
// are settled in the staging directory too, so that the switch keeps them
// all or nothing: a kept one is copied into staging at its name, the new
// one moved to NAME.new; a saved one is copied to NAME.saved (also when
// backups are off), and an earlier NAME.saved of a recorded file is carried
// over, so that it outlives the ".old" generation. A directory standing
// where the record has a file is the administrator's as well: kept, it stays
// in place (copied into staging only where its place goes to ".old"), and
// nothing in it is recorded; saved, it is copied whole to NAME.saved.
//
// The record describes the installation as setup made it: a kept NAME is
// listed with the digest and mode of the new file, so that Bin/verify shows
// it changed and every later run still treats it as the administrator's;
// NAME.new is listed as the new file, and NAME.saved, being the
// administrator's, is not listed.
class InstallSteps {
 public:
  InstallSteps(SetupInstaller& installer, const std::string& extractDir);
  ~InstallSteps();

  InstallSteps(const InstallSteps&) = delete;
  InstallSteps& operator=(const InstallSteps&) = delete;

  // What must hold before anything changes, found without changing
  // anything: the directory is not inside the extraction directory, the
  // generated files have their places, older backups can give way, and the
  // passwords of existing accounts can be kept (they are taken into the
  // settings). True, or false with the message to end with.
  bool Check(bool writeAnswers, std::string* error);
  // Whether every product file has its place (no directory that is not
  // empty where the product has a file), found without changing anything.
  // A walk of the whole product, so only for a plan that places files:
  // true, or false with the message to end with.
  bool CheckPlaces(std::string* error);
  // Whether the installation directory's file system has room for the
  // product (when it is copied there rather than renamed), the uninstaller
  // and the generated files: true, or false with the message to end with.
  bool CheckRoom(std::string* error);
  // The room that CheckRoom found, in bytes.
  uint64_t NeededBytes() const { return m_nNeeded; }
  uint64_t AvailableBytes() const { return m_nAvailable; }

  // Carries out plan, which has been assessed for these settings: the
  // outcome, installed once everything is in place, or not with the message
  // to end with in *error. Runs Check, CheckPlaces and CheckRoom first
  // unless they have
  // run. After any failure the installation directory is as it was (undone):
  // an earlier installation exactly (the message then says so), a directory
  // that this run created gone. A failure to write the answers file
  // (writeAnswers) is only a warning.
  InstallOutcome Install(const InstallationPlan& plan, bool writeAnswers, std::string* error);

  // Whether Install asks, for each configuration file of the server that
  // the administrator changed (not Content/), whether to keep it or take
  // the new one (driver/settings/ChangedConfigQuestion.h); otherwise the
  // plan's handling stands. The answer changes only that file's handling,
  // the outcome and what is staged; the input ending at the question ends
  // the installation with nothing changed.
  void SetAskAboutChangedConfig(bool ask) { m_bAskAboutConfig = ask; }

  // The length of the passwords that setup generates.
  static const size_t kGeneratedPasswordLength = 16;

 private:
  ConsoleUI& UI();
  // What must hold before anything changes; messages end the installation.
  bool CheckBeforeChanges(const std::string& dir, bool writeAnswers, std::string* error);
  void GeneratePasswords();
  // Fills the staging directory; each failure's message in *error.
  bool StageFiles(StagedInstallation& stage, const InstallationPlan& plan, bool writeAnswers,
                  std::string* error);
  bool StageEarlierDirectory(StagedInstallation& stage, const char* name, std::string* error);
  // Drops the package's digests for the names setup writes itself.
  void ForgetGeneratedFiles();
  bool StageAccounts(StagedInstallation& stage, std::string* error);
  bool StageLoopcastScript(StagedInstallation& stage, std::string* error);
  bool StageConfigFiles(StagedInstallation& stage, std::string* error);
  void StageAnswers(StagedInstallation& stage);
  bool StageLogs(StagedInstallation& stage, std::string* error);
  // Keeps or saves the administrator's changed files in the staging
  // directory; each failure's message in *error. Its phases: each file
  // settled (asked about first where that is to be asked), the earlier
  // record staged for the ".old" generation, earlier NAME.saved copies
  // and the administrator's own files carried over.
  bool StageAdministratorFiles(StagedInstallation& stage, const InstallationPlan& plan,
                               std::string* error);
  bool SettleAdministratorFile(StagedInstallation& stage, const InstallationPlan& plan,
                               const InstallationPlan::AdministratorFile& file, std::string* error);
  bool SaveAdministratorFile(StagedInstallation& stage, const std::string& path,
                             std::string* error);
  bool StageEarlierRecord(StagedInstallation& stage, const InstallationPlan& plan,
                          std::string* error);
  bool CarrySavedCopies(StagedInstallation& stage, const InstallationPlan& plan,
                        std::string* error);
  // The administrator's own files in the directories that go to ".old",
  // copied into the new installation (and not recorded); one the new
  // product brings under the same name is saved as NAME.saved.
  bool CarryAddedFiles(StagedInstallation& stage, const InstallationPlan& plan, std::string* error);
  bool CarryAddedFilesIn(StagedInstallation& stage, const std::string& dir,
                         const std::set<std::string>& recorded, std::string* error);
  // The staged files that the record lists: not the installer, the record,
  // the earlier record or the administrator's copies and kept directories.
  std::vector<ManifestEntry> ListedFiles(const std::vector<ManifestEntry>& staged) const;
  // Each kept file listed as the new one beside it.
  void ListKeptAsNew(std::vector<ManifestEntry>* files) const;
  // Bin/uninstall, then the plan's record with every file staged.
  bool StageRecord(StagedInstallation& stage, const InstallationPlan& plan, std::string* error);
  void CorrectRecord(const std::string& dir, const std::vector<std::string>& moved);

  SetupInstaller& m_installer;
  std::string m_sExtractDir;
  // Filled as the steps go, returned by Install.
  InstallOutcome m_outcome;
  bool m_bChecked;
  bool m_bPlacesChecked;
  // The package's digests of its files, noted before they are placed.
  PackagedDigests m_packagedDigests;
  bool m_bRoomChecked;
  uint64_t m_nNeeded;
  uint64_t m_nAvailable;
  // Kept in place, and NAME.saved copies: how the record lists them.
  std::vector<std::string> m_keptPaths;
  std::vector<std::string> m_keptDirectories;
  std::vector<std::string> m_savedCopies;
  bool m_bAskAboutConfig = false;
};

#endif  // STRATA_DRIVER_INSTALLATION_INSTALLSTEPS_H_
