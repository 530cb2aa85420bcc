#include "driver/settings/RandomSeed.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/random.h>
#include <unistd.h>

unsigned MixTimeAndPid(const struct timespec& now, pid_t pid) {
  unsigned long long mixed = static_cast<unsigned long long>(now.tv_sec) * 1000000007ULL;
  mixed ^= static_cast<unsigned long long>(now.tv_nsec);
  mixed ^= static_cast<unsigned long long>(pid) << 16;
  // Fold the high bits in, so that none of the inputs is simply cut off.
  return static_cast<unsigned>(mixed ^ (mixed >> 32));
}

unsigned SeedFromTimeAndPid() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return MixTimeAndPid(now, getpid());
}

bool SeedFromSystem(unsigned* seed) {
  unsigned drawn = 0;
  // Non-blocking: early in a boot the pool may not be ready, and an
  // installer must not hang on it.
  ssize_t got;
  do {
    got = getrandom(&drawn, sizeof drawn, GRND_NONBLOCK);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof drawn))
    return false;
  *seed = drawn;
  return true;
}

SeedSource SeedRandomGenerator(unsigned* seed) {
  unsigned value = 0;
  SeedSource source = SeedSource::kSystem;
  if (!SeedFromSystem(&value)) {
    value = SeedFromTimeAndPid();
    source = SeedSource::kTimeAndPid;
  }
  srandom(value);
  if (seed != nullptr)
    *seed = value;
  return source;
}
