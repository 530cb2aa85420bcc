#include "driver/settings/SetupOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Rest(SetupOptions& options) {
  return std::vector<std::string>(options.Argv(), options.Argv() + options.Argc());
}

}  // namespace

TEST(SetupOptions, HelpInEachFormWhereverItStands) {
  for (const char* help : {"--help", "-h", "/?"}) {
    const char* argv[] = {"setup", "-d", help, "--reinstall", "-p"};
    SetupOptions options(5, argv);
    EXPECT_TRUE(options.Help()) << help;
    EXPECT_TRUE(options.Reinstall()) << help;
    EXPECT_FALSE(options.Check()) << help;
    EXPECT_EQ((std::vector<std::string>{"setup", "-d", "-p"}), Rest(options)) << help;
  }
}
