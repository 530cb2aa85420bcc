#ifndef STRATA_INSTALLER_INSTALLERTESTING_H_
#define STRATA_INSTALLER_INSTALLERTESTING_H_

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

// Helpers of the installer's tests: scratch trees on the real file system
// and child processes whose standard output is collected.

// Writes content to path (created or truncated); false if it cannot.
bool WriteFile(const std::string& path, const std::string& content);
// The content of path, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
// Whether something (a dangling link included) has this name.
bool Exists(const std::string& path);
// Every name below root, relative to it; directories end with "/".
std::set<std::string> ListTree(const std::string& root);
// The permission bits of path, or -1.
int ModeOf(const std::string& path);
std::string CurrentDir();

// How a child process ended and what it wrote to its standard output.
struct ChildResult {
  int status;  // as waitpid reports it
  std::string out;
};
// Runs body in a child process whose standard output is a pipe; the child
// ends with status 0 when body returns. Collects the output until every
// writer (the child's own children too) has closed the pipe.
ChildResult RunInChild(const std::function<void()>& body);

// A fresh scratch directory for each test, removed afterwards, and the
// process's working directory and umask restored.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // root_ joined with name.
  std::string Path(const std::string& name) const { return root_ + "/" + name; }

  std::string root_;

 private:
  std::string savedCwd_;
  unsigned savedUmask_;
};

#endif  // STRATA_INSTALLER_INSTALLERTESTING_H_
