#ifndef STRATA_COMMON_ATOMICFILE_H_
#define STRATA_COMMON_ATOMICFILE_H_

#include <stddef.h>
#include <sys/types.h>

#include <string>

// A file that appears under its name only when it is complete. It is written
// as a hidden temporary file in the same directory, and Commit gives it its
// mode, writes it to disk and renames it over the name; until then an
// existing file of that name stays untouched. The destructor removes the
// temporary file of a file that was not committed, and while it exists a
// signal handled by common/SignalCleanup.h removes it too. Every writer of a
// whole file in this project goes through it. A failure's message names the
// step and the path; its error number is kept beside it (ErrorNumber), so
// that a caller who words the failure its own way never takes the message
// apart. Not copyable.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();

  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file: true, or false with *error ("cannot create a
  // file in DIR: reason") if the directory does not take it.
  bool Create(std::string* error);

  // The temporary file, open for reading and writing.
  int Descriptor() const { return m_nFd; }

  // Appends size bytes: true, or false with *error ("cannot write PATH:
  // reason"); the temporary file is then discarded.
  bool Write(const void* data, size_t size, std::string* error);

  // Gives the file the mode (whatever the umask), writes it to disk, renames
  // it to the path and syncs the directory, so that after a crash the name
  // holds either the earlier file or the whole new one: true, or false with
  // *error, the temporary file removed and an earlier file of the name
  // untouched (or, when only the directory's sync failed, the new file in
  // place).
  bool Commit(mode_t mode, std::string* error);

  // As Commit, but gives the file its name only if nothing has that name
  // yet (link(2) rather than rename(2)): an existing file is never replaced,
  // and *error then says so.
  bool CommitAsNew(mode_t mode, std::string* error);

  // Removes the temporary file now.
  void Discard();

  // The error number of the last failure, 0 before any.
  int ErrorNumber() const { return m_nErrno; }

 private:
  bool Finish(mode_t mode, bool replace, std::string* error);
  // Sets *error to "step: reason" for err and keeps err.
  void Fail(const std::string& step, int err, std::string* error);

  std::string m_szPath;
  std::string m_szTempPath;
  int m_nFd;
  int m_nErrno;
};

// Replaces the file at path with content and mode through an AtomicFile:
// true, or false with *error, the error number in *err when err is given,
// and path as it was.
bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode,
                         std::string* error, int* err = nullptr);

// Creates path with content and mode through an AtomicFile, never replacing
// a file of that name: true, or false with *error (and *err).
bool CreateFileAtomically(const std::string& path, const std::string& content, mode_t mode,
                          std::string* error, int* err = nullptr);

// What mode 0666 or 0777 (as base) comes to for a new file under the
// process's current file-creation mask.
mode_t ModeUnderUmask(mode_t base);

#endif  // STRATA_COMMON_ATOMICFILE_H_
