#ifndef STRATA_TESTS_INSTALLERTESTHELPERS_H_
#define STRATA_TESTS_INSTALLERTESTHELPERS_H_

// What the installer's tests hand the installer: a scratch installation, a
// console that records what it tells the user, and a command line.

#include <string>
#include <utility>
#include <vector>

#include "console/ConsoleUI.h"
#include "tests/TestFiles.h"

namespace installer_test {

// A scratch tree with an empty installation directory "inst" and a directory
// "work", the working directory while the test runs.
class InstallationTest : public ScratchTest {
 protected:
  void SetUp() override;

  std::string install_;
  std::string work_;
};

// A console that records, instead of printing, what the installer shows and
// asks of it.
class RecordingUI : public ConsoleUI {
 public:
  enum Channel { kMessage, kError };

  void ShowMessage(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void ShowErrorMessage(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void PrintUsage(const char* programPath, const char* option) override;
  void FlushOutput() override;
  void StartPrintingDots() override;
  void StopPrintingDots() override;

  // Every message so far, in order, with the operation that showed it.
  std::vector<std::pair<Channel, std::string>> m_shown;
  // Arguments of each PrintUsage.
  std::vector<std::pair<std::string, std::string>> m_usage;
  // Every call above, in order: "ShowMessage(<text>)",
  // "ShowErrorMessage(<text>)", "PrintUsage(<program>, <option>)",
  // "FlushOutput", "StartPrintingDots", "StopPrintingDots". A test may add
  // calls of its own.
  std::vector<std::string> m_calls;
};

// For a child that ends through exit: writes the calls ui has recorded by
// then to standard output as the process exits, each ended by a NUL.
void TranscribeCallsAtExit(RecordingUI* ui);
// The calls in the output of such a child.
std::vector<std::string> TranscribedCalls(const std::string& out);

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

#endif  // STRATA_TESTS_INSTALLERTESTHELPERS_H_
