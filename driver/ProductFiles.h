#ifndef STRATA_DRIVER_PRODUCTFILES_H_
#define STRATA_DRIVER_PRODUCTFILES_H_

#include <set>
#include <string>

// Puts the product's files from the extraction directory into the
// installation directory. Each entry is renamed into place when both lie on
// one file system, and copied otherwise (files with their modes and times,
// symbolic links as links). Directories that already exist are merged into,
// files and links that exist are replaced; an existing directory is never
// removed to make room for a file.
//
// After a successful Place every entry of the source (but the skipped ones)
// is in the target; moved entries have left the source. After a failure the
// entries placed so far stay placed and the error says which entry failed.
class ProductFiles {
 public:
  ProductFiles(const std::string& from, const std::string& to);

  ProductFiles(const ProductFiles&) = delete;
  ProductFiles& operator=(const ProductFiles&) = delete;

  // Leaves the entry of this name directly in the source where it is.
  void Skip(const std::string& name) { m_skipped.insert(name); }
  // Copies even where a rename would do; the copy is what happens between
  // file systems.
  void SetCopyAlways(bool copyAlways) { m_bCopyAlways = copyAlways; }

  bool Place(std::string* error);

  // Entries renamed and files, links and directories copied, for reports.
  int MovedCount() const { return m_nMoved; }
  int CopiedCount() const { return m_nCopied; }

 private:
  bool PlaceEntry(const std::string& from, const std::string& to, std::string* error);
  bool MergeDirectory(const std::string& from, const std::string& to, std::string* error);
  bool CopyEntry(const std::string& from, const std::string& to, std::string* error);
  bool CopyFile(const std::string& from, const std::string& to, const struct stat& st,
                std::string* error);
  bool CopyLink(const std::string& from, const std::string& to, std::string* error);

  std::string m_sFrom;
  std::string m_sTo;
  std::set<std::string> m_skipped;
  bool m_bCopyAlways;
  int m_nMoved;
  int m_nCopied;
};

#endif  // STRATA_DRIVER_PRODUCTFILES_H_
