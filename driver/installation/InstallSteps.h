#ifndef STRATA_DRIVER_INSTALLATION_INSTALLSTEPS_H_
#define STRATA_DRIVER_INSTALLATION_INSTALLSTEPS_H_

#include <stdint.h>

#include <string>
#include <vector>

class ConsoleUI;
class SetupInstaller;
class StagedInstallation;

// The installation itself, once every setting has been checked, all or
// nothing. First, without changing anything, it finds whether the product's
// files and the generated files have room, whether older backups can give
// way, and which passwords an earlier installation keeps. Then it assembles
// the new installation beside the earlier one (driver/StagedInstallation.h):
// the product's files from the extraction directory, the accounts, the
// loopcast script, the two configuration files (each read back, see
// driver/ReadBackChecks.h), after a dialogue the answers file, Logs/ when
// neither the product nor the directory has it, Bin/uninstall and, last,
// the record install-manifest.txt; and puts it in place with a few renames.
class InstallSteps {
 public:
  InstallSteps(SetupInstaller& installer, const std::string& extractDir);
  ~InstallSteps();

  InstallSteps(const InstallSteps&) = delete;
  InstallSteps& operator=(const InstallSteps&) = delete;

  // The package's digest that the record names ("unknown" until set).
  void SetPackageDigest(const std::string& digest) { m_sPackageDigest = digest; }

  // What must hold before anything changes, found without changing
  // anything: the directory is not inside the extraction directory, the
  // product's files and the generated ones have their places, older
  // backups can give way, and the passwords of existing accounts can be
  // kept (they are taken into the settings). True, or false with the
  // message to end with.
  bool Check(bool writeAnswers, std::string* error);
  // Whether the installation directory's file system has room for the
  // product (when it is copied there rather than renamed), the uninstaller
  // and the generated files: true, or false with the message to end with.
  bool CheckRoom(std::string* error);
  // The room that CheckRoom found, in bytes.
  uint64_t NeededBytes() const { return m_nNeeded; }
  uint64_t AvailableBytes() const { return m_nAvailable; }

  // True once everything is in place, or false with the message to end
  // with. Runs Check and CheckRoom first unless they have run. After any failure the installation
  // directory is as it was: an earlier installation exactly (the message then says so), a directory
  // that this run created gone. A failure to write the answers file (writeAnswers) is only a
  // warning.
  bool Install(bool writeAnswers, std::string* error);

  // For the summary: which passwords were generated or kept from the
  // earlier installation, the earlier administrators whose accounts still
  // exist, and whether the answers file was written.
  bool AdminPasswordGenerated() const { return m_bAdminPasswordGenerated; }
  bool EncoderPasswordGenerated() const { return m_bEncoderPasswordGenerated; }
  bool AdminPasswordKept() const { return m_bAdminPasswordKept; }
  bool EncoderPasswordKept() const { return m_bEncoderPasswordKept; }
  const std::vector<std::string>& OtherAdmins() const { return m_otherAdmins; }
  bool AnswersWritten() const { return m_bAnswersWritten; }

  // The length of the passwords that setup generates.
  static const size_t kGeneratedPasswordLength = 16;

 private:
  ConsoleUI& UI();
  // What must hold before anything changes; messages end the installation.
  bool CheckBeforeChanges(const std::string& dir, bool writeAnswers, std::string* error);
  void GeneratePasswords();
  // Fills the staging directory; each failure's message in *error.
  bool StageFiles(StagedInstallation& stage, bool writeAnswers, std::string* error);
  bool StageEarlierDirectory(StagedInstallation& stage, const char* name, std::string* error);
  bool StageAccounts(StagedInstallation& stage, std::string* error);
  bool StageLoopcastScript(StagedInstallation& stage, std::string* error);
  bool StageConfigFiles(StagedInstallation& stage, std::string* error);
  void StageAnswers(StagedInstallation& stage);
  bool StageLogs(StagedInstallation& stage, std::string* error);
  // Bin/uninstall, then the record of every file staged.
  bool StageRecord(StagedInstallation& stage, std::string* error);
  void CorrectRecord(const std::string& dir, const std::vector<std::string>& moved);

  SetupInstaller& m_installer;
  std::string m_sExtractDir;
  bool m_bAdminPasswordGenerated;
  bool m_bEncoderPasswordGenerated;
  bool m_bAdminPasswordKept;
  bool m_bEncoderPasswordKept;
  std::vector<std::string> m_otherAdmins;
  bool m_bAnswersWritten;
  std::string m_sPackageDigest;
  bool m_bChecked;
  bool m_bRoomChecked;
  uint64_t m_nNeeded;
  uint64_t m_nAvailable;
  // The names that go to ".old", as the record states them.
  std::vector<std::string> m_movedToOld;
};

#endif  // STRATA_DRIVER_INSTALLATION_INSTALLSTEPS_H_
