#include "driver/settings/SettingRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What check says is wrong with value: "" when it passes, and then it must
// say nothing.
std::string Refusal(bool (*check)(const char*, std::string*), const char* value) {
  std::string error;
  bool passed = check(value, &error);
  EXPECT_EQ(passed, error.empty()) << error;
  return error;
}

}  // namespace

TEST(CheckUserName, NamesThatCannotBeAFileOrALogin) {
  EXPECT_EQ("", Refusal(CheckUserName, "admin"));
  EXPECT_EQ("", Refusal(CheckUserName, "media admin"));
  EXPECT_EQ("", Refusal(CheckUserName, ".admin"));
  EXPECT_EQ("it is empty", Refusal(CheckUserName, ""));
  EXPECT_EQ("it is empty", Refusal(CheckUserName, nullptr));
  EXPECT_EQ("it names a directory", Refusal(CheckUserName, "."));
  EXPECT_EQ("it names a directory", Refusal(CheckUserName, ".."));
  EXPECT_EQ("it contains \"/\"", Refusal(CheckUserName, "../admin"));
  EXPECT_EQ("it contains \":\"", Refusal(CheckUserName, "ad:min"));
  EXPECT_EQ("it contains a control character", Refusal(CheckUserName, "ad\tmin"));
  EXPECT_EQ("it begins or ends with white space", Refusal(CheckUserName, " admin"));
  EXPECT_EQ("it begins or ends with white space", Refusal(CheckUserName, "admin "));
}

TEST(CheckConfigValue, TextsTheServerConfigurationCannotHold) {
  EXPECT_EQ("", Refusal(CheckConfigValue, nullptr));
  EXPECT_EQ("", Refusal(CheckConfigValue, ""));
  EXPECT_EQ("", Refusal(CheckConfigValue, "media1.AdminRealm"));
  EXPECT_EQ("", Refusal(CheckConfigValue, "Main Realm's #1 ($5; 100%)"));
  EXPECT_EQ("it contains a double quote", Refusal(CheckConfigValue, "a\"b"));
  EXPECT_EQ("it contains \"<\"", Refusal(CheckConfigValue, "<Var"));
  EXPECT_EQ("it contains \">\"", Refusal(CheckConfigValue, "a>"));
  EXPECT_EQ("it contains \"&\"", Refusal(CheckConfigValue, "R&D"));
  EXPECT_EQ("it contains a control character", Refusal(CheckConfigValue, "5\n"));
  EXPECT_EQ("it contains a control character", Refusal(CheckConfigValue, "a\x1b[2Jb"));
  EXPECT_EQ("it contains a control character", Refusal(CheckConfigValue, "\x7f"));
}

TEST(CheckPassword, ConfigurationRulesAndNoSemicolon) {
  EXPECT_EQ("", Refusal(CheckPassword, nullptr));
  EXPECT_EQ("", Refusal(CheckPassword, "Adm1n-pw"));
  EXPECT_EQ("", Refusal(CheckPassword, "it's (100%) $ecret, #1!"));
  EXPECT_EQ("it contains \";\"", Refusal(CheckPassword, "pass;word"));
  EXPECT_EQ("it contains \";\"", Refusal(CheckPassword, ";*;1"));
  EXPECT_EQ("it contains a double quote", Refusal(CheckPassword, "a\"b;c"));
  EXPECT_EQ("it contains \"<\"", Refusal(CheckPassword, "<pw>"));
  EXPECT_EQ("it contains a control character", Refusal(CheckPassword, "pw\n"));
}
