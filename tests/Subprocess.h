#ifndef STRATA_TESTS_SUBPROCESS_H_
#define STRATA_TESTS_SUBPROCESS_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// How a child process of a test ended and what it wrote.
struct ProcessResult {
  bool exited = false;  // by exit; otherwise killed by signal
  int code = -1;        // exit code, or the signal number
  std::string out;      // standard output
  std::string err;      // standard error
};

// Runs body in a forked child whose standard output and error are captured
// and whose standard input is /dev/null. The child ends with body's own exit,
// or with status 0 when body returns.
ProcessResult RunForked(const std::function<void()>& body);

// One run of a program as a real child process.
struct ProgramRun {
  // The file to execute; empty: argv[0] looked up on the child's PATH.
  std::string program;
  std::vector<std::string> argv;
  // Working directory of the child; empty: the test's own.
  std::string cwd;
  // Variables set in the child's environment before the start; an empty
  // value removes the variable.
  std::vector<std::pair<std::string, std::string>> env;
  // File-creation mask of the child; negative: the test's own.
  int umask = -1;
};

ProcessResult RunProgram(const ProgramRun& run);

// A temporary directory, removed with everything in it when the object goes.
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

// Small file helpers; each fails the current test on an error.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
bool Exists(const std::string& path);
// The permission bits of path (lstat), or -1.
int ModeOf(const std::string& path);

#endif  // STRATA_TESTS_SUBPROCESS_H_
