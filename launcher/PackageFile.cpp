#include "launcher/PackageFile.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/Format.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "launcher/Sink.h"
#include "package/Checksum.h"

namespace {

// A descriptor for reading path, or -1 with errno set. A directory opens for
// reading too, but is no package.
int OpenRegular(const char* path) {
  // Non-blocking, so that a FIFO by that name cannot stall the open; reads of
  // a regular file ignore the flag.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return -1;
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0)
    err = errno;
  else if (S_ISDIR(st.st_mode))
    err = EISDIR;
  else if (!S_ISREG(st.st_mode))
    err = EINVAL;
  if (err != 0) {
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace

PackageFile::PackageFile() : m_nSize(0), m_nLastError(0), m_pBuffer(new char[kBufferSize]) {}

PackageFile::~PackageFile() = default;

bool PackageFile::Open(const char* path, const char* fallback, std::string* error) {
  int err = ENOENT;
  for (const char* name : {path, fallback}) {
    if (name == nullptr || *name == '\0')
      continue;
    m_fd.Reset(OpenRegular(name));
    struct stat st;
    if (m_fd.Get() >= 0 && fstat(m_fd.Get(), &st) == 0) {
      m_nSize = st.st_size;
      m_sOpenedPath = name;
      return true;
    }
    // The first name's failure is the one to report.
    if (name == path)
      err = errno;
    m_fd.Reset();
  }
  *error = ErrnoText(err);
  return false;
}

bool PackageFile::ReadTail(int64_t distance, int64_t length, Checksum* sum, Piece* result,
                           std::string* error) {
  if (lseek(m_fd.Get(), -static_cast<off_t>(distance), SEEK_END) < 0)
    m_nLastError = errno;
  Piece piece;
  piece.start = lseek(m_fd.Get(), 0, SEEK_CUR);
  piece.count = 0;
  while (piece.count < length) {
    size_t want = static_cast<size_t>(std::min<int64_t>(kBufferSize, length - piece.count));
    ssize_t got = read(m_fd.Get(), m_pBuffer.get(), want);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      m_nLastError = errno;
      break;
    }
    if (got == 0)
      break;
    if (sum != nullptr)
      sum->Update(m_pBuffer.get(), static_cast<size_t>(got));
    piece.count += got;
  }
  *result = piece;
  if (piece.count == length)
    return true;
  *error = ErrnoText(m_nLastError);
  return false;
}

bool PackageFile::Copy(const Piece& piece, int64_t offset, int64_t size, Sink* sink,
                       std::string* error) {
  char* buffer = m_pBuffer.get();
  while (size > 0) {
    size_t block = static_cast<size_t>(std::min<int64_t>(kBufferSize, size));
    size_t fromFile = 0;
    if (offset < piece.count)
      fromFile = static_cast<size_t>(std::min<int64_t>(block, piece.count - offset));
    size_t done = 0;
    while (done < fromFile) {
      ssize_t got = pread(m_fd.Get(), buffer + done, fromFile - done,
                          static_cast<off_t>(piece.start + offset + done));
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0) {
        *error = FormatText("read the package file: %s", ErrnoText(errno));
        return false;
      }
      if (got == 0) {
        *error = "the package file changed while it was being read";
        return false;
      }
      done += static_cast<size_t>(got);
    }
    memset(buffer + fromFile, 0, block - fromFile);
    if (!sink->Write(buffer, block, error))
      return false;
    offset += static_cast<int64_t>(block);
    size -= static_cast<int64_t>(block);
  }
  return true;
}
