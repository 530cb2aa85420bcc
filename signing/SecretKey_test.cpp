#include "signing/SecretKey.h"

#include <gtest/gtest.h>

#include "signing/MinisignText.h"
#include "signing/Sodium.h"

namespace {

// A key file whose binary line holds bytes.
std::string KeyFile(const std::string& bytes) {
  return "untrusted comment: minisign secret key\n" + EncodeBase64(bytes.data(), bytes.size()) +
         "\n";
}

TEST(SecretKey, MalformedKeysAreRefusedWithAReason) {
  std::string error, text;
  ASSERT_TRUE(StartSodium(&error)) << error;
  SecretKey generated;
  generated.Generate();
  ASSERT_TRUE(generated.ToFileText(nullptr, &text, &error)) << error;
  SecretKey key;
  ASSERT_TRUE(key.Parse(text, &error)) << error;
  ASSERT_TRUE(key.Open("", &error)) << error;
  EXPECT_EQ(generated.Public().IdText(), key.Public().IdText());

  // The binary line: "Ed", the KDF, "B2", salt, two limits, key ID,
  // secret key and checksum.
  std::string line = text.substr(text.find('\n') + 1);
  line.pop_back();
  std::string bytes;
  ASSERT_TRUE(DecodeBase64(line, 158, &bytes));
  auto changed = [&bytes](size_t at, const std::string& with) {
    std::string copy = bytes;
    return copy.replace(at, with.size(), with);
  };
  std::string hugeLimits = changed(2, "Sc");
  hugeLimits.replace(38, 16, std::string(16, '\xff'));
  const struct {
    std::string file, error;
  } cases[] = {
      {KeyFile(bytes.substr(0, 157)), "not a minisign secret key"},  // wrong length
      {KeyFile(bytes + "x"), "not a minisign secret key"},
      {"untrusted comment: k\n" + line.substr(0, 100) + "\n", "not a minisign secret key"},
      {"untrusted comment: k\n" + line + "AAAA\n", "not a minisign secret key"},  // trailing
      {"untrusted comment: k\n*" + line.substr(1) + "\n", "not a minisign secret key"},
      {line + "\n", "not a minisign secret key"},  // no comment line
      {"untrusted comment: k\n", "not a minisign secret key"},
      {KeyFile(changed(0, "Ex")), "not an Ed25519 minisign secret key"},
      {KeyFile(changed(4, "B3")), "not an Ed25519 minisign secret key"},
      {KeyFile(changed(2, "Ar")), "the secret key is encrypted in a way that is not scrypt"},
      {KeyFile(hugeLimits),
       "the secret key asks for far more scrypt work than minisign's keys (is it damaged?)"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.file);
    SecretKey parsed;
    EXPECT_FALSE(parsed.Parse(each.file, &error));
    EXPECT_EQ(each.error, error);
  }

  // A flipped bit in the secret key is found when it is opened.
  SecretKey damaged;
  ASSERT_TRUE(damaged.Parse(KeyFile(changed(70, std::string(1, bytes[70] ^ 1))), &error));
  EXPECT_FALSE(damaged.Open("", &error));
  EXPECT_EQ("the secret key is damaged", error);
}

}  // namespace
