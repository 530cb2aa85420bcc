#ifndef STRATA_DRIVER_RANDOMSEED_H_
#define STRATA_DRIVER_RANDOMSEED_H_

// Seeding of the process's random() generator, from which the framework
// draws the Admin port and the generated passwords. Seeded once per process,
// before the first draw, so that neither can be guessed from the time of the
// installation.

enum class SeedSource {
  kSystem,      // the system's random source (getrandom)
  kTimeAndPid,  // the clock and the process id, when that source fails
};

// Seeds random() and says where the seed came from.
SeedSource SeedRandomGenerator();

// The fallback seed: the clock to the nanosecond mixed with the process id.
unsigned SeedFromTimeAndPid();

#endif  // STRATA_DRIVER_RANDOMSEED_H_
