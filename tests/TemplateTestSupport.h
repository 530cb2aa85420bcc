#ifndef STRATA_TESTS_TEMPLATETESTSUPPORT_H_
#define STRATA_TESTS_TEMPLATETESTSUPPORT_H_

// Helpers of the template writers' tests: golden files and line-by-line
// comparison with the line number of every difference.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/TestFiles.h"

// A golden file of the test data.
inline std::string ReadTestFile(const std::string& name) {
  return ReadFile(std::string(STRATA_TEMPLATES_TESTDATA) + "/" + name);
}

// The lines of a text, without their line feeds. A last line without a line
// feed is kept, marked with "<no line feed>" so that a comparison shows it.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line feed>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Compares two texts line for line and names each differing line.
inline ::testing::AssertionResult SameLines(const std::string& expected,
                                            const std::string& actual) {
  const std::vector<std::string> want = SplitLines(expected);
  const std::vector<std::string> got = SplitLines(actual);
  std::ostringstream report;
  int differences = 0;
  const size_t n = want.size() > got.size() ? want.size() : got.size();
  for (size_t i = 0; i < n; ++i) {
    const std::string* w = i < want.size() ? &want[i] : nullptr;
    const std::string* g = i < got.size() ? &got[i] : nullptr;
    if (w && g && *w == *g)
      continue;
    if (++differences <= 10) {
      report << "line " << i + 1 << "\n  expected: " << (w ? "[" + *w + "]" : "(no line)")
             << "\n  actual:   " << (g ? "[" + *g + "]" : "(no line)") << "\n";
    }
  }
  if (differences == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differences << " differing lines (" << want.size()
                                       << " expected, " << got.size() << " actual)\n"
                                       << report.str();
}

#endif  // STRATA_TESTS_TEMPLATETESTSUPPORT_H_
