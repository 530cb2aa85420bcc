#include "driver/installation/PlaceUninstaller.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>

#include "common/AtomicFile.h"
#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallManifest.h"

bool PlaceUninstaller(const std::string& installDir, std::string* error) {
  for (const char* name : {InstallManifest::kUninstallerName, InstallManifest::kVerifierName}) {
    ScopedFd self(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (self.Get() < 0) {
      *error = ErrnoMessage("/proc/self/exe", errno);
      return false;
    }
    const std::string target = installDir + "/Bin/" + name;
    AtomicFile file(target);
    if (!file.Create(error))
      return false;
    uint64_t copied = 0;
    bool writeFailed = false;
    if (!CopyToEnd(self.Get(), file.Descriptor(), &copied, &writeFailed)) {
      *error = ErrnoMessage(writeFailed ? target : std::string("/proc/self/exe"), errno);
      return false;
    }
    if (!file.Commit(0755, error))
      return false;
  }
  return true;
}
