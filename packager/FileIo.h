#ifndef STRATA_PACKAGER_FILEIO_H_
#define STRATA_PACKAGER_FILEIO_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "common/WriteAll.h"

class Checksum;

// Owns one open descriptor and closes it.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : m_nFd(fd) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int Get() const { return m_nFd; }
  void Reset(int fd = -1);

 private:
  int m_nFd;
};

// Whole reads and writes on descriptors, retried after interruptions and
// partial transfers. Each returns false with errno set on a failure; WriteAll
// comes from common/WriteAll.h.
// Writes all size bytes at offset, leaving the file position alone.
bool PwriteAll(int fd, const void* data, size_t size, uint64_t offset);
// Reads up to size bytes at offset; *got is less than size only at the end
// of the file.
bool PreadFull(int fd, void* data, size_t size, uint64_t offset, size_t* got);
// Hands every byte of fd from offset from to the end of the file to
// checksum, read with pread in large blocks.
bool DigestToEnd(int fd, uint64_t from, Checksum* checksum);
// Copies everything from the current position of from to the end of the
// file into to; *copied counts the bytes. *writeFailed tells which side
// failed.
bool CopyToEnd(int from, int to, uint64_t* copied, bool* writeFailed);

// The executable that a command name without "/" names on PATH (the first
// regular, executable match), or "" if there is none. A name with "/" is
// returned as it stands.
std::string FindOnPath(const std::string& name);

// The directory part of path ("." when it has none), without trailing "/".
std::string DirectoryOf(const std::string& path);

#endif  // STRATA_PACKAGER_FILEIO_H_
