#include "launcher/ArchiveChunks.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Chunk = std::pair<int64_t, int64_t>;

std::vector<std::pair<int64_t, int64_t>> ChunksOf(int64_t archiveLength, int64_t bytesRead) {
  std::vector<std::pair<int64_t, int64_t>> chunks;
  ArchiveChunks loop(archiveLength, bytesRead);
  int64_t offset = 0;
  int64_t length = 0;
  while (loop.Next(&offset, &length) && chunks.size() < 1000)
    chunks.emplace_back(offset, length);
  return chunks;
}

}  // namespace

TEST(ArchiveChunks, TwentyChunksForAMultipleOfTwenty) {
  auto chunks = ChunksOf(400, 400);
  ASSERT_EQ(20u, chunks.size());
  for (size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(static_cast<int64_t>(i) * 20, chunks[i].first);
    EXPECT_EQ(20, chunks[i].second);
  }
}

TEST(ArchiveChunks, TwentyFirstChunkHoldsTheRemainder) {
  {
    auto chunks = ChunksOf(401, 401);
    ASSERT_EQ(21u, chunks.size());
    EXPECT_EQ(Chunk(400, 1), chunks.back());
  }
  {
    // The built-in archive: chunks of 593301 bytes and a last one of 15.
    auto chunks = ChunksOf(11866035, 11866035);
    ASSERT_EQ(21u, chunks.size());
    EXPECT_EQ(593301, chunks[0].second);
    EXPECT_EQ(593301, chunks[19].second);
    EXPECT_EQ(Chunk(11866020, 15), chunks[20]);
  }
}

TEST(ArchiveChunks, SmallArchives) {
  {
    // A remainder larger than the chunk size gives more than 21 chunks.
    auto chunks = ChunksOf(99, 99);
    ASSERT_EQ(25u, chunks.size());
    EXPECT_EQ(Chunk(96, 3), chunks.back());
  }
  {
    // Below 20 bytes a chunk is one byte, so the loop still advances.
    auto chunks = ChunksOf(7, 7);
    ASSERT_EQ(7u, chunks.size());
    EXPECT_EQ(Chunk(6, 1), chunks.back());
  }
  EXPECT_TRUE(ChunksOf(0, 0).empty());
}

TEST(ArchiveChunks, ShortReadStopsBeforeTheFirstChunkPastTheBytesRead) {
  {
    // Chunks are still cut at the archive length, not at the bytes read.
    auto chunks = ChunksOf(400, 45);
    ASSERT_EQ(3u, chunks.size());
    EXPECT_EQ(Chunk(40, 20), chunks.back());
  }
  EXPECT_EQ(2u, ChunksOf(400, 40).size());
  EXPECT_EQ(1u, ChunksOf(400, 1).size());
  EXPECT_TRUE(ChunksOf(400, 0).empty());
}
