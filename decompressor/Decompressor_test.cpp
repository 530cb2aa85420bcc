// The static decompressors as a package's pipeline meets them: real
// processes with an empty environment, fed what the real bzip2 and zstd
// write.
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/ShellQuote.h"
#include "tests/Subprocess.h"

namespace {

using Args = std::vector<std::string>;

struct Decompressor {
  std::string name, path;
  std::string compress;  // the real tool, writing to standard output
};
const Decompressor kPrograms[] = {{"strata-bunzip2", BUNZIP2_PROGRAM, "bzip2 -9 -c"},
                                  {"strata-unzstd", UNZSTD_PROGRAM, "zstd -q -19 -c"}};

// 8 KiB blocks of text lines, noise and zeros, the same for every run.
std::string MixedData(size_t size, uint32_t x) {
  std::string data;
  while (data.size() < size) {
    uint32_t kind = (x = x * 1664525u + 1013904223u) >> 16 & 3;
    for (size_t end = data.size() + 8192; data.size() < end;) {
      x = x * 1664525u + 1013904223u;
      if (kind == 0)
        data += "line " + std::to_string(x >> 20) + " of a file\n";
      else
        data += kind == 3 ? '\0' : static_cast<char>(x >> 24);
    }
  }
  data.resize(size);
  return data;
}

// Runs the program with args and an empty environment, standard input from
// the file input and standard output into the file output.
ProcessResult Decompress(const Decompressor& program, const Args& args, const std::string& input,
                         const std::string& output) {
  return RunForked([&] {
    int in = open(input.c_str(), O_RDONLY);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
      _exit(126);
    std::vector<char*> argv = {const_cast<char*>(program.name.c_str())};
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    char* noEnvironment[] = {nullptr};
    execve(program.path.c_str(), argv.data(), noEnvironment);
    _exit(127);
  });
}

// Ended with status and one line on standard error after "NAME: ".
void ExpectFailure(const Decompressor& program, int status, const ProcessResult& result) {
  EXPECT_TRUE(result.exited && result.code == status) << result.code;
  EXPECT_EQ(0u, result.err.rfind(program.name + ": ", 0)) << result.err;
  EXPECT_EQ(result.err.size() - 1, result.err.find('\n')) << result.err;
}

TEST(Decompressor, ProgramsAreStaticAndAtMost400KB) {
  for (const Decompressor& program : kPrograms) {
    SCOPED_TRACE(program.name);
    std::string elf = ReadFile(program.path);
    EXPECT_LE(elf.size(), 400u * 1000);
    Elf64_Ehdr header;
    ASSERT_GE(elf.size(), sizeof header);
    memcpy(&header, elf.data(), sizeof header);
    ASSERT_TRUE(memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
                header.e_ident[EI_CLASS] == ELFCLASS64);
    ASSERT_LE(header.e_phoff + header.e_phnum * sizeof(Elf64_Phdr), elf.size());
    for (int i = 0; i < header.e_phnum; ++i) {
      Elf64_Phdr segment;
      memcpy(&segment, elf.data() + header.e_phoff + i * sizeof segment, sizeof segment);
      EXPECT_NE(static_cast<Elf64_Word>(PT_INTERP), segment.p_type) << "asks for a loader";
      if (segment.p_type != PT_DYNAMIC)
        continue;
      ASSERT_LE(segment.p_offset + segment.p_filesz, elf.size());
      for (size_t at = 0; at + sizeof(Elf64_Dyn) <= segment.p_filesz; at += sizeof(Elf64_Dyn)) {
        Elf64_Dyn entry;
        memcpy(&entry, elf.data() + segment.p_offset + at, sizeof entry);
        EXPECT_NE(DT_NEEDED, entry.d_tag) << "needs a shared library";
      }
    }
  }
}

TEST(Decompressor, RoundTripsConcatenatedStreamsOfTheRealTools) {
  TempDir dir;
  const std::string first = MixedData(2 << 20, 1), second = MixedData(200 << 10, 2);
  WriteFile(dir / "first", first);
  WriteFile(dir / "second", second);
  // The last zstd frame comes through a pipe, so that it declares its whole
  // 2 GiB window, which zstd's default limit refuses.
  ASSERT_EQ(0, RunShell("cd " + ShellQuote(dir.path()) +
                        " && bzip2 -9 -c first > bz2 && bzip2 -9 -c second >> bz2"
                        " && zstd -q -19 --long=27 -c first > zst"
                        " && cat second | zstd -q -19 --long=31 -c > long31.zst"
                        " && ! zstd -q -dc < long31.zst > /dev/null 2>&1"
                        " && cat long31.zst >> zst"));
  for (const Decompressor& program : kPrograms) {
    SCOPED_TRACE(program.name);
    std::string input = dir / (program.name == "strata-bunzip2" ? "bz2" : "zst");
    ProcessResult result = Decompress(program, {"-dc"}, input, dir / "out");
    EXPECT_TRUE(result.exited && result.code == 0 && result.err.empty()) << result.err;
    EXPECT_TRUE(ReadFile(dir / "out") == first + second) << "the output differs";
  }
}

TEST(Decompressor, BadInputEndsWithStatus2AndOneLine) {
  TempDir dir;
  const std::string data = MixedData(60 << 10, 3);
  WriteFile(dir / "data", data);
  std::string bz2, zst;
  ASSERT_EQ(0, RunShell("bzip2 -c < " + ShellQuote(dir / "data"), &bz2));
  ASSERT_EQ(0, RunShell("zstd -q -c < " + ShellQuote(dir / "data"), &zst));
  for (const Decompressor& program : kPrograms) {
    SCOPED_TRACE(program.name);
    bool isBzip2 = program.name == "strata-bunzip2";
    const std::string& stream = isBzip2 ? bz2 : zst;
    std::string corrupt = stream;
    corrupt[corrupt.size() / 2] ^= 0x55;
    for (const auto& bad : std::vector<std::pair<const char*, std::string>>{
             {"empty", ""},
             {"plain text", data},
             {"other format", isBzip2 ? zst : bz2},
             {"truncated", stream.substr(0, stream.size() / 2)},
             {"second stream truncated", stream + stream.substr(0, stream.size() - 10)},
             {"corrupt", corrupt},
             {"trailing garbage", stream + "garbage after the stream\n"}}) {
      SCOPED_TRACE(bad.first);
      WriteFile(dir / "in", bad.second);
      ExpectFailure(program, 2, Decompress(program, {"-dc"}, dir / "in", dir / "out"));
    }
  }
}

TEST(Decompressor, TakesTheExtractionOptionsAndRefusesOthers) {
  TempDir dir;
  const std::string data = MixedData(10 << 10, 4), in = dir / "in", out = dir / "out";
  WriteFile(dir / "data", data);
  for (const Decompressor& program : kPrograms) {
    SCOPED_TRACE(program.name);
    ASSERT_EQ(0, RunShell(program.compress + " < " + ShellQuote(dir / "data") + " > " + in));
    for (const Args& args : {Args{"-dc"}, Args{"-d", "-c"}, Args{"-cd"}, Args{"-q", "-dc"}}) {
      ProcessResult result = Decompress(program, args, in, out);
      EXPECT_TRUE(result.exited && result.code == 0 && ReadFile(out) == data) << args[0];
    }
    for (const Args& args : {Args{"-x"}, Args{"-dc", "in"}, Args{"-c"}, Args{}}) {
      SCOPED_TRACE(args.empty() ? "no option" : args.back());
      ExpectFailure(program, 1, Decompress(program, args, in, out));
      EXPECT_EQ("", ReadFile(out));
    }
    for (std::string option : {"-h", "--help", "-V", "--version"}) {
      ProcessResult result = Decompress(program, {option}, in, out);
      std::string text = ReadFile(out);
      EXPECT_TRUE(result.exited && result.code == 0 && result.err.empty()) << option;
      bool version = option == "-V" || option == "--version";
      EXPECT_NE(std::string::npos, text.find(program.name + (version ? " " : " -dc"))) << text;
      if (version) {
        EXPECT_EQ(text.size() - 1, text.find('\n')) << "not one line: " << text;
      }
    }
  }
}

TEST(Decompressor, OutputThatCannotBeWrittenIsAFailure) {
  TempDir dir;
  WriteFile(dir / "data", MixedData(2 << 20, 5));
  for (const Decompressor& program : kPrograms) {
    SCOPED_TRACE(program.name);
    const std::string cd = "cd " + ShellQuote(dir.path()) + " && ";
    ASSERT_EQ(0, RunShell(cd + program.compress + " -1 < data > in"));
    // A reader that exits early, as a failing tar does, with far more output
    // left than a pipe holds.
    ASSERT_EQ(0, RunShell(cd + "(env -i " + ShellQuote(program.path) +
                          " -dc < in 2> err; echo $? > status) | head -c 1 > /dev/null"));
    EXPECT_EQ("2\n", ReadFile(dir / "status"));
    EXPECT_EQ(0u, ReadFile(dir / "err").rfind(program.name + ": ", 0));
    ExpectFailure(program, 2, Decompress(program, {"-dc"}, dir / "in", "/dev/full"));
  }
}

}  // namespace
