#include "package/RecordLocator.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/ScopedFd.h"
#include "tests/Subprocess.h"

namespace {

const std::string kMagic(STRATA_PACKAGE_RECORD_MAGIC, sizeof STRATA_PACKAGE_RECORD_MAGIC);

std::vector<uint64_t> Find(const std::string& bytes, size_t maxCount, uint64_t limit = ~0ull) {
  TempDir dir;
  WriteFile(dir / "f", bytes);
  ScopedFd fd(open((dir / "f").c_str(), O_RDONLY));
  std::vector<uint64_t> offsets;
  std::string error;
  EXPECT_TRUE(FindRecordMagic(fd.Get(), std::min<uint64_t>(limit, bytes.size()), maxCount, &offsets,
                              &error));
  return offsets;
}

}  // namespace

TEST(RecordLocator, FindsEveryCopyUpToTheCount) {
  std::string bytes = "abc" + kMagic + "xyz" + kMagic + "end";
  EXPECT_EQ((std::vector<uint64_t>{3, 22}), Find(bytes, 5));
  EXPECT_EQ((std::vector<uint64_t>{3}), Find(bytes, 1));
  EXPECT_TRUE(Find("no record here", 2).empty());
  // The magic without its NUL is not a record.
  EXPECT_TRUE(Find(std::string(STRATA_PACKAGE_RECORD_MAGIC) + "X", 2).empty());
}

TEST(RecordLocator, FindsACopyAcrossTheReadBlocks) {
  // Reads go in blocks of 1 MiB; a copy straddling the boundary counts once.
  for (size_t before : {size_t{1 << 20} - 7, size_t{1 << 20} - 16, size_t{1 << 20}}) {
    std::string bytes(before, 'x');
    bytes += kMagic + std::string(100, 'y');
    EXPECT_EQ((std::vector<uint64_t>{before}), Find(bytes, 2)) << before;
  }
}

TEST(RecordLocator, FindsACopyWithOnlyItsLastBytesInTheNextBlock) {
  // What the search keeps of a block's tail must hold all but the last byte
  // of a copy: one that starts 15 bytes before a block's end has a single
  // byte, its NUL, in the next block. Also at the second boundary, and next
  // to a copy that lies wholly in the first block.
  const uint64_t block = kRecordSearchBlockSize;
  for (uint64_t before : {block - 15, block - 1, 2 * block - 15}) {
    std::string bytes(before, 'x');
    bytes += kMagic + std::string(40, 'y');
    EXPECT_EQ((std::vector<uint64_t>{before}), Find(bytes, 3)) << before;
  }
  std::string two(block - 40, 'x');
  two += kMagic + std::string(9, 'z') + kMagic + "tail";
  EXPECT_EQ((std::vector<uint64_t>{block - 40, block - 15}), Find(two, 3));
  // The count stops the search at the first copy, whatever follows.
  EXPECT_EQ((std::vector<uint64_t>{block - 40}), Find(two, 1));
}

TEST(RecordLocator, LooksOnlyBelowTheLimit) {
  std::string bytes = std::string(10, 'x') + kMagic;
  EXPECT_TRUE(Find(bytes, 2, 20).empty());
  EXPECT_EQ((std::vector<uint64_t>{10}), Find(bytes, 2, 26));
}

TEST(RecordLocator, ReadsAndWritesTheRecordInPlace) {
  TempDir dir;
  PackageRecord record = {};
  memcpy(record.magic, STRATA_PACKAGE_RECORD_MAGIC, sizeof record.magic);
  record.archiveLength = 1234567;
  record.extractorLength = 89;
  strcpy(record.archiveType, "tgz");
  std::string bytes = "head" + std::string(sizeof record, '\0') + "tail";
  WriteFile(dir / "f", bytes);
  ScopedFd fd(open((dir / "f").c_str(), O_RDWR));
  std::string error;
  ASSERT_TRUE(WriteRecordAt(fd.Get(), 4, record, &error));
  PackageRecord back;
  ASSERT_TRUE(ReadRecordAt(fd.Get(), 4, &back, &error));
  EXPECT_EQ(0, memcmp(&record, &back, sizeof record));
  std::string after = ReadFile(dir / "f");
  EXPECT_EQ("head", after.substr(0, 4));
  EXPECT_EQ("tail", after.substr(4 + sizeof record));
  // A record that would run past the end of the file is not read.
  EXPECT_FALSE(ReadRecordAt(fd.Get(), 10, &back, &error));
  EXPECT_EQ("the record is cut short", error);
}
