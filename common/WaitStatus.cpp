#include "common/WaitStatus.h"

#include <string.h>
#include <sys/wait.h>

#include "common/Format.h"

std::string WaitStatusText(const std::string& name, int status) {
  if (WIFSIGNALED(status))
    return FormatText("%s was killed by signal %d (%s)", name.c_str(), WTERMSIG(status),
                      strsignal(WTERMSIG(status)));
  if (WIFEXITED(status))
    return FormatText("%s exited with status %d", name.c_str(), WEXITSTATUS(status));
  return FormatText("%s ended with wait status %#x", name.c_str(), static_cast<unsigned>(status));
}
