#include "driver/settings/ChangedConfigQuestion.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "console/ConsoleUI.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

// Whatever a name ending in "password" (any case) is set to, quoted or
// not, is masked; an empty value tells nothing and stays.
TEST(ChangedConfigQuestion, MasksEveryPasswordValueAndNoOtherText) {
  EXPECT_EQ(
      " <Var MonitorPassword=\"********\"/>\n"
      "-        <!-- Var Password=\"********\"/ -->\n"
      "+AdminPassword = ******** and more\n"
      "+ENCODERPASSWORD:********\n"
      "+echo host=$1, port=$2, userid=$3, password=********\n"
      " <Var Password=\"\"/> PasswordRule=******** Port=\"50?50\"\n",
      ChangedConfigQuestion::Masked(" <Var MonitorPassword=\"Adm1n-secret\"/>\n"
                                    "-        <!-- Var Password=\"Adm1n-secret\"/ -->\n"
                                    "+AdminPassword = s3cret and more\n"
                                    "+ENCODERPASSWORD:s3cret\n"
                                    "+echo host=$1, port=$2, userid=$3, password=$4\n"
                                    " <Var Password=\"\"/> PasswordRule=none Port=\"50\x1b"
                                    "50\"\n"));
  // A value cut short by the end of the text is masked all the same.
  EXPECT_EQ("Password=\"********", ChangedConfigQuestion::Masked("Password=\"secret"));
  EXPECT_EQ("\tno password here\n", ChangedConfigQuestion::Masked("\tno password here\n"));
}

using ChangedConfigQuestionTest = ScratchTest;

// The answers typed ahead on standard input, with a PATH on which diff
// cannot be found: the question says so and is asked again; the input
// ending at it is the caller's message to end with.
TEST_F(ChangedConfigQuestionTest, SaysWhenDiffCannotRunAndAsksAgain) {
  const std::string yours = Path("qmserver.cfg");
  const std::string theNew = Path("staged.cfg");
  WriteFile(yours, "MonitorPassword=\"a\"\n", 0600);
  WriteFile(theNew, "MonitorPassword=\"b\"\n", 0600);
  const std::string empty = MakeDirs(Path("empty"));
  ProcessResult child = RunForked([&] {
    const std::string input = "diff\nwhy\nnew\n";
    FeedStandardInput(input);
    setenv("PATH", empty.c_str(), 1);
    ConsoleUI ui;
    ChangedConfigQuestion question(ui);
    ChangedConfigQuestion::Choice choice = ChangedConfigQuestion::Choice::kKeep;
    std::string error;
    bool answered = question.Ask("/srv/m\x1b[2Jedia/qmserver.cfg", yours, theNew, &choice, &error);
    printf("[%d %d]", answered, choice == ChangedConfigQuestion::Choice::kTakeNew);
    answered = question.Ask("/srv/media/default.cfg", yours, theNew, &choice, &error);
    printf("[%d][%s]", answered, error.c_str());
  });
  ASSERT_TRUE(child.exited);
  const std::string prompt =
      "Keep yours, take the new one or show the differences? (keep, new or diff) [keep]: ";
  EXPECT_EQ(
      "\nThe configuration file /srv/m?[2Jedia/qmserver.cfg has been changed since it was "
      "installed.\n"
      "    keep: keep yours; the new one is written beside it as /srv/m?[2Jedia/qmserver.cfg.new\n"
      "    new:  take the new one; yours is kept as /srv/m?[2Jedia/qmserver.cfg.saved\n"
      "    diff: show the differences\n" +
          prompt + "ERROR: Unable to show the differences (diff: No such file or directory).\n" +
          prompt + "Please answer keep, new or diff.\n" + prompt + "[1 1]" +
          "\nThe configuration file /srv/media/default.cfg has been changed since it was "
          "installed.\n"
          "    keep: keep yours; the new one is written beside it as /srv/media/default.cfg.new\n"
          "    new:  take the new one; yours is kept as /srv/media/default.cfg.saved\n"
          "    diff: show the differences\n" +
          prompt +
          "[0][ERROR: The input ended before the question about /srv/media/default.cfg was "
          "answered\n]",
      child.out);
}

}  // namespace
