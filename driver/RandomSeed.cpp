#include "driver/RandomSeed.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

unsigned SeedFromTimeAndPid() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long mixed = static_cast<unsigned long long>(now.tv_sec) * 1000000007ULL;
  mixed ^= static_cast<unsigned long long>(now.tv_nsec);
  mixed ^= static_cast<unsigned long long>(getpid()) << 16;
  // Fold the high bits in, so that none of the inputs is simply cut off.
  return static_cast<unsigned>(mixed ^ (mixed >> 32));
}

SeedSource SeedRandomGenerator() {
  unsigned seed = 0;
  // Non-blocking: early in a boot the pool may not be ready, and an
  // installer must not hang on it.
  ssize_t got;
  do {
    got = getrandom(&seed, sizeof seed, GRND_NONBLOCK);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof seed)) {
    srandom(seed);
    return SeedSource::kSystem;
  }
  srandom(SeedFromTimeAndPid());
  return SeedSource::kTimeAndPid;
}
