#include "launcher/PackageFile.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/SystemError.h"
#include "launcher/Sink.h"
#include "package/Checksum.h"
#include "package/PackageRecord.h"
#include "tests/Subprocess.h"

namespace {

// Launcher "LLLLL", decompressor "DDD", archive "abcdefg".
const char kPackage[] = "LLLLLDDDabcdefg";

// The bytes [offset, offset + size) of piece, as Copy writes them to a file.
std::string Copied(PackageFile* file, const PackageFile::Piece& piece, int64_t offset, int64_t size,
                   const std::string& path) {
  unlink(path.c_str());
  Sink sink;
  std::string error;
  EXPECT_TRUE(sink.OpenFile(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &error));
  EXPECT_TRUE(file->Copy(piece, offset, size, &sink, &error)) << error;
  EXPECT_TRUE(sink.Close(&error));
  return ReadFile(path);
}

std::string Digest(uint32_t kind, const std::string& data) {
  Checksum sum(kind);
  sum.Update(data.data(), data.size());
  unsigned char out[Checksum::kMaxDigestSize];
  sum.Final(out);
  return Checksum::ToHex(out, Checksum::DigestSize(kind));
}

}  // namespace

TEST(PackageFile, ReadsBothPiecesFromTheEnd) {
  TempDir dir;
  WriteFile(dir / "pkg", kPackage);
  PackageFile file;
  std::string error;
  ASSERT_TRUE(file.Open((dir / "pkg").c_str(), nullptr, &error));
  Checksum sum(kChecksumSha256);
  PackageFile::Piece extractor, archive;
  EXPECT_TRUE(file.ReadTail(10, 3, &sum, &extractor, &error));
  EXPECT_TRUE(file.ReadTail(7, 7, &sum, &archive, &error));
  EXPECT_EQ(5, extractor.start);
  EXPECT_EQ(3, extractor.count);
  EXPECT_EQ(8, archive.start);
  EXPECT_EQ(7, archive.count);
  unsigned char out[Checksum::kMaxDigestSize];
  sum.Final(out);
  EXPECT_EQ(Digest(kChecksumSha256, "DDDabcdefg"), Checksum::ToHex(out, 32));

  EXPECT_EQ("DDD", Copied(&file, extractor, 0, 3, dir / "out"));
  EXPECT_EQ("abcdefg", Copied(&file, archive, 0, 7, dir / "out"));
  EXPECT_EQ("cde", Copied(&file, archive, 2, 3, dir / "out"));
}

TEST(PackageFile, ShortFileReadsLikeAFailedSeek) {
  TempDir dir;
  WriteFile(dir / "pkg", kPackage);
  PackageFile file;
  std::string error;
  ASSERT_TRUE(file.Open((dir / "pkg").c_str(), nullptr, &error));
  // The record claims a 20-byte archive in a 15-byte file: the seeks fail and
  // leave the position where it was, so the decompressor comes from the start
  // and the archive from where that read stopped.
  PackageFile::Piece extractor, archive;
  // The extractor is read whole; the failed seek is still the last error.
  EXPECT_TRUE(file.ReadTail(23, 3, nullptr, &extractor, &error));
  EXPECT_EQ(0, extractor.start);
  EXPECT_EQ(3, extractor.count);
  EXPECT_FALSE(file.ReadTail(20, 20, nullptr, &archive, &error));
  EXPECT_EQ(3, archive.start);
  EXPECT_EQ(12, archive.count);
  EXPECT_EQ(ErrnoText(EINVAL), error);
  // Bytes past those read are written as zeros.
  EXPECT_EQ(std::string("LLL", 3), Copied(&file, extractor, 0, 3, dir / "out"));
  EXPECT_EQ(std::string("efg\0\0\0", 6), Copied(&file, archive, 9, 6, dir / "out"));
  EXPECT_EQ(std::string(4, '\0'), Copied(&file, archive, 16, 4, dir / "out"));
}

TEST(PackageFile, PiecesLargerThanTheBuffer) {
  TempDir dir;
  std::string archive(PackageFile::kBufferSize * 2 + 123, '\0');
  for (size_t i = 0; i < archive.size(); ++i)
    archive[i] = static_cast<char>(i * 7 + i / 5000);
  WriteFile(dir / "pkg", "launcher" + archive);
  PackageFile file;
  std::string error;
  ASSERT_TRUE(file.Open((dir / "pkg").c_str(), nullptr, &error));
  Checksum sum(kChecksumXxh3_128);
  PackageFile::Piece piece;
  EXPECT_TRUE(
      file.ReadTail(static_cast<int64_t>(archive.size()), archive.size(), &sum, &piece, &error));
  EXPECT_EQ(static_cast<int64_t>(archive.size()), piece.count);
  unsigned char out[Checksum::kMaxDigestSize];
  sum.Final(out);
  EXPECT_EQ(Digest(kChecksumXxh3_128, archive), Checksum::ToHex(out, 16));
  EXPECT_TRUE(archive == Copied(&file, piece, 0, piece.count, dir / "out"));
}

TEST(PackageFile, OpensTheFallbackWhenThePathIsNoPackage) {
  TempDir dir;
  WriteFile(dir / "pkg", kPackage);
  ASSERT_EQ(0, mkdir((dir / "sub").c_str(), 0700));
  const std::string missing = dir / "no-such-file";
  for (const char* path : {missing.c_str(), "", static_cast<const char*>(nullptr)}) {
    PackageFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, (dir / "pkg").c_str(), &error));
    PackageFile::Piece piece;
    EXPECT_TRUE(file.ReadTail(7, 7, nullptr, &piece, &error));
    EXPECT_EQ(7, piece.count);
  }
  {
    PackageFile file;
    std::string error;
    ASSERT_TRUE(file.Open((dir / "sub").c_str(), (dir / "pkg").c_str(), &error));
    PackageFile::Piece piece;
    EXPECT_TRUE(file.ReadTail(7, 7, nullptr, &piece, &error));
    EXPECT_EQ(7, piece.count);
  }
  {
    PackageFile file;
    std::string error;
    EXPECT_FALSE(file.Open((dir / "none").c_str(), (dir / "none2").c_str(), &error));
    EXPECT_EQ(ErrnoText(ENOENT), error);
  }
  {
    PackageFile file;
    std::string error;
    EXPECT_FALSE(file.Open((dir / "sub").c_str(), nullptr, &error));
    EXPECT_EQ(ErrnoText(EISDIR), error);
  }
  {
    // A FIFO must not stall the open.
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
    PackageFile file;
    std::string error;
    EXPECT_FALSE(file.Open((dir / "fifo").c_str(), nullptr, &error));
  }
}

TEST(PackageFile, CopyNoticesAFileThatShrank) {
  TempDir dir;
  WriteFile(dir / "pkg", kPackage);
  PackageFile file;
  std::string error;
  ASSERT_TRUE(file.Open((dir / "pkg").c_str(), nullptr, &error));
  PackageFile::Piece archive;
  ASSERT_TRUE(file.ReadTail(7, 7, nullptr, &archive, &error));
  ASSERT_EQ(0, truncate((dir / "pkg").c_str(), 10));
  Sink sink;
  ASSERT_TRUE(sink.OpenFile((dir / "out").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &error));
  std::string failure;
  EXPECT_FALSE(file.Copy(archive, 0, 7, &sink, &failure));
  EXPECT_EQ("the package file changed while it was being read", failure);
}
