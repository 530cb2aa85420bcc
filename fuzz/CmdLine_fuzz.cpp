// The installer command line. The input is the argument vector, words
// separated by NUL bytes (the first is the program name); after a 0xff byte
// comes the content of the defaults file that "-cfg fuzz.cfg" reads.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/FuzzInstaller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* split = static_cast<const uint8_t*>(memchr(data, 0xff, size));
  size_t argvSize = split != nullptr ? static_cast<size_t>(split - data) : size;
  if (split != nullptr)
    WriteHarnessFile(split + 1, size - argvSize - 1);
  else
    WriteHarnessFile(nullptr, 0);

  std::vector<std::string> words;
  const char* text = reinterpret_cast<const char*>(data);
  size_t start = 0;
  for (size_t i = 0; i <= argvSize; ++i) {
    if (i == argvSize || text[i] == '\0') {
      words.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  std::vector<const char*> argv;
  for (const std::string& word : words)
    argv.push_back(word.c_str());
  argv.push_back(nullptr);

  FuzzInstaller installer(HarnessFile());
  installer.SetDefaults();
  try {
    installer.ParseCmdLine(static_cast<int>(words.size()), argv.data());
  } catch (const FuzzExit& exit) {
    // Only the statuses the parser ends with.
    if (exit.status != 0 && exit.status != -1)
      __builtin_trap();
  }
  installer.SettingsLength();
  return 0;
}
