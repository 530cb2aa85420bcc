#ifndef STRATA_BENCH_CONTENTGENERATOR_H_
#define STRATA_BENCH_CONTENTGENERATOR_H_

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Makes a product tree that compresses and decompresses like installed
// server software: source-like text (configuration, scripts, web pages),
// machine-code-like binaries with their string and symbol tables, and files
// that are already compressed (media, archives). Everything follows from the
// seed, so that every run of the benchmark packs the same bytes.
class ContentGenerator {
 public:
  // Shares of the bytes, by kind of file.
  struct Mix {
    double text = 0.40;
    double binary = 0.52;
    double compressed = 0.08;
  };

  explicit ContentGenerator(uint64_t seed);

  ContentGenerator(const ContentGenerator&) = delete;
  ContentGenerator& operator=(const ContentGenerator&) = delete;

  // Writes about totalBytes of files below dir, which must not exist yet
  // (its parent must). On failure returns false with *error saying why; what
  // was written so far stays.
  bool Generate(const std::string& dir, uint64_t totalBytes, std::string* error);
  void SetMix(const Mix& mix) { m_mix = mix; }

  // One file's content of each kind, exactly size bytes long.
  std::string Text(size_t size);
  std::string Binary(size_t size);
  std::string Compressed(size_t size);

  // Files written and their bytes, after Generate.
  uint64_t FileCount() const { return m_nFiles; }
  uint64_t ByteCount() const { return m_nBytes; }

 private:
  uint64_t Next();
  // Uniform in [0, n).
  uint64_t Below(uint64_t n);
  // An index into a table of n entries, the first ones far more often.
  size_t Skewed(size_t n);
  // A size between low and high, evenly spread on a log scale.
  size_t LogSize(size_t low, size_t high);
  const std::string& Word();
  const std::string& Identifier();
  void AppendLine(std::string* text, int indent);
  void AppendCode(std::string* out, size_t size);
  void AppendStrings(std::string* out, size_t size);
  void AppendTable(std::string* out, size_t size);
  bool WriteFile(const std::string& path, const std::string& content, mode_t mode,
                 std::string* error);

  uint64_t m_state[4];
  Mix m_mix;
  std::vector<std::string> m_words;
  std::vector<std::string> m_identifiers;
  // Machine instructions: opcode bytes and how many operand bytes follow.
  struct Instruction {
    std::string opcode;
    int operandBytes;
  };
  std::vector<Instruction> m_instructions;
  uint64_t m_nFiles;
  uint64_t m_nBytes;
};

#endif  // STRATA_BENCH_CONTENTGENERATOR_H_
