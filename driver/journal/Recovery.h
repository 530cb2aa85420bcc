#ifndef STRATA_DRIVER_JOURNAL_RECOVERY_H_
#define STRATA_DRIVER_JOURNAL_RECOVERY_H_

#include <string>
#include <vector>

#include "driver/journal/InstallJournal.h"

// What every run that touches an installation does first, holding the
// installation's lock (driver/journal/InstallationLock.h): puts an
// installation that a run left between two generations on one of them, and
// removes what dead runs left.
//
// With the lock held, a journal or a staging directory
// (".strata-setup.XXXXXX", in the installation directory or in a directory
// of it that is a link to another file system) belongs to a run that has
// ended. Recovery then:
// - finishes an installation's switch ("switching": every new file was on
//   disk before it began) by taking the steps not yet taken, in order; should
//   a step be impossible (its source and its target both gone), it undoes
//   every step instead, in reverse order, and the earlier installation
//   stands;
// - finishes a removal or a restored backup: removals cannot be undone;
// - syncs what it changed, removes the staging directories and then the
//   journal.
// Each step is tested before it is taken, so Recovery may itself be stopped
// at any point and run again.
class Recovery {
 public:
  // dir: the installation directory, absolute and real.
  explicit Recovery(std::string dir);

  // Looks for a journal and staging directories without changing anything:
  // true, or false with *error when a journal is there but cannot be read
  // (the message says that nothing was changed).
  bool Inspect(std::string* error);
  bool Needed() const { return m_bHaveJournal || !m_deadStages.empty(); }
  // The journal Inspect found, or null.
  const InstallJournal* Journal() const { return m_bHaveJournal ? &m_journal : nullptr; }
  // One line for each thing recovery does ("Recovery: ...") or, for a
  // check, would do ("Recovery needed: ...").
  std::vector<std::string> Describe(bool wouldDo) const;
  // Puts the installation right after Inspect: true, or false with *error.
  // *lines: what was done, as Describe says it.
  bool Run(std::vector<std::string>* lines, std::string* error);

  // Whether name is the name of a staging directory.
  static bool IsStagingName(const std::string& name);
  // The staging directories below dir (in dir and in its top-level links to
  // directories), relative to dir.
  static std::vector<std::string> FindStages(const std::string& dir);

  // How many of the steps were taken, found on disk.
  static size_t TakenCount(const std::string& dir, const std::vector<JournalStep>& steps);
  // The steps of a journal taken in order where not yet taken, each tested
  // first: true, or false with *error naming the first that could not be
  // taken (its source and its target gone, or the system refused).
  static bool RollForward(const std::string& dir, const std::vector<JournalStep>& steps,
                          std::string* error);
  // One removal of a journal (an unlink or an rmdir), unless taken: true,
  // or false with *error.
  static bool RemoveStep(const std::string& dir, const JournalStep& step, std::string* error);
  // The steps that were taken undone in reverse order: true, or false with
  // *error naming what could not be put back.
  static bool RollBack(const std::string& dir, const std::vector<JournalStep>& steps,
                       std::string* error);
  // Syncs every directory whose entries the steps changed.
  static bool SyncSteps(const std::string& dir, const std::vector<JournalStep>& steps,
                        std::string* error);

 private:
  std::string Path(const std::string& relative) const;
  // Rolls the interrupted switch forward (or, for an installation that
  // cannot be finished, back), syncs what it changed and marks the journal
  // done: true, or false with *error and the journal left for the next run.
  bool FinishSwitch(std::string* error);
  // Removes each staging directory: true, or false with *error.
  bool RemoveStages(const std::vector<std::string>& stages, std::string* error) const;
  // Appends what recovery did to the installation's log, if there is one.
  void LogWhatWasDone(const std::vector<std::string>& lines) const;

  std::string m_sDir;
  bool m_bHaveJournal;
  InstallJournal m_journal;
  std::vector<std::string> m_deadStages;
  // Set by Run when finishing was impossible: why it was undone.
  mutable std::string m_sUndoReason;
};

#endif  // STRATA_DRIVER_JOURNAL_RECOVERY_H_
