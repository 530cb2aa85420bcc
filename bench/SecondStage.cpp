// The benchmark's second stage: it ends at once, so that a package's run
// time is the launcher's and the extraction's. When STRATA_BENCH_PEAK_FILE
// names a file, it first writes there the process's peak resident memory in
// kilobytes: the launcher ran in this same process before the hand-over, and
// children (the shell, the decompressor, tar) do not count.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

int main() {
  const char* file = getenv("STRATA_BENCH_PEAK_FILE");
  if (file == nullptr || *file == '\0')
    return 0;
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0)
    return 1;
  char line[32];
  int length = snprintf(line, sizeof line, "%ld\n", usage.ru_maxrss);
  int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return 1;
  bool ok = write(fd, line, static_cast<size_t>(length)) == length;
  return close(fd) == 0 && ok ? 0 : 1;
}
