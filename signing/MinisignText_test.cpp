#include "signing/MinisignText.h"

#include <gtest/gtest.h>

TEST(MinisignText, KeyIdIsPrintedAsMinisignPrintsIt) {
  // The 8 bytes are a little-endian number, printed without leading zeros:
  // a key whose highest byte is below 0x10 has a 15-digit ID.
  const unsigned char id[8] = {0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x0f};
  EXPECT_EQ("F23456789ABCDEF", KeyIdText(id));
  const unsigned char high[8] = {0x01, 0, 0, 0, 0, 0, 0, 0xff};
  EXPECT_EQ("FF00000000000001", KeyIdText(high));
}
