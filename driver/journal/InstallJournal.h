#ifndef STRATA_DRIVER_JOURNAL_INSTALLJOURNAL_H_
#define STRATA_DRIVER_JOURNAL_INSTALLJOURNAL_H_

#include <sys/types.h>

#include <string>
#include <vector>

// One step of a journal, with paths relative to the installation directory
// (a path may pass through a symbolic link the administrator made, such as a
// Content directory on another file system).
struct JournalStep {
  enum class Kind {
    kRename,  // path to target; undone by renaming target back to path
    kChmod,   // a directory's mode to mode; undone by earlierMode
    kUnlink,  // a file removed; cannot be undone
    kRmdir,   // an empty directory removed; cannot be undone
  };
  Kind kind = Kind::kRename;
  std::string path;
  std::string target;
  mode_t mode = 0;
  mode_t earlierMode = 0;
};

// The intent journal of a change to an installation, .strata-journal in the
// installation directory: written to disk (file and directory) before the
// first step of a switch, a restored backup or a removal, and removed only
// once every step and its clean-up are on disk. While it exists, the
// installation is between two generations, and driver/journal/Recovery.h
// puts it on one of them.
//
// What it holds: the action, the process that wrote it, the generation being
// made (the new record's package digest and date), the staging directories
// of the run, the state and the steps in the order they are taken. The steps
// are plain moves (rename), mode changes and removals; the state says how far
// the change is:
// - "switching": every file of the new generation, its directories and its
//   record were on disk before this was written; the steps may have been
//   taken in part, in order. A rename taken leaves its mark (its source gone
//   and its target there), and so does a removal not followed by a rename:
//   the change is finished from just after the last rename taken, or undone
//   from it backwards, from any point, and so is that finishing or undoing
//   itself. Targets of renames are always names that are free until then.
// - "done": every step was taken and is on disk; what remains is removing
//   the staging directories and the journal.
// Later kinds of change (files kept beside new ones, a full rollback) add
// steps of these kinds to the same list; a reader refuses a format it does
// not know rather than half-understanding it.
class InstallJournal {
 public:
  static const char kFileName[];  // ".strata-journal"

  enum class Action { kInstall, kRestoreBackup, kUninstall };
  enum class State { kSwitching, kDone };

  Action action = Action::kInstall;
  State state = State::kSwitching;
  long pid = 0;
  std::string generation;
  // Staging directories, relative to the installation directory.
  std::vector<std::string> stages;
  std::vector<JournalStep> steps;

  std::string Format() const;
  // Replaces this journal by the one in text: true, or false with *error.
  bool Parse(const std::string& text, std::string* error);

  // Writes the journal into dir, durably (the file, then the directory):
  // true, or false with *error and any earlier journal in place.
  bool Write(const std::string& dir, std::string* error) const;
  // Reads the journal of dir: true with *found telling whether there is
  // one, or false with *error when one is there but cannot be read.
  bool Read(const std::string& dir, bool* found, std::string* error);
  // Removes the journal of dir durably: true (also when there is none), or
  // false with *error.
  static bool Remove(const std::string& dir, std::string* error);

  static const char* ActionText(Action action);
};

#endif  // STRATA_DRIVER_JOURNAL_INSTALLJOURNAL_H_
