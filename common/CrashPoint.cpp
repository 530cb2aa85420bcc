#include "common/CrashPoint.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

struct Seam {
  long at = 0;
  int signal = SIGKILL;
};

// Read once: the count must not restart should the variable change.
const Seam& TheSeam() {
  static Seam seam = [] {
    Seam read;
    const char* text = getenv("STRATA_TEST_KILL_AT");
    if (text == nullptr || text[0] == '\0')
      return read;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (value <= 0)
      return read;
    if (*end == ':') {
      long signal = strtol(end + 1, &end, 10);
      if (signal <= 0 || signal >= NSIG)
        return read;
      read.signal = static_cast<int>(signal);
    }
    if (*end == '\0')
      read.at = value;
    return read;
  }();
  return seam;
}

long g_passed = 0;

}  // namespace

void CrashPoint() {
  const Seam& seam = TheSeam();
  if (seam.at != 0 && ++g_passed == seam.at)
    kill(getpid(), seam.signal);
}
