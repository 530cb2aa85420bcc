#include "installer/InstallerTestHelpers.h"

#include <stdarg.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Format.h"

namespace installer_test {

void InstallationTest::SetUp() {
  ScratchTest::SetUp();
  install_ = Path("inst");
  work_ = Path("work");
  ASSERT_EQ(0, mkdir(install_.c_str(), 0755));
  ASSERT_EQ(0, mkdir(work_.c_str(), 0755));
  ASSERT_EQ(0, chdir(work_.c_str()));
}

void RecordingUI::ShowMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shown.emplace_back(kMessage, FormatTextV(format, args));
  va_end(args);
}

void RecordingUI::ShowErrorMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shown.emplace_back(kError, FormatTextV(format, args));
  va_end(args);
}

void RecordingUI::PrintUsage(const char* programPath, const char* option) {
  m_usage.emplace_back(programPath != nullptr ? programPath : "<null>",
                       option != nullptr ? option : "<null>");
}

Argv::Argv(std::vector<std::string> words) : m_words(std::move(words)) {
  m_words.insert(m_words.begin(), "setup");
  for (const std::string& word : m_words)
    m_pointers.push_back(word.c_str());
  // Like a real argv, the vector ends with a null that argc does not count.
  m_pointers.push_back(nullptr);
}

}  // namespace installer_test
