#include "packager/Pipeline.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "tests/Subprocess.h"

TEST(Pipeline, ChainsCommandsFromInputToCapturedOutput) {
  TempDir dir;
  WriteFile(dir / "in", "hello pipes\n");
  ScopedFd input(open((dir / "in").c_str(), O_RDONLY));
  Pipeline pipeline;
  pipeline.Add({"cat"});
  pipeline.Add({"tr", "a-z", "A-Z"});
  pipeline.Add({"rev"});
  std::string output, error;
  ASSERT_TRUE(pipeline.Run(input.Get(), -1, &output, &error)) << error;
  EXPECT_EQ("SEPIP OLLEH\n", output);
}

TEST(Pipeline, WritesToTheGivenDescriptorAtItsPosition) {
  TempDir dir;
  ScopedFd out(open((dir / "out").c_str(), O_RDWR | O_CREAT, 0644));
  ASSERT_TRUE(WriteAll(out.Get(), "head:", 5));
  Pipeline pipeline;
  pipeline.Add({"printf", "%s", "body"});
  std::string error;
  ASSERT_TRUE(pipeline.Run(-1, out.Get(), nullptr, &error)) << error;
  EXPECT_EQ("head:body", ReadFile(dir / "out"));
}

TEST(Pipeline, ReportsTheFailingCommandWithItsErrorOutput) {
  {
    Pipeline pipeline;
    pipeline.Add({"sh", "-c", "echo first problem >&2; echo second problem >&2; exit 3"});
    std::string output, error;
    EXPECT_FALSE(pipeline.Run(-1, -1, &output, &error));
    EXPECT_EQ("sh exited with status 3\nfirst problem\nsecond problem", error);
  }
  {
    // yes dies of the broken pipe; the command that gave up is the one named.
    Pipeline pipeline;
    pipeline.Add({"yes"});
    pipeline.Add({"sh", "-c", "head -c 1 >/dev/null; exit 4"});
    std::string output, error;
    EXPECT_FALSE(pipeline.Run(-1, -1, &output, &error));
    EXPECT_EQ("sh exited with status 4", error);
  }
  {
    Pipeline pipeline;
    pipeline.Add({"sh", "-c", "kill -9 $$"});
    std::string output, error;
    EXPECT_FALSE(pipeline.Run(-1, -1, &output, &error));
    EXPECT_EQ("sh was killed by signal 9 (Killed)", error);
  }
  {
    Pipeline pipeline;
    pipeline.Add({"cat"});
    pipeline.Add({"no-such-program-for-the-packager-test"});
    std::string output, error;
    EXPECT_FALSE(pipeline.Run(-1, -1, &output, &error));
    EXPECT_EQ("cannot run no-such-program-for-the-packager-test: No such file or directory", error);
  }
}

TEST(Pipeline, AWriterCutOffByASuccessfulReaderIsNoFailure) {
  // The children die of SIGPIPE as usual even when this process ignores it;
  // otherwise yes would report a write error and fail.
  struct sigaction ignore = {}, saved;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &saved);
  Pipeline pipeline;
  pipeline.Add({"yes"});
  pipeline.Add({"head", "-c", "4"});
  std::string output, error;
  bool ok = pipeline.Run(-1, -1, &output, &error);
  sigaction(SIGPIPE, &saved, nullptr);
  EXPECT_TRUE(ok) << error;
  EXPECT_EQ("y\ny\n", output);
}

TEST(Pipeline, ChildrenDoNotSeeTheArchiversOptionVariables) {
  setenv("BZIP2", "-1", 1);
  setenv("GZIP", "-1", 1);
  setenv("TAR_OPTIONS", "--format=v7", 1);
  setenv("PACKAGER_TEST_KEPT", "kept", 1);
  Pipeline pipeline;
  pipeline.Add(
      {"sh", "-c", "echo ${BZIP2-none} ${GZIP-none} ${TAR_OPTIONS-none} $PACKAGER_TEST_KEPT"});
  std::string output, error;
  EXPECT_TRUE(pipeline.Run(-1, -1, &output, &error)) << error;
  EXPECT_EQ("none none none kept\n", output);
  unsetenv("BZIP2");
  unsetenv("GZIP");
  unsetenv("TAR_OPTIONS");
  unsetenv("PACKAGER_TEST_KEPT");
}
