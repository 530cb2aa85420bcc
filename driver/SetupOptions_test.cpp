#include "driver/SetupOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Rest(SetupOptions& options) {
  return std::vector<std::string>(options.Argv(), options.Argv() + options.Argc());
}

}  // namespace

TEST(SetupOptions, OwnOptionsComeOutAndTheRestStaysInOrder) {
  const char* argv[] = {"setup", "-s", "--check", "-cfg", "inst.cfg", "--reinstall", "-nb"};
  SetupOptions options(7, argv);
  EXPECT_TRUE(options.Check());
  EXPECT_TRUE(options.Reinstall());
  EXPECT_FALSE(options.Help());
  EXPECT_EQ((std::vector<std::string>{"setup", "-s", "-cfg", "inst.cfg", "-nb"}), Rest(options));
}

TEST(SetupOptions, HelpInEachFormWhereverItStands) {
  for (const char* help : {"--help", "-h", "/?"}) {
    const char* argv[] = {"setup", "-d", help, "-p"};
    SetupOptions options(4, argv);
    EXPECT_TRUE(options.Help()) << help;
    EXPECT_FALSE(options.Check()) << help;
    EXPECT_EQ((std::vector<std::string>{"setup", "-d", "-p"}), Rest(options)) << help;
  }
}
