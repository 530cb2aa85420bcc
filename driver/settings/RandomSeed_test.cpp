#include "driver/settings/RandomSeed.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <vector>

#include "tests/Subprocess.h"

namespace {

// The source and the first draws of random() in a fresh process after
// seeding.
std::string FirstDrawsAfterSeeding() {
  ProcessResult run = RunForked([] {
    SeedSource source = SeedRandomGenerator();
    printf("%s %ld %ld %ld", source == SeedSource::kSystem ? "system" : "fallback", random(),
           random(), random());
  });
  EXPECT_TRUE(run.exited && run.code == 0);
  return run.out;
}

}  // namespace

TEST(RandomSeed, TwoInstallationsDrawDifferently) {
  // Unseeded, every process would draw the same numbers; these two differ
  // but for a chance of about 2^-93.
  std::string first = FirstDrawsAfterSeeding();
  std::string second = FirstDrawsAfterSeeding();
  EXPECT_EQ(0u, first.find("system ")) << first;
  EXPECT_EQ(0u, second.find("system ")) << second;
  EXPECT_NE(first, second);
}

TEST(RandomSeed, SystemSourceSeedsTheGenerator) {
  // The seed reported is the one random() was seeded with.
  ProcessResult run = RunForked([] {
    unsigned seed = 0;
    if (SeedRandomGenerator(&seed) != SeedSource::kSystem)
      exit(1);
    long drawn[3] = {random(), random(), random()};
    srandom(seed);
    for (long value : drawn) {
      if (random() != value)
        exit(2);
    }
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(0, run.code);
}

TEST(RandomSeed, SystemSeedsDrawnTogetherShareNothing) {
  // Drawn back to back, clock-based seeds would differ at most in their low
  // bits, which a few microseconds change; the system's differ throughout
  // (all sixteen high halves alike by chance: 2^-240).
  std::vector<unsigned> seeds(16);
  for (unsigned& seed : seeds)
    ASSERT_TRUE(SeedFromSystem(&seed));
  EXPECT_EQ(seeds.size(), std::set<unsigned>(seeds.begin(), seeds.end()).size());
  std::set<unsigned> highHalves;
  for (unsigned seed : seeds)
    highHalves.insert(seed >> 16);
  EXPECT_LT(1u, highHalves.size());
}

TEST(RandomSeed, FallbackDiffersBetweenProcessesStartedTogether) {
  ProcessResult a = RunForked([] { printf("%u", SeedFromTimeAndPid()); });
  ProcessResult b = RunForked([] { printf("%u", SeedFromTimeAndPid()); });
  EXPECT_FALSE(a.out.empty());
  EXPECT_NE(a.out, b.out);
}

TEST(RandomSeed, FallbackFeelsEveryBitOfTimeAndPid) {
  const struct timespec now = {1700000000, 123456789};
  const pid_t pid = 4242;
  const unsigned seed = MixTimeAndPid(now, pid);
  EXPECT_EQ(seed, MixTimeAndPid(now, pid));
  for (int bit = 0; bit < 63; ++bit) {
    struct timespec later = now;
    later.tv_sec ^= static_cast<time_t>(1) << bit;
    EXPECT_NE(seed, MixTimeAndPid(later, pid)) << "second bit " << bit;
  }
  // Nanoseconds stay below 10^9, under 2^30.
  for (int bit = 0; bit < 30; ++bit) {
    struct timespec later = now;
    later.tv_nsec ^= 1L << bit;
    EXPECT_NE(seed, MixTimeAndPid(later, pid)) << "nanosecond bit " << bit;
  }
  // Process ids reach 2^22 on Linux.
  for (int bit = 0; bit < 22; ++bit)
    EXPECT_NE(seed, MixTimeAndPid(now, pid ^ (1 << bit))) << "pid bit " << bit;
}
