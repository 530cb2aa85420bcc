#include "signing/PublicKey.h"

#include <gtest/gtest.h>

#include "signing/MinisignText.h"
#include "signing/SecretKey.h"
#include "signing/Sodium.h"

namespace {

// The base64 text of "Ed", an 8-byte key ID and a 32-byte key, with the
// algorithm and length as given.
std::string KeyText(const std::string& algorithm, size_t keyBytes) {
  std::string bytes = algorithm + std::string(8, '\x11') + std::string(keyBytes, '\x22');
  return EncodeBase64(bytes.data(), bytes.size());
}

TEST(PublicKey, MalformedKeysAreRefusedWithAReason) {
  std::string error;
  ASSERT_TRUE(StartSodium(&error)) << error;
  const std::string good = KeyText("Ed", 32);
  PublicKey key;
  ASSERT_TRUE(key.FromBase64(good, &error)) << error;
  EXPECT_EQ("1111111111111111", key.IdText());

  const struct {
    std::string text, error;
  } cases[] = {
      {KeyText("Ed", 31), "not a minisign public key"},                // too short
      {KeyText("Ed", 33), "not a minisign public key"},                // too long
      {KeyText("Ex", 32), "not an Ed25519 minisign public key"},       // wrong algorithm
      {good.substr(0, good.size() - 4), "not a minisign public key"},  // truncated
      {good + "AAAA", "not a minisign public key"},                    // trailing data
      {good + " ", "not a minisign public key"},                       // a trailing blank
      {"!" + good.substr(1), "not a minisign public key"},             // bad base64
      {good.substr(0, good.size() - 1), "not a minisign public key"},  // padding cut off
      {"", "not a minisign public key"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.text);
    PublicKey parsed;
    EXPECT_FALSE(parsed.FromBase64(each.text, &error));
    EXPECT_EQ(each.error, error);
  }

  // A key file: an untrusted comment, then the key.
  EXPECT_TRUE(key.FromFileText("untrusted comment: minisign public key\n" + good + "\n", &error));
  EXPECT_TRUE(key.FromFileText("untrusted comment: x\r\n" + good + "\r\n", &error)) << error;
  for (const std::string& text :
       {good + "\n", std::string("untrusted comment: only the comment\n"),
        "trusted comment: x\n" + good + "\n", "\n" + good + "\n", std::string()}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(key.FromFileText(text, &error));
    EXPECT_EQ("not a minisign public key file", error);
  }
  EXPECT_FALSE(key.FromFileText("untrusted comment: x\n" + good + "AA==\n", &error));
  EXPECT_EQ("not a minisign public key", error);
}

}  // namespace
