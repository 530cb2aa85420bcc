// Times reading a file in blocks as large as the launcher's, as its checking
// pass does, alone and with each digest: checksum_speed FILE ROUNDS. Prints
// one line per kind with the median seconds of the rounds, which alternate
// the kinds.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "launcher/PackageFile.h"
#include "package/Checksum.h"
#include "package/PackageRecord.h"

namespace {

double Now() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Seconds to read path and digest it with kind; negative on a read error.
double TimeOnce(const char* path, uint32_t kind, std::vector<char>* buffer) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  double start = Now();
  Checksum sum(kind);
  ssize_t got;
  while ((got = read(fd, buffer->data(), buffer->size())) > 0) {
    if (kind != kChecksumNone)
      sum.Update(buffer->data(), static_cast<size_t>(got));
  }
  unsigned char digest[Checksum::kMaxDigestSize];
  sum.Final(digest);
  double seconds = Now() - start;
  close(fd);
  return got < 0 ? -1 : seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s FILE ROUNDS\n", argv[0]);
    return 2;
  }
  const int rounds = atoi(argv[2]);
  const uint32_t kinds[] = {kChecksumNone, kChecksumSha256, kChecksumXxh3_128};
  std::vector<std::vector<double>> times(3);
  std::vector<char> buffer(PackageFile::kBufferSize);
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 3; ++k) {
      double seconds = TimeOnce(argv[1], kinds[k], &buffer);
      if (seconds < 0) {
        perror(argv[1]);
        return 1;
      }
      times[k].push_back(seconds);
    }
  }
  for (int k = 0; k < 3; ++k) {
    std::vector<double>& t = times[k];
    std::sort(t.begin(), t.end());
    printf("%s %.6f\n", k == 0 ? "read-only" : Checksum::KindName(kinds[k]), t[t.size() / 2]);
  }
  return 0;
}
