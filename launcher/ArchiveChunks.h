#ifndef STRATA_LAUNCHER_ARCHIVECHUNKS_H_
#define STRATA_LAUNCHER_ARCHIVECHUNKS_H_

#include <stdint.h>

// The chunks in which stage one writes the archive to the extraction command,
// one progress dot each: a twentieth of the archive length (at least one
// byte) per chunk, the last one cut at the archive length, and no chunk that
// starts at or past the bytes actually read.
class ArchiveChunks {
 public:
  ArchiveChunks(int64_t archiveLength, int64_t bytesRead);

  // The next chunk's offset into the archive and its length; false once the
  // loop is over.
  bool Next(int64_t* offset, int64_t* length);

  int64_t ChunkSize() const { return m_nChunkSize; }

 private:
  int64_t m_nArchiveLength;
  int64_t m_nBytesRead;
  int64_t m_nChunkSize;
  int64_t m_nWriteLength;
  int64_t m_nOffset;
};

#endif  // STRATA_LAUNCHER_ARCHIVECHUNKS_H_
