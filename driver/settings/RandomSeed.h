#ifndef STRATA_DRIVER_SETTINGS_RANDOMSEED_H_
#define STRATA_DRIVER_SETTINGS_RANDOMSEED_H_

#include <sys/types.h>
#include <time.h>

// Seeding of the process's random() generator, from which the framework
// draws the Admin port and the generated passwords. Seeded once per process,
// before the first draw, so that neither can be guessed from the time of the
// installation.

enum class SeedSource {
  kSystem,      // the system's random source (getrandom)
  kTimeAndPid,  // the clock and the process id, when that source fails
};

// Seeds random() from the system's source, or from the clock and the
// process id when that fails; says which, and leaves the seed in *seed
// when seed is not null.
SeedSource SeedRandomGenerator(unsigned* seed = nullptr);

// A seed from the system's random source without waiting for it: true, or
// false (nothing stored) when the source cannot serve at once.
bool SeedFromSystem(unsigned* seed);

// The fallback seed: the clock to the nanosecond mixed with the process id.
unsigned SeedFromTimeAndPid();

// How the fallback mixes its inputs: every bit of the seconds, the
// nanoseconds and the process id can change the seed, so two processes
// started in the same nanosecond, or one process a nanosecond apart, are
// seeded differently.
unsigned MixTimeAndPid(const struct timespec& now, pid_t pid);

#endif  // STRATA_DRIVER_SETTINGS_RANDOMSEED_H_
