#include "driver/settings/CommandLineCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/ServerInstaller.h"
#include "tests/TestFiles.h"

namespace {

// The problems CommandLineCheck finds in args (after the program name),
// with defaults files looked up in startDir.
std::vector<std::string> ProblemsOf(std::vector<const char*> args,
                                    const std::string& startDir = "/nonexistent") {
  args.insert(args.begin(), "./Bin/setup");
  ServerInstaller installer;
  CommandLineCheck check(installer);
  check.Check(static_cast<int>(args.size()), args.data(), startDir);
  return check.Problems();
}

}  // namespace

// As the framework reads the command line, an argument that begins with "-"
// is the next option, never the value of the one before it.
TEST(CommandLineCheck, AnOptionFollowedByAnotherOptionHasNoValue) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(Lines{"ERROR: Option -d has no value\n"}, ProblemsOf({"-d", "-s"}));
  EXPECT_EQ(Lines{"ERROR: Option -cfg has no value\n"}, ProblemsOf({"-cfg", "--silent", "-nb"}));
  // The "-" is then examined as an option of its own.
  EXPECT_EQ(
      (Lines{"ERROR: Option --dest has no value\n", "ERROR: unknown command-line option: -\n"}),
      ProblemsOf({"-s", "--dest", "-"}));
  EXPECT_EQ(Lines{"ERROR: Option --destination has no value\n"}, ProblemsOf({"--destination"}));
  EXPECT_EQ(Lines{"ERROR: Option -d has an empty value\n"}, ProblemsOf({"-d", ""}));
  EXPECT_EQ(Lines{}, ProblemsOf({"-d", "/opt/strata", "-s"}));
}

TEST(CommandLineCheck, ACloseMisspellingIsSuggested) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(Lines{"ERROR: unknown command-line option: --slient (did you mean --silent?)\n"},
            ProblemsOf({"--slient"}));
  // Unknown, the misspelt option leaves its value to stand as a word of its
  // own.
  EXPECT_EQ((Lines{"ERROR: unknown command-line option: --DESTINATON (did you mean "
                   "--destination?)\n",
                   "ERROR: unknown command-line option: /opt/strata\n"}),
            ProblemsOf({"--DESTINATON", "/opt/strata"}));
  // Far from every option, or as near to several: no guess.
  EXPECT_EQ(Lines{"ERROR: unknown command-line option: --frobnicate\n"},
            ProblemsOf({"--frobnicate"}));
  EXPECT_EQ(Lines{"ERROR: unknown command-line option: -x\n"}, ProblemsOf({"-x"}));
  EXPECT_EQ("", SuggestedName("-x", {"-s", "-p"}));
  EXPECT_EQ("AdminPort", SuggestedName("adminprot", {"AdminPort", "AdminRealm", "HTTPPort"}));

  // A name in a defaults file, with where it stands.
  TempDir start;
  WriteFile(start / "answers.cfg", "# settings\nAdminPrt=8080\nHTTPPort=80\n");
  EXPECT_EQ(Lines{"ERROR: AdminPrt is not a setting of the defaults file (did you mean "
                  "AdminPort?) (answers.cfg, line 2)\n"},
            ProblemsOf({"-cfg", "answers.cfg"}, start.path()));
}
