#include "bench/ContentGenerator.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/FileIo.h"
#include "common/SystemError.h"

namespace {

const char* const kSyllables[] = {
    "get",  "set",   "stream", "buf",   "len",  "media", "rtsp",  "sess",  "conn",  "cfg",
    "port", "pkt",   "frame",  "rate",  "time", "user",  "realm", "auth",  "log",   "file",
    "path", "dir",   "node",   "list",  "map",  "item",  "count", "size",  "idx",   "ptr",
    "read", "write", "open",   "close", "init", "free",  "alloc", "parse", "send",  "recv",
    "hdr",  "body",  "key",    "val",   "err",  "msg",   "str",   "text",  "name",  "host",
    "addr", "sock",  "chan",   "queue", "lock", "mutex", "task",  "job",   "state", "mode",
    "flag", "opt",   "codec",  "track", "clip", "live",  "cache", "pool",  "peer",  "ctx",
};

const char* const kEnglish[] = {
    "the",    "a",        "of",      "to",      "and",     "is",     "in",       "for",
    "that",   "when",     "this",    "with",    "server",  "client", "stream",   "must",
    "be",     "not",      "if",      "we",      "it",      "on",     "are",      "from",
    "each",   "file",     "packet",  "session", "returns", "buffer", "until",    "after",
    "before", "request",  "default", "value",   "port",    "user",   "password", "realm",
    "media",  "playback", "encoder", "monitor", "length",  "bytes",  "only",     "so",
    "its",    "which",    "keeps",   "sent",    "time",    "next",   "already",  "closed",
};

const char* const kKeywords[] = {"if",       "while",  "return", "for",   "switch",
                                 "case",     "const",  "static", "int",   "char",
                                 "unsigned", "struct", "void",   "break", "else"};

const char* const kOperators[] = {" = ", " == ", " != ", " + ", " - ", " < ", " && ", "->", "."};

// Lays value into out as size little-endian bytes.
void AppendLittleEndian(std::string* out, uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

ContentGenerator::ContentGenerator(uint64_t seed) : m_nFiles(0), m_nBytes(0) {
  // splitmix64 spreads the seed over the state of xoshiro256**.
  uint64_t x = seed;
  for (uint64_t& word : m_state) {
    x += 0x9e3779b97f4a7c15ull;
    uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    word = z ^ (z >> 31);
  }
  const size_t syllables = sizeof kSyllables / sizeof kSyllables[0];
  for (int i = 0; i < 6000; ++i) {
    std::string name = kSyllables[Skewed(syllables)];
    int parts = 1 + static_cast<int>(Below(3));
    for (int p = 1; p < parts; ++p) {
      std::string part = kSyllables[Skewed(syllables)];
      if (Below(2) == 0)
        part[0] = static_cast<char>(part[0] - 'a' + 'A');
      else
        name += "_";
      name += part;
    }
    m_identifiers.push_back(name);
  }
  for (const char* word : kEnglish)
    m_words.push_back(word);
  // Common opcodes of one to three bytes, most with a register byte and some
  // with a 32-bit displacement or immediate.
  for (int i = 0; i < 400; ++i) {
    Instruction ins;
    int length = 1 + static_cast<int>(Below(3));
    for (int b = 0; b < length; ++b)
      ins.opcode.push_back(static_cast<char>(b == 0 && Below(3) == 0 ? 0x48 : Below(256)));
    static const int kOperands[] = {0, 1, 1, 1, 2, 4, 4};
    ins.operandBytes = kOperands[Below(sizeof kOperands / sizeof kOperands[0])];
    m_instructions.push_back(ins);
  }
}

uint64_t ContentGenerator::Next() {
  uint64_t* s = m_state;
  const uint64_t result = ((s[1] * 5) << 7 | (s[1] * 5) >> 57) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = (s[3] << 45) | (s[3] >> 19);
  return result;
}

uint64_t ContentGenerator::Below(uint64_t n) {
  return n == 0 ? 0 : Next() % n;
}

size_t ContentGenerator::Skewed(size_t n) {
  // A cube of a uniform number: about half the picks fall in the first
  // eighth of the table, as with the words of real text and code.
  double u = static_cast<double>(Next() >> 11) / 9007199254740992.0;
  size_t index = static_cast<size_t>(u * u * u * static_cast<double>(n));
  return std::min(index, n - 1);
}

size_t ContentGenerator::LogSize(size_t low, size_t high) {
  double u = static_cast<double>(Next() >> 11) / 9007199254740992.0;
  return static_cast<size_t>(
      exp(log(static_cast<double>(low)) + u * (log(static_cast<double>(high)) - log(low))));
}

const std::string& ContentGenerator::Word() {
  return m_words[Skewed(m_words.size())];
}

const std::string& ContentGenerator::Identifier() {
  return m_identifiers[Skewed(m_identifiers.size())];
}

void ContentGenerator::AppendLine(std::string* text, int indent) {
  text->append(static_cast<size_t>(indent) * 2, ' ');
  switch (Below(8)) {
    case 0: {
      *text += "// ";
      int words = 4 + static_cast<int>(Below(10));
      for (int i = 0; i < words; ++i) {
        if (i > 0)
          *text += ' ';
        *text += Word();
      }
      *text += '.';
      break;
    }
    case 1:
      *text += kKeywords[Below(4)];
      *text += " (" + Identifier() + kOperators[Below(9)] + Identifier() + ") {";
      break;
    case 2:
      *text += "return " + Identifier() + ";";
      break;
    case 3:
      *text += Identifier() + " = " + std::to_string(Below(4096)) + ";";
      break;
    case 4:
      *text += "}";
      break;
    default: {
      *text += Identifier() + kOperators[Below(9)] + Identifier() + "(";
      int args = static_cast<int>(Below(4));
      for (int i = 0; i < args; ++i) {
        if (i > 0)
          *text += ", ";
        *text += Below(4) == 0 ? std::to_string(Below(100000)) : Identifier();
      }
      *text += ");";
      break;
    }
  }
  *text += '\n';
}

std::string ContentGenerator::Text(size_t size) {
  std::string text;
  text.reserve(size + 256);
  int indent = 0;
  while (text.size() < size) {
    AppendLine(&text, indent);
    indent = std::max(0, std::min(5, indent + static_cast<int>(Below(3)) - 1));
  }
  text.resize(size);
  return text;
}

void ContentGenerator::AppendCode(std::string* out, size_t size) {
  const size_t end = out->size() + size;
  while (out->size() < end) {
    // A function: prologue, body, epilogue and padding to 16 bytes.
    out->append("\x55\x48\x89\xe5\x41\x57\x41\x56", 8);
    int instructions = 8 + static_cast<int>(Below(120));
    for (int i = 0; i < instructions; ++i) {
      const Instruction& ins = m_instructions[Skewed(m_instructions.size())];
      *out += ins.opcode;
      if (ins.operandBytes == 1) {
        static const unsigned char kRegisters[] = {0xc0, 0x45, 0x7d, 0xc7, 0x04, 0x24, 0x85};
        out->push_back(static_cast<char>(kRegisters[Below(sizeof kRegisters)]));
      } else if (ins.operandBytes == 2) {
        AppendLittleEndian(out, Below(64) * 8, 2);
      } else if (ins.operandBytes == 4) {
        // Displacements are small and often negative.
        int64_t value = static_cast<int64_t>(Below(8192)) - 4096;
        AppendLittleEndian(out, static_cast<uint64_t>(value), 4);
      }
    }
    out->append("\x41\x5e\x41\x5f\x5d\xc3", 6);
    while (out->size() % 16 != 0)
      out->push_back(static_cast<char>(0xcc));
  }
  out->resize(end);
}

void ContentGenerator::AppendStrings(std::string* out, size_t size) {
  const size_t end = out->size() + size;
  while (out->size() < end) {
    if (Below(3) == 0) {
      int words = 2 + static_cast<int>(Below(8));
      for (int i = 0; i < words; ++i) {
        if (i > 0)
          *out += ' ';
        *out += Word();
      }
    } else {
      *out += Identifier();
    }
    out->push_back('\0');
  }
  out->resize(end);
}

void ContentGenerator::AppendTable(std::string* out, size_t size) {
  // Symbol and relocation entries: rising addresses, small indexes, flags.
  const size_t end = out->size() + size;
  uint64_t address = 0x400000 + Below(0x10000) * 16;
  while (out->size() < end) {
    address += 8 + Below(512) * 8;
    AppendLittleEndian(out, address, 8);
    AppendLittleEndian(out, Below(4000), 4);
    AppendLittleEndian(out, Below(4) * 0x10 + 2, 4);
    AppendLittleEndian(out, Below(2) == 0 ? 0 : Below(4096), 8);
  }
  out->resize(end);
}

std::string ContentGenerator::Binary(size_t size) {
  std::string out;
  out.reserve(size);
  // An ELF-like header, then sections in the proportions of a stripped
  // program or library, each aligned to 64 bytes with zeros.
  out.append(
      "\x7f"
      "ELF\x02\x01\x01",
      7);
  while (out.size() < size) {
    size_t section = std::min(size - out.size(), LogSize(256, 256 * 1024));
    uint64_t kind = Below(10);
    if (kind < 6)
      AppendCode(&out, section);
    else if (kind < 8)
      AppendStrings(&out, section);
    else
      AppendTable(&out, section);
    while (out.size() % 64 != 0 && out.size() < size)
      out.push_back('\0');
  }
  out.resize(size);
  return out;
}

std::string ContentGenerator::Compressed(size_t size) {
  std::string out;
  out.reserve(size + 8);
  while (out.size() < size)
    AppendLittleEndian(&out, Next(), 8);
  out.resize(size);
  return out;
}

bool ContentGenerator::WriteFile(const std::string& path, const std::string& content, mode_t mode,
                                 std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  if (!WriteAll(fd, content.data(), content.size())) {
    *error = path + ": " + ErrnoText(errno);
    close(fd);
    return false;
  }
  if (close(fd) != 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  ++m_nFiles;
  m_nBytes += content.size();
  return true;
}

bool ContentGenerator::Generate(const std::string& dir, uint64_t totalBytes, std::string* error) {
  struct Kind {
    const char* folder;
    const char* suffix;
    double share;
    size_t low, high;
    mode_t mode;
  };
  const Kind kinds[] = {
      {"WebAdmin", ".html", m_mix.text, 2 * 1024, 160 * 1024, 0644},
      {"Lib", ".so", m_mix.binary, 16 * 1024, 3 * 1024 * 1024, 0755},
      {"Content", ".mp4", m_mix.compressed, 32 * 1024, 6 * 1024 * 1024, 0644},
  };
  for (const std::string& path : {dir, dir + "/Bin"}) {
    if (mkdir(path.c_str(), 0755) != 0) {
      *error = path + ": " + ErrnoText(errno);
      return false;
    }
  }
  for (const Kind& kind : kinds) {
    const std::string folder = dir + "/" + kind.folder;
    if (mkdir(folder.c_str(), 0755) != 0) {
      *error = folder + ": " + ErrnoText(errno);
      return false;
    }
    uint64_t budget = static_cast<uint64_t>(static_cast<double>(totalBytes) * kind.share);
    for (int index = 0; budget > 0; ++index) {
      size_t size = std::min<uint64_t>(budget, LogSize(kind.low, kind.high));
      std::string content;
      if (kind.mode == 0755)
        content = Binary(size);
      else if (kind.suffix == std::string(".html"))
        content = Text(size);
      else
        content = Compressed(size);
      // Ten files to a folder below the kind's own, as installed trees have.
      const std::string sub = folder + "/" + std::to_string(index / 10);
      if (index % 10 == 0 && mkdir(sub.c_str(), 0755) != 0) {
        *error = sub + ": " + ErrnoText(errno);
        return false;
      }
      const std::string path = sub + "/" + Identifier() + "_" + std::to_string(index) + kind.suffix;
      if (!WriteFile(path, content, kind.mode, error))
        return false;
      budget -= size;
    }
  }
  return true;
}
