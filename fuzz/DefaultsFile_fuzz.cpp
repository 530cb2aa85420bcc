// The installer defaults file: the input is the file's content, read with the
// installer's own table and echoed item by item.
#include <stddef.h>
#include <stdint.h>

#include "fuzz/FuzzInstaller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteHarnessFile(data, size);
  FuzzInstaller installer(HarnessFile());
  installer.SetDefaults();
  if (installer.ReadInstallerDefaults("../fuzz.cfg") != 0)
    __builtin_trap();  // a regular file that exists must be read
  installer.SettingsLength();
  return 0;
}
