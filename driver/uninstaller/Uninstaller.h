#ifndef STRATA_DRIVER_UNINSTALLER_UNINSTALLER_H_
#define STRATA_DRIVER_UNINSTALLER_UNINSTALLER_H_

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/ScopedFd.h"
#include "driver/journal/InstallJournal.h"

class InstallLog;
class InstallManifest;
struct ManifestEntry;
class InstallTree;

// Bin/uninstall: a copy of setup that, started under the name "uninstall",
// removes the installation recorded in install-manifest.txt of the directory
// above its own. Every listed file that is unchanged since installation goes;
// changed files and everything the manifest does not list stay and are
// listed (names with control characters replaced); directories that held
// listed files and are left empty go, deepest first, the administrator's
// own stay; what was done is appended to Logs/install.log, which stays; the
// manifest and its key go last, and the installation directory too if
// nothing is left in it. Asked for, the ".old" generation of the earlier
// installation is put back. Nothing
// outside the installation directory is touched: every path is reached from
// a descriptor of the directory without following a symbolic link.
//
// Every step is planned first and written as the installation's journal
// (driver/journal/InstallJournal.h) before the first removal, with the
// installation's lock held: a removal stopped by a crash is completed by the
// next run of Bin/uninstall or setup. When a listed file cannot be removed,
// the manifest and the program's own file stay, so that the removal can be
// run again. Not copyable: owns its
// console.
class Uninstaller {
 public:
  // installDir: the installation; programPath: this program's own file,
  // which goes after the other listed files.
  Uninstaller(std::string installDir, std::string programPath);
  ~Uninstaller();

  Uninstaller(const Uninstaller&) = delete;
  Uninstaller& operator=(const Uninstaller&) = delete;

  // Whether a program started as argv0 is the uninstaller.
  static bool IsUninstallerName(const char* argv0);
  // The program as Bin/uninstall: the installation is the parent of the
  // directory that holds /proc/self/exe. Returns the exit status.
  static int RunProgram(int argc, const char** argv);

  // Options, the question (unless -s), the removal: returns 0 when the
  // installation was removed, 1 when the user answered anything but yes
  // (nothing removed), 255 after a message beginning "Error: " otherwise.
  int Main(int argc, const char** argv);

  // The removal itself, without a question: true, or false with *error (the
  // failures on the way are shown as they happen).
  bool Remove(bool restoreBackup, std::string* error);

  // The rollback (--restore-backup): the names that the installation moved
  // to NAME.old are put back, the installation's files under them going,
  // and the earlier record (install-manifest.txt.old) becomes the record
  // again, listing the restored files as the earlier one did and every
  // other file (Content, the accounts, License.txt, ...) as it stands now,
  // so that the result is an installation like any other. Everything else
  // stays: the password databases, Content, Logs, the administrator's
  // files. Journalled like a removal. True, or false with *error; without
  // an earlier generation nothing is changed.
  bool Rollback(const InstallManifest& manifest, std::string* error);

 private:
  class Console;

  // What a removal does, worked out before anything is removed: the
  // journal's steps (unlinks with the program's own file last, empty
  // directories deepest first, backups put back, the record last), the
  // listed files kept as changed and the paths that the steps remove.
  struct Plan {
    std::vector<JournalStep> steps;
    std::set<std::string> changed;
    std::set<std::string> removed;
    // Backups that cannot be put back, and why.
    std::vector<std::string> restoreProblems;
  };

  // The options: true to go on, with *silent and *restoreBackup set; false
  // when Main is to return *status (after the help, or an unknown option
  // shown with the usage). Nothing is touched.
  bool ReadOptions(int argc, const char** argv, bool* silent, bool* restoreBackup, int* status);
  // The question: true on yes; false when Main is to return *status
  // (declined, or input ended before an answer). Nothing is touched.
  bool Confirmed(const std::string& product, bool restoreBackup, int* status);
  // The installation's lock and the recovery of what a stopped run left
  // (driver/journal/): true, with *finished when that completed a removal
  // and no record is left; or false with *error.
  bool TakeInstallation(bool* finished, std::string* error);
  // The removal's phases, in order; the signal block that Remove holds
  // covers the last two. Plans every step, the record's key and the record
  // last; reads only. *restorable: whether every backup asked for can be
  // put back. False with *error, nothing removed.
  bool PlanRemoval(const InstallTree& tree, const InstallManifest& manifest, bool restoreBackup,
                   Plan* plan, bool* restorable, std::string* error);
  // Takes the journalled steps. On a failure the log is written, the
  // journal goes and the record stays for another run: false with *error.
  bool TakeRemovalSteps(const InstallTree& tree, const Plan& plan, InstallLog* log,
                        std::string* error);
  // Shows the backups that could not be put back, writes the log, syncs and
  // drops the journal, and removes the installation directory when nothing
  // is left in it. False with *error when one of those fails.
  bool FinishRemoval(const InstallTree& tree, const Plan& plan, InstallLog* log,
                     std::string* error);
  // Checks every listed file; unchanged ones are to go, changed ones are
  // shown and kept. False when one could not be checked.
  bool PlanListedFiles(const InstallTree& tree, const InstallManifest& manifest, Plan* plan);
  // The empty directories below the one open at fd (relative path prefix,
  // "" or ending with "/") once the planned files are gone, and what stays
  // shown; *empty tells whether nothing stays in it.
  bool PlanSweep(int fd, const std::string& prefix, const InstallManifest& manifest,
                 bool restoreBackup, Plan* plan, bool* empty);
  // Whether name, directly in the installation directory, stays as it is:
  // the record and its key (they go last), the journal, or a backup the
  // record lists (shown, unless it is to be put back).
  bool KeptAtTop(const std::string& name, const InstallManifest& manifest, bool restoreBackup);
  // Whether the empty directory relative was made by the installation: it
  // held a listed file, or is one of the password databases' own.
  static bool MadeByInstallation(const std::string& relative, const InstallManifest& manifest);
  // Each NAME.old of moved_to_old put back as NAME where NAME will be free.
  bool PlanRestore(const InstallTree& tree, const InstallManifest& manifest, Plan* plan);
  // One step, reached from the directory without following a link; a
  // failure is shown.
  bool TakeStep(const InstallTree& tree, const JournalStep& step);
  void ShowError(const std::string& message);
  void AppendLog(const InstallLog& log);

  // The rollback's phases, in order. Until the journal is written nothing
  // in the installation is changed but the stage, which a failing phase
  // after PrepareRollbackStage leaves for Rollback to remove.
  struct RollbackPlan;
  class AdministratorsFiles;
  // The refusals: an earlier generation to put back, its record readable
  // and every NAME.old there. Reads only; false with *error.
  bool ReadEarlier(const InstallManifest& manifest, InstallManifest* earlier, std::string* error);
  // Makes the stage with aside/ and the earlier record written and synced
  // into it. True with plan->stage and stageName; false with *error and no
  // stage left.
  bool PrepareRollbackStage(RollbackPlan* plan, std::string* error);
  // The administrator's files under the restored names and where each goes
  // (plan->topSaved, plan->kept). Reads only; false with *error when one has
  // no directory in the earlier installation.
  bool PlanAdministratorsFiles(const InstallManifest& manifest, RollbackPlan* plan,
                               std::string* error);
  // The journal's steps into plan->steps: per restored name, the current
  // one aside (or to NAME.saved) and NAME.old back; the kept files into the
  // restored directories; the records swapped; the earlier record dropped.
  void PlanRollbackSteps(const InstallManifest& manifest, RollbackPlan* plan);
  // Takes the journalled steps. On a failure the renames are undone in
  // reverse, the journal and the stage removed: the installation is as it
  // was, false with *error.
  bool TakeRollbackSteps(const InstallTree& tree, const RollbackPlan& plan, std::string* error);
  // Marks the journal done, syncs, removes the stage and the journal, then
  // logs and shows what was kept. False with *error when one of those
  // fails (the journal then lets a later run clear up).
  bool FinishRollback(const RollbackPlan& plan, InstallJournal* journal, std::string* error);

  std::string m_sDir;
  std::string m_sProgram;
  std::unique_ptr<Console> m_pUI;
  // Backups put back by the steps taken, for the log.
  std::vector<std::string> m_restored;
  // The directory of the last file a step removed, held open so that the
  // next removal in it does not walk there again; let go at any other
  // step, which may move or remove directories.
  std::string m_sStepDir;
  ScopedFd m_stepDir;
};

#endif  // STRATA_DRIVER_UNINSTALLER_UNINSTALLER_H_
