#ifndef STRATA_TESTS_TESTFILES_H_
#define STRATA_TESTS_TESTFILES_H_

// Files and directories for tests on the real file system: temporary
// directories, whole-file reads and writes, listings, and the working
// directory and umask put back after a test.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// Exists, for the tests that use these files.
#include "common/FileKind.h"

// A temporary directory, removed with everything in it when the object goes,
// even what a test made unreadable or unwritable.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_sPath; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return m_sPath + "/" + name; }

 private:
  std::string m_sPath;
};

// Everything from fd's position to its end, or until every writer has
// closed it when fd is a pipe; false on a read error. fd stays open.
bool ReadAll(int fd, std::string* content);
// The content of path; fails the current test and returns "" when path
// cannot be read.
std::string ReadFile(const std::string& path);
// The content of path in *content: false, without failing the test, when
// path cannot be read.
bool ReadFile(const std::string& path, std::string* content);
// Creates or truncates path with content and gives it mode; fails the
// current test and returns false on an error.
bool WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
// The permission bits of path itself (a link is not followed), or -1.
int ModeOf(const std::string& path);
// Creates path and every missing parent (mode 0755); fails the current test
// if it cannot. Returns path.
std::string MakeDirs(const std::string& path);
// The absolute path of the working directory, however long; "" if it has
// none (it was removed).
std::string CurrentDir();
// path with every link and "." or ".." resolved; path itself, and a failure
// of the current test, when it cannot be resolved.
std::string RealPath(const std::string& path);

// The names in a directory, sorted, without "." and ".."; none when it
// cannot be read.
std::vector<std::string> ListDirectory(const std::string& path);
// Calls visit for every entry below root with its path relative to root
// (directories end with "/", and come before what they hold) and its lstat.
void VisitTree(const std::string& root,
               const std::function<void(const std::string&, const struct stat&)>& visit);
// Every name below root, relative to it; directories end with "/".
std::set<std::string> ListTree(const std::string& root);
// A file's content as trees compare it: the text itself, or for a file with
// a NUL byte or over 64 KiB its size and SHA-256 ("<N bytes, sha256 HEX>"),
// so that a failing comparison never prints a program's bytes.
std::string ComparedContent(const std::string& content);
// Every entry below root by relative path: a directory ("dir/") by its mode,
// a link ("link") by "-> target", a file by its mode and ComparedContent
// ("420 text"); modes in decimal.
std::map<std::string, std::string> TreeOf(const std::string& root);

// The "file\t..." lines of an installation record (install-manifest.txt),
// each split at its tabs into path, mode, size and digest.
std::vector<std::vector<std::string>> FileLines(const std::string& record);

// Makes path immutable (the inode flag of chattr +i) while the object lives,
// so that nothing, root included, can remove, rename or change it; the flag
// is taken off again when the object goes. ok() tells whether the flag is
// set, read back from the file itself; why() says what stood in the way
// otherwise (no CAP_LINUX_IMMUTABLE, a file system without the flag).
class Immutable {
 public:
  explicit Immutable(const std::string& path);
  ~Immutable();
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;

  bool ok() const { return m_ok; }
  const std::string& why() const { return m_why; }

 private:
  std::string m_path;
  bool m_ok;
  std::string m_why;
};

// size bytes that no compressor can shrink much, the same for a given seed.
std::string Noise(size_t size, unsigned seed);

// Changes the working directory and changes back when the object goes; a
// failure either way fails the current test.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

  bool Ok() const { return m_ok; }

 private:
  int m_savedFd;
  bool m_ok;
};

// A fixture with a fresh scratch directory for each test, removed
// afterwards; the process's working directory and umask (022 while the test
// runs) are restored whatever the test changed.
class ScratchTest : public ::testing::Test {
 private:
  TempDir scratch_;

 protected:
  void SetUp() override;
  void TearDown() override;

  // root_ joined with name.
  std::string Path(const std::string& name) const { return root_ + "/" + name; }

  // The scratch directory.
  const std::string root_ = scratch_.path();

 private:
  std::string savedCwd_;
  mode_t savedUmask_ = 022;
};

#endif  // STRATA_TESTS_TESTFILES_H_
