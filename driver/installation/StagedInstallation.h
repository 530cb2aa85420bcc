#ifndef STRATA_DRIVER_INSTALLATION_STAGEDINSTALLATION_H_
#define STRATA_DRIVER_INSTALLATION_STAGEDINSTALLATION_H_

#include <sys/types.h>

#include <deque>
#include <string>
#include <vector>

#include "driver/journal/InstallJournal.h"

class ServerInstaller;

// A new installation prepared beside the earlier one and put in its place by
// renames. Prepare makes the installation directory if it is missing and a
// hidden staging directory inside it, on the same file system; the caller
// fills NewRoot() with every file of the new installation. Until Switch
// nothing of the earlier installation is changed, and Discard (or a signal
// that ends setup) removes the staging directory and any directory that
// Prepare made.
//
// Switch renames each entry of NewRoot() into place, merging directories
// that both have: what it replaces goes aside into the staging directory,
// and with backups each name of the backup list goes to its ".old" name (an
// older backup aside first). A directory of the earlier installation that is
// a symbolic link to another file system (Content on a media disk) stays the
// administrator's: the new files for it are copied into a staging directory
// of its own on that file system and renamed into place with the rest.
//
// Crash safety (driver/journal/): Switch first writes every staged file and
// directory to disk, then works out every step it will take and writes them
// as the installation's journal, and only then takes them. The signals that
// end setup are held off from then on, until the process ends (the driver
// shows its summary first). If a rename fails, every step taken is undone in
// reverse order, so the earlier installation stands exactly as it was
// (names, contents, modes); if the process dies instead, the next run's
// recovery finishes the switch. After a successful Switch, Finish removes
// what went aside and then the journal. The installer itself (Bin/setup)
// never becomes part of the installation.
//
// Not copyable: the object owns the staging directory.
class StagedInstallation {
 public:
  // dir: the installation directory, absolute; backup: whether the earlier
  // installation's names of the backup list are kept under ".old" names.
  StagedInstallation(ServerInstaller& installer, const std::string& dir, bool backup);
  virtual ~StagedInstallation();

  StagedInstallation(const StagedInstallation&) = delete;
  StagedInstallation& operator=(const StagedInstallation&) = delete;

  // Whether each directory of the product (in productDir) that is a
  // symbolic link to a directory on another file system in the
  // installation directory dir can take the product's files through a
  // staging directory there: true, or false with the message to end with,
  // naming the link.
  static bool CheckLinkedDirectories(const std::string& productDir, const std::string& dir,
                                     std::string* error);

  // Creates what is missing of the installation directory and the staging
  // directory: true, or false with *error, nothing left behind.
  bool Prepare(std::string* error);
  // Where the new installation is assembled: its files as they will stand
  // in the installation directory.
  const std::string& NewRoot() const { return m_sNew; }
  // Whether the installation directory held anything before Prepare.
  bool HadEarlierInstallation() const { return m_bHadEarlier; }
  // text with every path below NewRoot() shown as the path it will have in
  // the installation directory, for messages.
  std::string ShownPaths(const std::string& text) const;

  // Puts the new installation in place: true, or false with *error naming
  // the rename that failed and why, everything undone (or, should undoing
  // fail, what could not be put back). The staging directory is left for
  // Finish or Discard either way.
  bool Switch(std::string* error);
  // After a successful Switch: the names of the backup list that went to
  // their ".old" names, in the order they went.
  const std::vector<std::string>& MovedToOld() const { return m_movedToOld; }
  // After a failed Switch: whether it was a name of the earlier installation
  // that could not be moved to its ".old" name, and whether everything done
  // was undone.
  bool BackupFailed() const { return m_bBackupFailed; }
  bool Restored() const { return m_bRestored; }
  // Removes the staging directory with what went aside: true, or false with
  // *error naming what stayed.
  bool Finish(std::string* error);
  // Removes the staging directory and what Prepare created, before a Switch
  // or after a failed one; after a switch that could not be undone it
  // leaves them for the recovery that the journal asks for.
  void Discard();

 protected:
  // rename(2), through which every forward rename of Switch goes (the backup
  // renames go through the installer's BackupIfPresent, the undoing through
  // the journal's recovery): a test derives to fail a chosen one.
  virtual int Rename(const char* from, const char* to);

 private:
  // One step of the switch as planned: a journal step, or the framework's
  // backup of a name of the backup list (a rename to NAME.old in the
  // journal).
  struct Step {
    JournalStep step;
    std::string backupName;  // set for a backup
    bool nameSource;         // a failed rename names its source
  };
  // Where moved-aside entries go: the staging directory of the file system
  // that the entries lie on.
  struct Area {
    std::string aside;
    dev_t device;
    int* counter;
  };

  // The phases of Switch: the steps worked out; everything staged on disk;
  // the journal written (signals held from then on); the steps taken, or
  // undone after the first that fails.
  bool PlanSwitch(std::string* error);
  bool MakeStagedDurable(std::string* error);
  bool WriteJournal(InstallJournal* journal, std::string* error);
  bool TakeSteps(InstallJournal* journal, std::string* error);
  bool PlanDirectory(const std::string& staged, const std::string& dest, const Area& area, bool top,
                     std::string* error);
  void PlanBackupName(const std::string& name, const std::string& staged, const Area& area);
  void PlanMove(const std::string& from, const std::string& to, bool nameSource = false);
  void PlanMoveAside(const std::string& path, const Area& area);
  // A staging directory inside a linked directory on another file system,
  // filled with a copy of staged: true with its "new" and "old" in *area
  // and *newRoot, or false with *error.
  bool PrepareLinkedArea(const std::string& staged, const std::string& linked, Area* area,
                         std::string* newRoot, std::string* error);
  bool TakeStep(const Step& step, std::string* error);
  std::string Relative(const std::string& path) const;
  std::vector<JournalStep> JournalSteps(size_t count) const;
  void ForgetSignalRemovals();

  ServerInstaller& m_installer;
  std::string m_sDir;
  bool m_bBackup;
  bool m_bHadEarlier;
  // The topmost directory that Prepare created, if it created any.
  std::string m_sCreatedTop;
  std::string m_sStage;
  std::string m_sNew;
  std::string m_sAside;
  int m_nAside;
  bool m_bSwitched;
  bool m_bBackupFailed;
  bool m_bRestored;
  std::vector<Step> m_steps;
  std::vector<std::string> m_movedToOld;
  // Staging directories in linked directories on other file systems.
  std::vector<std::string> m_linkedStages;
  std::deque<int> m_linkedCounters;
  bool m_bJournalled;
};

#endif  // STRATA_DRIVER_INSTALLATION_STAGEDINSTALLATION_H_
