#include "driver/RandomSeed.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include "tests/Subprocess.h"

namespace {

// The first draws of random() in a fresh process after seeding.
std::string FirstDrawsAfterSeeding() {
  ProcessResult run = RunForked([] {
    SeedRandomGenerator();
    printf("%ld %ld %ld", random(), random(), random());
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
  EXPECT_FALSE(first.empty());
  EXPECT_NE(first, second);
}

TEST(RandomSeed, SystemSourceServesOnLinux) {
  ProcessResult run = RunForked([] { exit(SeedRandomGenerator() == SeedSource::kSystem ? 0 : 1); });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(0, run.code);
}

TEST(RandomSeed, FallbackDiffersBetweenProcessesStartedTogether) {
  ProcessResult a = RunForked([] { printf("%u", SeedFromTimeAndPid()); });
  ProcessResult b = RunForked([] { printf("%u", SeedFromTimeAndPid()); });
  EXPECT_FALSE(a.out.empty());
  EXPECT_NE(a.out, b.out);
}
