#include "bench/ContentGenerator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/Subprocess.h"

namespace {

// Bytes that bzip2 -9 makes of the tar archive of dir.
size_t CompressedSize(const std::string& dir) {
  ProgramRun run;
  run.program = "/bin/sh";
  run.argv = {"sh", "-c", "tar -C \"$0\" -cf - . | bzip2 -9 | wc -c", dir};
  ProcessResult result = RunProgram(run);
  EXPECT_EQ(0, result.code) << result.err;
  return static_cast<size_t>(atoll(result.out.c_str()));
}

}  // namespace

TEST(ContentGenerator, SameSeedSameBytes) {
  ContentGenerator a(7), b(7), c(8);
  const std::string text = a.Text(5000), binary = a.Binary(5000), packed = a.Compressed(5000);
  EXPECT_EQ(text, b.Text(5000));
  EXPECT_EQ(binary, b.Binary(5000));
  EXPECT_EQ(packed, b.Compressed(5000));
  EXPECT_NE(text, c.Text(5000));
  EXPECT_NE(binary, c.Binary(5000));

  // Each kind is exactly as long as asked, down to nothing.
  for (size_t size : {0, 1, 63, 64, 65, 4097}) {
    EXPECT_EQ(size, a.Text(size).size());
    EXPECT_EQ(size, a.Binary(size).size());
    EXPECT_EQ(size, a.Compressed(size).size());
  }
  EXPECT_EQ(0u, binary.find("\x7f"
                            "ELF"));
}

TEST(ContentGenerator, TreeHasTheSizeAndCompressesLikeSoftware) {
  TempDir dir;
  const std::string root = dir / "product";
  ContentGenerator generator(1);
  std::string error;
  ASSERT_TRUE(generator.Generate(root, 3000000, &error)) << error;
  // Only the shares' rounding is lost.
  EXPECT_LE(generator.ByteCount(), 3000000u);
  EXPECT_GE(generator.ByteCount(), 3000000u - 3);
  EXPECT_GT(generator.FileCount(), 10u);
  struct stat st;
  EXPECT_EQ(0, stat((root + "/Bin").c_str(), &st));

  // Installed software: binaries about 2.5:1, text about 5:1 and media not
  // at all give about 3:1 overall.
  const double ratio = 3000000.0 / static_cast<double>(CompressedSize(root));
  EXPECT_GT(ratio, 2.4);
  EXPECT_LT(ratio, 3.4);

  // A second run into the same place would mix two trees.
  ContentGenerator again(1);
  EXPECT_FALSE(again.Generate(root, 1000, &error));
  EXPECT_EQ(root + ": " + strerror(EEXIST), error);
}
