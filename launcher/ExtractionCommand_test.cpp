#include "launcher/ExtractionCommand.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "common/ShellQuote.h"

TEST(ExtractionCommand, CommandsOfTheSixTypes) {
  const std::string tool = "/home/u/xxextract.tmp";
  std::string command;
  const char* file = "unset";
  ASSERT_TRUE(MakeExtractionCommand("bz2", tool, "./qzsetup", &command, &file));
  EXPECT_EQ("{ /home/u/xxextract.tmp -dc; echo $? >&3; } | (cd ./qzsetup && tar xof -)", command);
  EXPECT_EQ(nullptr, file);

  ASSERT_TRUE(MakeExtractionCommand("tgz", "", "./qzsetup", &command, &file));
  EXPECT_EQ("{ gunzip -c; echo $? >&3; } | (cd ./qzsetup && tar xof -)", command);
  EXPECT_EQ(nullptr, file);

  ASSERT_TRUE(MakeExtractionCommand("tz", tool, "./qzsetup", &command, &file));
  EXPECT_EQ("{ uncompress; echo $? >&3; } | (cd ./qzsetup && tar xof -)", command);
  EXPECT_EQ(nullptr, file);

  ASSERT_TRUE(MakeExtractionCommand("rzt", tool, "./qzsetup", &command, &file));
  EXPECT_EQ("cd ./qzsetup && /home/u/xxextract.tmp -xvf zparchive.rzt && rm -f zparchive.rzt",
            command);
  EXPECT_STREQ("zparchive.rzt", file);

  ASSERT_TRUE(MakeExtractionCommand("zip", tool, "./qzsetup", &command, &file));
  EXPECT_EQ("cd ./qzsetup && /home/u/xxextract.tmp zparchive.zip && rm -f zparchive.zip\n",
            command);
  EXPECT_STREQ("zparchive.zip", file);

  // zstd goes the way of bzip2, through the carried program.
  ASSERT_TRUE(MakeExtractionCommand("tzst", tool, "./qzsetup", &command, &file));
  EXPECT_EQ("{ /home/u/xxextract.tmp -dc; echo $? >&3; } | (cd ./qzsetup && tar xof -)", command);
  EXPECT_EQ(nullptr, file);
}

TEST(ExtractionCommand, UnknownTypesLeaveEverythingAlone) {
  for (const char* type : {"BZ2", "bz2 ", "", "gz", "tar", "zipx", "tzst ", "zst", "TZST"}) {
    std::string command = "before";
    const char* file = "before";
    EXPECT_FALSE(MakeExtractionCommand(type, "/x", "./qzsetup", &command, &file)) << type;
    EXPECT_EQ("before", command);
    EXPECT_STREQ("before", file);
  }
  std::string command;
  const char* file = nullptr;
  EXPECT_FALSE(MakeExtractionCommand(nullptr, "/x", "./qzsetup", &command, &file));
}

TEST(ExtractionCommand, DecompressorPathWithShellSyntaxStaysOneWord) {
  std::string command;
  const char* file = nullptr;
  ASSERT_TRUE(
      MakeExtractionCommand("bz2", "/tmp/my dir/xxextract.tmp", "./qzsetup", &command, &file));
  EXPECT_EQ("{ '/tmp/my dir/xxextract.tmp' -dc; echo $? >&3; } | (cd ./qzsetup && tar xof -)",
            command);

  // The shell must see exactly the original text, whatever it holds.
  for (const std::string word : {"plain/path-1.2_x", "a b", "it's", "$(echo no)", "`x`;y|z&", "'",
                                 "\"q\" \\ *?[]~#!{}<>\n\t"}) {
    std::string quoted = ShellQuoteIfNeeded(word);
    FILE* shell = popen(("printf %s " + quoted).c_str(), "r");
    ASSERT_NE(nullptr, shell);
    std::string seen;
    char buffer[256];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, shell)) > 0)
      seen.append(buffer, got);
    EXPECT_EQ(0, pclose(shell)) << quoted;
    EXPECT_EQ(word, seen) << quoted;
  }
  EXPECT_EQ("/usr/local/x.tmp", ShellQuoteIfNeeded("/usr/local/x.tmp"));
}
