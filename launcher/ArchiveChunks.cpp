#include "launcher/ArchiveChunks.h"

ArchiveChunks::ArchiveChunks(int64_t archiveLength, int64_t bytesRead)
    : m_nArchiveLength(archiveLength),
      m_nBytesRead(bytesRead),
      // An archive under 20 bytes would give chunks of 0 bytes, with which the
      // loop could never advance.
      m_nChunkSize(archiveLength / 20 < 1 ? 1 : archiveLength / 20),
      m_nWriteLength(m_nChunkSize),
      m_nOffset(0) {}

bool ArchiveChunks::Next(int64_t* offset, int64_t* length) {
  if (m_nOffset >= m_nBytesRead)
    return false;
  int64_t end = m_nOffset + m_nChunkSize;
  // Chunks are cut at the archive length only, never at a short read's end.
  if (end > m_nArchiveLength)
    m_nWriteLength = m_nArchiveLength - m_nOffset;
  *offset = m_nOffset;
  *length = m_nWriteLength;
  m_nOffset = end;
  return true;
}
