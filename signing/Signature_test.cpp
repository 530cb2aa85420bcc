#include "signing/Signature.h"

#include <gtest/gtest.h>

#include <vector>

#include "signing/MinisignText.h"
#include "signing/Sodium.h"
#include "tests/TestFiles.h"

namespace {

// The lines of text joined with line ends.
std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

TEST(Signature, MalformedSignaturesAreRefusedWithAReason) {
  std::string error;
  ASSERT_TRUE(StartSodium(&error)) << error;
  TempDir dir;
  WriteFile(dir / "file", "the signed bytes");
  SecretKey key;
  key.Generate();
  Signature signature;
  ASSERT_TRUE(signature.Sign(dir / "file", key, Signature::kPrehashed, "the comment", &error));
  const std::vector<std::string> good = SplitLines(signature.ToText());
  ASSERT_EQ(4u, good.size());
  auto with = [&good](size_t index, const std::string& line) {
    std::vector<std::string> lines = good;
    lines[index] = line;
    return Joined(lines);
  };
  std::string bytes;
  ASSERT_TRUE(DecodeBase64(good[1], 74, &bytes));
  auto signatureLine = [&bytes](const std::string& algorithm, size_t size) {
    std::string changed = algorithm + bytes.substr(2, size - 2);
    return EncodeBase64(changed.data(), changed.size());
  };
  const std::string damaged = "not a minisign signature (its signature line is damaged)";
  const std::string commentDamaged =
      "not a minisign signature (the trusted comment's signature line is damaged)";
  const struct {
    std::string text, error;
  } cases[] = {
      {Joined({good[0], good[1], good[2]}), "not a minisign signature (it is cut short)"},
      {"", "not a minisign signature (it is cut short)"},
      {with(0, "a comment"),
       "not a minisign signature (it does not start with an untrusted comment)"},
      {with(1, signatureLine("ED", 73)), damaged},  // wrong length
      {with(1, good[1].substr(0, 60)), damaged},    // truncated
      {with(1, good[1] + "AAAA"), damaged},         // trailing data
      {with(1, "#" + good[1].substr(1)), damaged},  // bad base64
      {with(1, signatureLine("Ex", 74)),
       "a signature algorithm that is neither minisign's legacy (Ed) nor its prehashed (ED)"},
      {with(2, "untrusted comment: x"),
       "not a minisign signature (its third line is no trusted comment)"},
      {with(3, good[3].substr(0, 40)), commentDamaged},
      {with(3, good[3] + "="), commentDamaged},
      {with(3, good[1]), commentDamaged},  // 74 bytes where 64 belong
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.text);
    Signature parsed;
    EXPECT_FALSE(parsed.Parse(each.text, &error));
    EXPECT_EQ(each.error, error);
  }

  // Parsed whole, it verifies; with its trusted comment edited it does not.
  Signature parsed;
  ASSERT_TRUE(parsed.Parse(signature.ToText(), &error)) << error;
  EXPECT_TRUE(parsed.Verify(dir / "file", key.Public(), &error)) << error;
  ASSERT_TRUE(parsed.Parse(with(2, "trusted comment: another comment"), &error)) << error;
  EXPECT_FALSE(parsed.Verify(dir / "file", key.Public(), &error));
  EXPECT_EQ("the trusted comment does not match its signature: it was changed", error);
}

}  // namespace
