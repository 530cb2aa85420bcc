#include "common/CrashPoint.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// Read once: the count must not restart should the variable change.
long KillAt() {
  static long at = [] {
    const char* text = getenv("STRATA_TEST_KILL_AT");
    if (text == nullptr || text[0] == '\0')
      return 0L;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    return *end == '\0' && value > 0 ? value : 0L;
  }();
  return at;
}

long g_passed = 0;

}  // namespace

void CrashPoint() {
  long at = KillAt();
  if (at != 0 && ++g_passed == at)
    kill(getpid(), SIGKILL);
}
