#ifndef STRATA_DRIVER_INSTALLATION_PRODUCTFILES_H_
#define STRATA_DRIVER_INSTALLATION_PRODUCTFILES_H_

#include <sys/stat.h>

#include <set>
#include <string>

// Puts the product's files from the extraction directory into the
// installation directory. Each entry is renamed into place when both lie on
// one file system, and copied otherwise (files with their modes and times,
// symbolic links as links). Directories that already exist are merged into
// (and take the product's mode), and so are directories that a symbolic link
// of that name leads to (these keep their own mode: an administrator put them
// elsewhere); other files and links that exist are replaced. A directory that
// is not empty is never removed to make room for a file.
//
// After a successful Place every entry of the source (but the skipped ones)
// is in the target; moved entries have left the source. After a failure the
// entries placed so far stay placed and the error says which entry failed.
// Check finds beforehand, without changing anything, what Place would refuse.
class ProductFiles {
 public:
  ProductFiles(const std::string& from, const std::string& to);

  ProductFiles(const ProductFiles&) = delete;
  ProductFiles& operator=(const ProductFiles&) = delete;

  // Leaves the entry of this name directly in the source where it is.
  void Skip(const std::string& name) { m_skipped.insert(name); }
  // Check takes the entry of this name directly in the target as gone: it
  // will have been moved aside before Place runs. A deeper path (with '/')
  // is taken as gone only where it is a directory in the way of a file.
  void Vacate(const std::string& name) { m_vacated.insert(name); }
  // Copies even where a rename would do; the copy is what happens between
  // file systems.
  void SetCopyAlways(bool copyAlways) { m_bCopyAlways = copyAlways; }

  bool Place(std::string* error);
  // Whether Place would find room for every entry: true, or false with
  // *error naming the first entry of the target in its way (a directory that
  // is not empty where the product has a file) or what could not be read.
  bool Check(std::string* error) const;

  // Entries renamed and files, links and directories copied, for reports.
  int MovedCount() const { return m_nMoved; }
  int CopiedCount() const { return m_nCopied; }

 private:
  // What placing one entry takes, from what stands at its target.
  enum class Step {
    kPut,           // nothing, a file or a link there: renamed or copied over it
    kClearThenPut,  // a directory there for a file, or a file there for a directory
    kMerge,         // a directory there for a directory
    kMergeLinked,   // a link to a directory there for a directory
  };
  // Decides the step for from at to: true, or false with *error when Place
  // would not go on. Leaves from's lstat in *source and, for kClearThenPut,
  // whether to is a directory in *targetIsDirectory.
  // The names are looked up in the directories open at fromDir and toDir
  // (AT_FDCWD for from and to themselves); from and to name them in
  // messages.
  bool Plan(int fromDir, const char* fromName, int toDir, const char* toName,
            const std::string& from, const std::string& to, struct stat* source, Step* step,
            bool* targetIsDirectory, std::string* error) const;
  // Checks name, open in the directories at fromDir and toDir, whose paths
  // are from and to: the walk goes by descriptors, one lookup per name.
  bool CheckEntry(int fromDir, int toDir, const std::string& name, const std::string& from,
                  const std::string& to, std::string* error) const;
  bool PlaceEntry(const std::string& from, const std::string& to, std::string* error);
  bool MergeDirectory(const std::string& from, const std::string& to, const struct stat& source,
                      bool ownMode, std::string* error);
  bool CopyEntry(const std::string& from, const std::string& to, const struct stat& st,
                 std::string* error);
  bool CopyFile(const std::string& from, const std::string& to, const struct stat& st,
                std::string* error);
  bool CopyLink(const std::string& from, const std::string& to, std::string* error);

  std::string m_sFrom;
  std::string m_sTo;
  std::set<std::string> m_skipped;
  std::set<std::string> m_vacated;
  bool m_bCopyAlways;
  int m_nMoved;
  int m_nCopied;
};

#endif  // STRATA_DRIVER_INSTALLATION_PRODUCTFILES_H_
