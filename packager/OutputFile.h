#ifndef STRATA_PACKAGER_OUTPUTFILE_H_
#define STRATA_PACKAGER_OUTPUTFILE_H_

#include <sys/types.h>

#include <string>

// A file that appears under its name only when it is complete. It is written
// as a temporary file in the same directory and renamed over the name by
// Commit; until then an existing file of that name stays untouched, and the
// destructor removes the temporary file of an output that was not
// committed. While it exists, the temporary file is also removed when a
// signal ends the process (packager/SignalCleanup.h).
class OutputFile {
 public:
  explicit OutputFile(std::string path);
  ~OutputFile();

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file; false with a message if the directory does
  // not take it.
  bool Create(std::string* error);

  // The temporary file, open for reading and writing.
  int Descriptor() const { return m_nFd; }

  // Gives the file the mode (whatever the umask), writes it to disk and
  // renames it to the path. On failure the temporary file is removed.
  bool Commit(mode_t mode, std::string* error);

  // Removes the temporary file now.
  void Discard();

 private:
  std::string m_szPath;
  std::string m_szTempPath;
  int m_nFd;
};

#endif  // STRATA_PACKAGER_OUTPUTFILE_H_
