#include "package/Checksum.h"

#include <gtest/gtest.h>

#include <string>

#include "package/PackageRecord.h"

namespace {

std::string Digest(uint32_t kind, const std::string& data, size_t pieceSize) {
  Checksum sum(kind);
  // Feeding the data in pieces must not change the digest.
  for (size_t at = 0; at < data.size(); at += pieceSize) {
    sum.Update(data.data() + at, std::min(pieceSize, data.size() - at));
  }
  unsigned char out[Checksum::kMaxDigestSize];
  sum.Final(out);
  return Checksum::ToHex(out, Checksum::DigestSize(kind));
}

}  // namespace

TEST(Checksum, Sha256KnownValues) {
  // FIPS 180-2 examples.
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
            Digest(kChecksumSha256, "", 1));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            Digest(kChecksumSha256, "abc", 1));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            Digest(kChecksumSha256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7));
}

TEST(Checksum, Xxh3PiecesGiveTheSameDigest) {
  std::string data;
  for (int i = 0; i < 100000; ++i)
    data += static_cast<char>(i * 7);
  std::string whole = Digest(kChecksumXxh3_128, data, data.size());
  EXPECT_EQ(32u, whole.size());
  EXPECT_EQ(whole, Digest(kChecksumXxh3_128, data, 4093));
  data[5000] ^= 1;
  EXPECT_NE(whole, Digest(kChecksumXxh3_128, data, data.size()));
}

TEST(Checksum, KindNames) {
  uint32_t kind = 99;
  EXPECT_TRUE(Checksum::KindFromName("sha256", &kind));
  EXPECT_EQ(kChecksumSha256, kind);
  EXPECT_TRUE(Checksum::KindFromName("xxh3-128", &kind));
  EXPECT_EQ(kChecksumXxh3_128, kind);
  EXPECT_FALSE(Checksum::KindFromName("md5", &kind));
  EXPECT_FALSE(Checksum(7).Valid());
  EXPECT_EQ(0u, Checksum::DigestSize(kChecksumNone));
}
