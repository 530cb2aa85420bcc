#include "driver/settings/ChangedConfigQuestion.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
