#include "launcher/ExtractionRoom.h"

#include <gtest/gtest.h>
#include <stdint.h>

namespace {

const uint64_t kMiB = 1024 * 1024;

}  // namespace

TEST(ExtractionRoom, CountsDecompressorFilesMarginAndTheArchiveFileInFileMode) {
  // A 100-byte decompressor takes a whole block; 64 MiB of files add 1 MiB
  // of margin besides the fixed one.
  ExtractionRoom pipe(100, 5 * kMiB, false, 64 * kMiB);
  const uint64_t files = 4096 + 64 * kMiB;
  EXPECT_EQ(files + kMiB + files / 64, pipe.Needed());
  // The file-mode types also hold the archive file while they unpack it.
  ExtractionRoom file(100, 5 * kMiB, true, 64 * kMiB);
  EXPECT_EQ(files + 5 * kMiB + kMiB + (files + 5 * kMiB) / 64, file.Needed());
  // Nothing known of the files: the margin and the decompressor still count.
  EXPECT_EQ(kMiB + 4096 + 64, ExtractionRoom(1, 1000, false, 0).Needed());
  // A record that claims the impossible does not wrap around to a small need.
  EXPECT_EQ(UINT64_MAX, ExtractionRoom(1, 1, true, UINT64_MAX - 10).Needed());
}

TEST(ExtractionRoom, MessageRoundsTheNeedUpAndTheFreeSpaceDown) {
  ExtractionRoom room(0, 1000, false, 10 * kMiB);  // 10 MiB + 1 MiB + 160 KiB
  std::string message = "untouched";
  EXPECT_TRUE(room.FitsInFree("/srv/in", room.Needed(), &message));
  EXPECT_EQ("untouched", message);
  EXPECT_FALSE(room.FitsInFree("/srv/in", room.Needed() - 1, &message));
  EXPECT_EQ("\nError: not enough free space in /srv/in: the package needs 12 MB, 11 MB are free\n",
            message);
  EXPECT_FALSE(room.FitsInFree("/srv/in", 0, &message));
  EXPECT_EQ("\nError: not enough free space in /srv/in: the package needs 12 MB, 0 MB are free\n",
            message);
}

TEST(ExtractionRoom, AFileSystemWithRoomPasses) {
  std::string message;
  EXPECT_TRUE(ExtractionRoom(1000, 1000, false, 4096).FitsIn("/tmp", &message)) << message;
  // One that cannot be asked is not held against the package.
  EXPECT_TRUE(ExtractionRoom(0, 1, false, UINT64_MAX).FitsIn("/no/such/dir", &message));
}
