#ifndef STRATA_INSTALLER_INSTALLERTESTHELPERS_H_
#define STRATA_INSTALLER_INSTALLERTESTHELPERS_H_

// Real surroundings for the installer's tests: scratch directories, the
// working directory, child processes whose output and status are captured,
// and a console that records what the installer tells the user.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "console/ConsoleUI.h"

namespace installer_test {

// A fresh directory under the temporary directory, removed with everything in
// it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return m_path; }
  // Path() + "/" + relative.
  std::string Sub(const std::string& relative) const;
  // Creates the directory relative (and its parents) inside; returns its path.
  std::string MakeDirs(const std::string& relative) const;

 private:
  std::string m_path;
};

// Changes the working directory and changes back when the object goes.
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

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// How a child process ended and what it wrote.
struct ChildResult {
  bool exited = false;  // false: ended by a signal
  int status = -1;      // exit status, or the signal number
  std::string out;      // its standard output
  std::string err;      // its standard error
};

// The status a child ends with when its body returns.
const int kBodyReturned = 99;

// Runs body in a child process whose standard output and error go to files,
// and waits for it. A body that returns ends the child with kBodyReturned.
ChildResult RunInChild(const std::function<void()>& body);

// A console that records, instead of printing, what the installer shows.
class RecordingUI : public ConsoleUI {
 public:
  enum Channel { kMessage, kError };

  void ShowMessage(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void ShowErrorMessage(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void PrintUsage(const char* programPath, const char* option) override;

  // Every message so far, in order, with the operation that showed it.
  std::vector<std::pair<Channel, std::string>> m_shown;
  // Arguments of each PrintUsage.
  std::vector<std::pair<std::string, std::string>> m_usage;
};

// argv from words: the program name "setup" followed by words.
class Argv {
 public:
  explicit Argv(std::vector<std::string> words);
  int Count() const { return static_cast<int>(m_pointers.size()) - 1; }
  const char** Vector() { return m_pointers.data(); }

 private:
  std::vector<std::string> m_words;
  std::vector<const char*> m_pointers;
};

}  // namespace installer_test

#endif  // STRATA_INSTALLER_INSTALLERTESTHELPERS_H_
