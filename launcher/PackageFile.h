#ifndef STRATA_LAUNCHER_PACKAGEFILE_H_
#define STRATA_LAUNCHER_PACKAGEFILE_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "common/ScopedFd.h"

class Checksum;
class Sink;

// The package's own file, read for the two pieces at its end. Owns the
// descriptor and one bounded read buffer, so that no piece is ever held in
// memory whole. Not copyable.
//
// A piece is read twice: once by ReadTail, which finds where it starts and how
// many bytes the file delivers (and digests them), and once by Copy, which
// writes the bytes found to a sink.
class PackageFile {
 public:
  // Small enough to stay in the processor's cache and to cost few page
  // faults in a small package's run; larger reads gain nothing.
  static const size_t kBufferSize = 128 * 1024;

  // Where a trailing piece starts and how many of its bytes were read.
  struct Piece {
    int64_t start;
    int64_t count;
  };

  PackageFile();
  ~PackageFile();

  PackageFile(const PackageFile&) = delete;
  PackageFile& operator=(const PackageFile&) = delete;

  // Opens path, or fallback when path is null or is not a readable regular
  // file (a package started by a bare name found on the search path has no
  // such file in the current directory). On failure returns false and sets
  // *error to the system's text for what failed with path.
  bool Open(const char* path, const char* fallback, std::string* error);

  // The open file's size in bytes, and which of the two names opened it.
  int64_t Size() const { return m_nSize; }
  const std::string& OpenedPath() const { return m_sOpenedPath; }

  // Seeks to distance bytes before the end of the file, then reads up to
  // length bytes into *piece, handing each block to sum (if not null). As
  // with fseek, a seek that fails (a file shorter than distance) leaves the
  // position where it was, and the read goes on from there. False when
  // fewer than length bytes were read, with *error the system's text for
  // the last seek or read of this file that failed ("Success" if none did).
  bool ReadTail(int64_t distance, int64_t length, Checksum* sum, Piece* piece, std::string* error);

  // Writes bytes [offset, offset + size) of piece to sink in buffer-sized
  // blocks; bytes at or past piece.count are written as zeros. False, with
  // *failure saying why, if the file no longer delivers the bytes that
  // ReadTail found or the sink fails.
  bool Copy(const Piece& piece, int64_t offset, int64_t size, Sink* sink, std::string* error);

 private:
  ScopedFd m_fd;
  int64_t m_nSize;
  std::string m_sOpenedPath;
  int m_nLastError;
  std::unique_ptr<char[]> m_pBuffer;
};

#endif  // STRATA_LAUNCHER_PACKAGEFILE_H_
