#include "tests/InstallerTestHelpers.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
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
  m_calls.push_back("ShowMessage(" + m_shown.back().second + ")");
}

void RecordingUI::ShowErrorMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shown.emplace_back(kError, FormatTextV(format, args));
  va_end(args);
  m_calls.push_back("ShowErrorMessage(" + m_shown.back().second + ")");
}

void RecordingUI::PrintUsage(const char* programPath, const char* option) {
  m_usage.emplace_back(programPath != nullptr ? programPath : "<null>",
                       option != nullptr ? option : "<null>");
  m_calls.push_back("PrintUsage(" + m_usage.back().first + ", " + m_usage.back().second + ")");
}

void RecordingUI::FlushOutput() {
  m_calls.push_back("FlushOutput");
}

void RecordingUI::StartPrintingDots() {
  m_calls.push_back("StartPrintingDots");
}

void RecordingUI::StopPrintingDots() {
  m_calls.push_back("StopPrintingDots");
}

namespace {

RecordingUI* g_transcribed = nullptr;

void WriteTranscript() {
  if (g_transcribed == nullptr)
    return;
  for (const std::string& call : g_transcribed->m_calls)
    fwrite(call.c_str(), 1, call.size() + 1, stdout);
  fflush(stdout);
}

}  // namespace

void TranscribeCallsAtExit(RecordingUI* ui) {
  if (g_transcribed == nullptr)
    atexit(WriteTranscript);
  g_transcribed = ui;
}

std::vector<std::string> TranscribedCalls(const std::string& out) {
  std::vector<std::string> calls;
  std::string::size_type start = 0;
  for (std::string::size_type end; (end = out.find('\0', start)) != std::string::npos;
       start = end + 1) {
    calls.push_back(out.substr(start, end - start));
  }
  // Anything after the last NUL was not written by the transcript.
  if (start < out.size())
    calls.push_back("<unterminated: " + out.substr(start) + ">");
  return calls;
}

Argv::Argv(std::vector<std::string> words) : m_words(std::move(words)) {
  m_words.insert(m_words.begin(), "setup");
  for (const std::string& word : m_words)
    m_pointers.push_back(word.c_str());
  // Like a real argv, the vector ends with a null that argc does not count.
  m_pointers.push_back(nullptr);
}

}  // namespace installer_test
