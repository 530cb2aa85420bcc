#ifndef STRATA_DRIVER_INSTALLATION_INSTALLATIONPLAN_H_
#define STRATA_DRIVER_INSTALLATION_INSTALLATIONPLAN_H_

#include <string>
#include <vector>

#include "driver/record/InstallManifest.h"

class SetupInstaller;

// What an installation with the installer's settings would do to its
// directory, found without changing anything: whether an earlier
// installation is there (its install-manifest.txt, or any name that an
// installation backs up), whether it is the same installation (the same
// known package, the same settings, every recorded file unchanged, and no
// password given that differs from the one an account holds), which
// settings differ, and which names would go to ".old".
//
// A recorded file that differs on disk from the record (content, mode or
// kind) is the administrator's, and no installation destroys it unnamed: a
// configuration file of the server (qmserver.cfg, default.cfg,
// Bin/loopcast.sh) or anything under Content/ stays in place and in effect,
// the new one going beside it as NAME.new, unless the new ones are taken
// (SetTakeNewConfig); any other product file, and a taken configuration
// file, is installed anew with the administrator's version kept as
// NAME.saved. Files that setup itself keeps up to date (the password
// databases, the answers file, Bin/uninstall, Bin/verify) are not concerned.
class InstallationPlan {
 public:
  // One recorded file that is changed or missing on disk, and what the
  // installation does with it.
  struct AdministratorFile {
    enum class Handling {
      kKept,     // yours stays at NAME, the new one is written as NAME.new
      kSaved,    // the new one is installed, yours is kept as NAME.saved
      kMissing,  // nothing there: the new one is installed
      kOwn,      // a file that setup keeps up to date itself
    };
    std::string path;
    Handling handling;
  };

  enum class Verdict {
    kInstall,      // nothing installed there yet
    kUpgrade,      // an earlier installation, another package or settings
    kNothingToDo,  // the same installation is there
    kReinstall,    // the same, and installing again was asked for
  };

  // packageDigest: "<kind>:<hex>", "none" or "unknown"; reinstall: whether
  // the same installation is to be installed again.
  InstallationPlan(const SetupInstaller& installer, const std::string& packageDigest,
                   bool reinstall);

  InstallationPlan(const InstallationPlan&) = delete;
  InstallationPlan& operator=(const InstallationPlan&) = delete;

  // Looks at the installation directory: true, or false with the message to
  // end with when a recorded file could not be read. A manifest that cannot
  // be read or parsed makes the installation an upgrade, with a note.
  bool Assess(std::string* error);

  Verdict GetVerdict() const { return m_verdict; }
  // Whether the Admin port is one drawn for this run only, which the
  // installation will draw anew: the plan then does not name it.
  void SetAdminPortDrawn(bool drawn) { m_bAdminPortDrawn = drawn; }
  // Whether a changed configuration file is replaced by the new one (the
  // administrator's then kept as NAME.saved) rather than kept; before Assess.
  void SetTakeNewConfig(bool take) { m_bTakeNewConfig = take; }
  // After Assess: each recorded file changed or missing on disk, in the
  // order of the record.
  const std::vector<AdministratorFile>& AdministratorFiles() const { return m_adminFiles; }
  // The line that names what happens to file, for the plan, the summary
  // and the log: "kept as yours (the new one is PATH.new)" and so on.
  static std::string HandlingText(const AdministratorFile& file);
  // "install", "upgrade", "nothing to do" or "reinstall".
  static const char* VerdictText(Verdict verdict);

  // The manifest this installation writes: header filled from the
  // settings, no date and no files yet.
  const InstallManifest& NewManifest() const { return m_new; }
  // The earlier installation's record, or null when there is none that
  // could be read.
  const InstallManifest* EarlierManifest() const {
    return m_bHasEarlierManifest ? &m_earlier : nullptr;
  }
  // The names of the backup list that would go to their ".old" names, in
  // the order of that list.
  const std::vector<std::string>& MovedToOld() const { return m_new.movedToOld; }
  // The plan as the user reads it: where, the accounts (new or existing,
  // password kept, replaced or generated), the ports, what goes to ".old"
  // and notes on the earlier installation. Never a password.
  std::string Describe() const;
  // A line "Changed: KEY: OLD -> NEW" for each settings key that differs
  // from the earlier manifest, package_digest first when the packages are
  // not known to be the same; none without an earlier manifest.
  std::string ChangedLines() const;

  // For an installation that changes nothing: the earlier manifest written
  // again with installed_at set to now. True, or false with *error.
  bool RenewManifestDate(std::string* error);

 private:
  // The phases of Assess: whether an earlier installation and its record
  // are there; whether its package and settings are these (each that
  // differs noted as a change); and which recorded files are changed or
  // missing, *settled staying true when each is already as an installation
  // would leave it (false with *error when they cannot be compared).
  void FindEarlierInstallation();
  bool CompareSettings();
  bool AssessRecordedFiles(bool* settled, std::string* error);
  // Whether a password is given that differs from the one its account
  // holds; notes each.
  bool PasswordsGivenAnew();
  std::string AccountLine(const char* label, const char* database, const char* user,
                          const char* password) const;

  const SetupInstaller& m_installer;
  bool m_bReinstall;
  InstallManifest m_new;
  InstallManifest m_earlier;
  bool m_bHasEarlierManifest;
  bool m_bHasEarlierInstallation;
  std::vector<std::string> m_notes;
  std::vector<SettingChange> m_changes;
  Verdict m_verdict;
  bool m_bAdminPortDrawn = false;
  bool m_bTakeNewConfig = false;
  std::vector<AdministratorFile> m_adminFiles;
};

#endif  // STRATA_DRIVER_INSTALLATION_INSTALLATIONPLAN_H_
