#include "packager/PackageInspector.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/FileIo.h"
#include "common/SystemError.h"
#include "package/Checksum.h"
#include "package/RecordLocator.h"
#include "packager/ArchiveType.h"
#include "packager/Pipeline.h"

namespace {

// A record's type field as text fit for a message, whatever bytes it holds.
std::string Printable(const char* text, size_t size) {
  std::string shown;
  for (size_t i = 0; i < size && text[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    shown += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
  }
  return shown;
}

}  // namespace

PackageInspector::PackageInspector() : m_record(), m_nFileSize(0), m_nRecordOffset(0) {}

uint64_t PackageInspector::ArchiveStart() const {
  return m_nFileSize - static_cast<uint64_t>(m_record.archiveLength);
}

uint64_t PackageInspector::LauncherLength() const {
  return m_nFileSize - static_cast<uint64_t>(m_record.extractorLength) -
         static_cast<uint64_t>(m_record.archiveLength);
}

bool PackageInspector::Open(const std::string& path, std::string* error) {
  m_szPath = path;
  // Without waiting for a writer, should path be a FIFO.
  m_fd.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (m_fd.Get() < 0 || fstat(m_fd.Get(), &st) != 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return false;
  }
  m_nFileSize = static_cast<uint64_t>(st.st_size);

  // The launcher piece comes first, so the first record in the file is the
  // launcher's own, even if the archive happens to hold another launcher.
  std::vector<uint64_t> offsets;
  std::string reason;
  if (!FindRecordMagic(m_fd.Get(), m_nFileSize, 1, &offsets, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  if (offsets.empty()) {
    if (FindRecordMagic(m_fd.Get(), m_nFileSize, 1, &offsets, &reason,
                        FirstLayoutMagic().c_str()) &&
        !offsets.empty()) {
      *error = path +
               ": its package record has an older layout, which this mkpackage does not read; "
               "inspect it with the mkpackage that built it";
      return false;
    }
    *error = path + ": not a package (it holds no package record)";
    return false;
  }
  m_nRecordOffset = offsets[0];
  if (!ReadRecordAt(m_fd.Get(), m_nRecordOffset, &m_record, &reason)) {
    *error = path + ": not a package (its package record is cut short)";
    return false;
  }

  int64_t archive = m_record.archiveLength;
  int64_t extractor = m_record.extractorLength;
  if (!PiecesFitAfterRecord(m_record, m_nRecordOffset, m_nFileSize)) {
    if (HoldsBuiltInValues(m_record)) {
      *error = path + ": a launcher, not a package (its record still holds the built-in values)";
      return false;
    }
    *error = path + ": not a package (its record's lengths, decompressor " +
             std::to_string(extractor) + " and archive " + std::to_string(archive) +
             " bytes, do not fit the file of " + std::to_string(m_nFileSize) + " bytes)";
    return false;
  }
  const char* type = m_record.archiveType;
  const ArchiveType* known =
      memchr(type, '\0', sizeof m_record.archiveType) ? FindArchiveType(type) : nullptr;
  if (!known) {
    *error = path + ": the record names an unknown archive type '" +
             Printable(type, sizeof m_record.archiveType) + "'";
    return false;
  }
  // No launcher can extract it: the command would run an empty path.
  if (known->needsDecompressor && extractor == 0) {
    *error = path + ": the record's type " + type +
             " needs a decompressor, but its decompressor length is 0";
    return false;
  }
  if (m_record.checksumKind != kChecksumNone && Checksum::DigestSize(m_record.checksumKind) == 0) {
    *error = path + ": the record names an unknown checksum kind " +
             std::to_string(m_record.checksumKind);
    return false;
  }
  return true;
}

bool PackageInspector::Verify(Verdict* verdict, std::string* actual, std::string* error) const {
  actual->clear();
  if (m_record.checksumKind == kChecksumNone) {
    // Open has made sure that the type is known.
    const ArchiveType* type = FindArchiveType(m_record.archiveType);
    const std::string signature = type ? type->signature : "";
    std::string start(signature.size(), '\0');
    size_t got = 0;
    if (!PreadFull(m_fd.Get(), &start[0], start.size(), ArchiveStart(), &got)) {
      *error = m_szPath + ": " + ErrnoText(errno);
      return false;
    }
    *verdict = got == start.size() && start == signature ? kNoChecksum : kWrongStart;
    return true;
  }
  Checksum checksum(m_record.checksumKind);
  if (!DigestToEnd(m_fd.Get(), LauncherLength(), m_szPath, &checksum, error))
    return false;
  unsigned char digest[Checksum::kMaxDigestSize];
  checksum.Final(digest);
  size_t size = Checksum::DigestSize(m_record.checksumKind);
  *actual = Checksum::ToHex(digest, size);
  *verdict = memcmp(digest, m_record.checksum, size) == 0 ? kVerified : kMismatch;
  return true;
}

bool PackageInspector::List(std::string* listing, std::string* error) const {
  const ArchiveType* type = FindArchiveType(m_record.archiveType);
  if (!type || type->decompressor.empty()) {
    *error = m_szPath + ": cannot list an archive of type " + m_record.archiveType;
    return false;
  }
  // The archive is the last piece: the decompressor reads from its start
  // to the end of the file. Everything else here reads with pread, so the
  // file position is free for this.
  off_t start = static_cast<off_t>(ArchiveStart());
  if (lseek(m_fd.Get(), start, SEEK_SET) != start) {
    *error = m_szPath + ": " + ErrnoText(errno);
    return false;
  }
  Pipeline pipeline;
  pipeline.Add(type->decompressor);
  pipeline.Add({"tar", "--list", "--file=-"});
  listing->clear();
  if (!pipeline.Run(m_fd.Get(), -1, listing, error)) {
    *error = m_szPath + ": cannot list the archive: " + *error;
    return false;
  }
  return true;
}
