#ifndef STRATA_DRIVER_INSTALLATION_STAGEDINSTALLATION_H_
#define STRATA_DRIVER_INSTALLATION_STAGEDINSTALLATION_H_

#include <sys/types.h>

#include <string>
#include <vector>

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
// older backup aside first). The signals that end setup are held off
// meanwhile. If a rename fails, every rename done is undone in reverse order,
// so the earlier installation stands exactly as it was (names, contents,
// modes). After a successful Switch, Finish removes what went aside.
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
  // or after a failed one.
  void Discard();

 protected:
  // rename(2), through which every rename of Switch and of its undoing goes
  // (the backup renames go through the installer's BackupIfPresent): a test
  // derives to fail a chosen one.
  virtual int Rename(const char* from, const char* to);

 private:
  struct Undo {
    std::string from;  // renamed from here...
    std::string to;    // ...to here; undone by renaming back
    bool chmodOnly;    // a directory's mode changed instead: to is unused
    mode_t mode;       // the directory's earlier mode
  };

  bool SwitchDirectory(const std::string& staged, const std::string& dest, bool top,
                       std::string* error);
  bool SwitchBackupName(const std::string& name, const std::string& staged, std::string* error);
  // Renames from to to, to be undone on a rollback; a failure names to, or
  // from when nameSource is set.
  bool Move(const std::string& from, const std::string& to, std::string* error,
            bool nameSource = false);
  bool MoveAside(const std::string& path, std::string* error);
  bool RollBack(std::string* error);
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
  std::vector<Undo> m_undo;
  std::vector<std::string> m_movedToOld;
};

#endif  // STRATA_DRIVER_INSTALLATION_STAGEDINSTALLATION_H_
