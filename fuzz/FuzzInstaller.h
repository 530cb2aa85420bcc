#ifndef STRATA_FUZZ_FUZZINSTALLER_H_
#define STRATA_FUZZ_FUZZINSTALLER_H_

#include <string>

#include "console/ConsoleUI.h"
#include "installer/ServerInstaller.h"

// What the harness's CleanUpAndExit throws instead of ending the process.
struct FuzzExit {
  int status;
};

// A console that formats every message (so hostile arguments reach the
// formatting) and prints nothing.
class QuietUI : public ConsoleUI {
 public:
  void ShowMessage(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void ShowErrorMessage(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void FlushOutput() override {}
  void PrintUsage(const char*, const char*) override {}
  void StartPrintingDots() override {}
  void StopPrintingDots() override {}

  size_t m_shownBytes = 0;
};

// An installer that is safe to drive with arbitrary input: it talks through a
// QuietUI, runs no shell command, removes nothing, and leaves the process
// through FuzzExit. A defaults file is read only under the name
// kConfigName ("-cfg fuzz.cfg"), from the harness's own file; every other
// name is missing.
class FuzzInstaller : public ServerInstaller {
 public:
  static const char kConfigName[];

  explicit FuzzInstaller(std::string configPath);

  [[noreturn]] void CleanUpAndExit(int status, ConsoleUI* ui) override;
  void CleanUp(const char*) override {}
  int System(const char*) override { return 0; }
  int ReadInstallerDefaults(const char* fileName) override;
  // Reads with the installer's own table and echoes each item.
  int ReadInstallerConfigItems(const char* path, const InstCfgItem* items, ConsoleUI* ui) override;

  // Touches every text setting, so a text that lost its end shows up.
  size_t SettingsLength() const;

 private:
  std::string m_configPath;
};

// A private file for the harness's defaults files, removed at exit.
const std::string& HarnessFile();
void WriteHarnessFile(const uint8_t* data, size_t size);

#endif  // STRATA_FUZZ_FUZZINSTALLER_H_
