#include "package/ExtractionMark.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/FileIo.h"
#include "common/Format.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"

const char kExtractionMarkName[] = ".made-by-installation-package";

namespace {

// Tells whoever looks into the directory why the file is there.
const char kMarkText[] =
    "This directory was made by a Strata Server installation package; the next package run "
    "here removes it.\n";

}  // namespace

bool MarkExtractionDirectory(const std::string& dir, std::string* error) {
  const std::string path = dir + "/" + kExtractionMarkName;
  ScopedFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  const size_t length = sizeof kMarkText - 1;
  if (fd.Get() < 0 || !WriteAll(fd.Get(), kMarkText, length)) {
    *error = FormatText("cannot mark %s: %s", dir.c_str(), ErrnoText(errno));
    return false;
  }
  return true;
}

bool IsMarkedExtractionDirectory(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  const std::string mark = path + "/" + kExtractionMarkName;
  // Non-blocking: a FIFO of that name must not hold the package up.
  ScopedFd fd(open(mark.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  const size_t length = sizeof kMarkText - 1;
  char text[sizeof kMarkText];
  size_t got = 0;
  // One byte more than the text, so that a longer file does not pass.
  if (!PreadFull(fd.Get(), text, sizeof text, 0, &got))
    return false;
  return got == length && memcmp(text, kMarkText, length) == 0;
}
