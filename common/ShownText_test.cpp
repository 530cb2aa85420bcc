#include "common/ShownText.h"

#include <gtest/gtest.h>

TEST(ShownText, ControlCharactersBecomeQuestionMarks) {
  EXPECT_EQ("admin", ShownText("admin"));
  EXPECT_EQ("", ShownText(""));
  EXPECT_EQ("?[2Jadmin?]0;x?", ShownText("\x1b[2Jadmin\x1b]0;x\x07"));
  EXPECT_EQ("a?b?c?d", ShownText(std::string("a\nb\tc\0d", 7)));
  EXPECT_EQ("del?", ShownText("del\x7f"));
  // Blanks and bytes beyond ASCII are text, not control.
  EXPECT_EQ("media admin \xc3\xa9", ShownText("media admin \xc3\xa9"));
}

TEST(ShownText, ControlCharactersAreTheC0SetAndDelete) {
  for (int c = 0; c < 0x20; ++c)
    EXPECT_TRUE(IsControlCharacter(static_cast<char>(c))) << c;
  EXPECT_TRUE(IsControlCharacter('\x7f'));
  EXPECT_FALSE(IsControlCharacter(' '));
  EXPECT_FALSE(IsControlCharacter('~'));
  EXPECT_FALSE(IsControlCharacter('\x80'));
  EXPECT_FALSE(IsControlCharacter('\xff'));
}

TEST(ShownText, ShownLinesKeepTheirLineFeedsOnly) {
  EXPECT_EQ("ERROR: a?[2Jb (x)\nERROR: c?d\n", ShownLines("ERROR: a\x1b[2Jb (x)\nERROR: c\rd\n"));
}
