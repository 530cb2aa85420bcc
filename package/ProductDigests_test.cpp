#include "package/ProductDigests.h"

#include <gtest/gtest.h>

namespace {

const std::string kHex(64, 'a');

TEST(ProductDigests, TextRoundTripsEscapedPaths) {
  std::vector<ProductDigest> digests = {
      {kHex, 0, "a b/c"},
      {std::string(64, '0'), 12345678901ULL, "t\tn\nr\rb\\"},
  };
  const std::string text = FormatProductDigests(digests);
  EXPECT_EQ(kHex + " 0 a b/c\n" + std::string(64, '0') + " 12345678901 t\\tn\\nr\\rb\\\\\n", text);
  std::vector<ProductDigest> back;
  std::string error;
  ASSERT_TRUE(ParseProductDigests(text, &back, &error)) << error;
  ASSERT_EQ(2u, back.size());
  for (size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(digests[i].sha256, back[i].sha256);
    EXPECT_EQ(digests[i].size, back[i].size);
    EXPECT_EQ(digests[i].path, back[i].path);
  }
}

TEST(ProductDigests, MalformedListIsRefusedWhole) {
  const std::string good = kHex + " 1 ok\n";
  const struct {
    std::string line;
    std::string error;
  } cases[] = {
      {kHex + " 1\n", "line 2: a line needs a digest, a size and a path"},
      {std::string(64, 'A') + " 1 x\n", "line 2: bad digest"},
      {kHex.substr(1) + " 1 x\n", "line 2: bad digest"},
      {kHex + " -1 x\n", "line 2: bad size"},
      {kHex + " 99999999999999999999 x\n", "line 2: bad size"},
      {kHex + " 1 ../etc/passwd\n", "line 2: bad path"},
      {kHex + " 1 /etc/passwd\n", "line 2: bad path"},
      {kHex + " 1 a//b\n", "line 2: bad path"},
      {kHex + " 1 a/./b\n", "line 2: bad path"},
      {kHex + " 1 bad\\x\n", "line 2: bad path"},
      {kHex + " 1 \n", "line 2: bad path"},
      {kHex + " 1 ok\n", "line 2: the path is listed twice"},
      {kHex + " 1 cut", "line 2: the line does not end"},
  };
  for (const auto& c : cases) {
    std::vector<ProductDigest> digests = {{kHex, 7, "kept"}};
    std::string error;
    EXPECT_FALSE(ParseProductDigests(good + c.line, &digests, &error)) << c.line;
    EXPECT_EQ(c.error, error) << c.line;
    ASSERT_EQ(1u, digests.size());
    EXPECT_EQ("kept", digests[0].path);
  }
}

}  // namespace
