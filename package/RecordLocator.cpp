#include "package/RecordLocator.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "common/FileIo.h"
#include "common/SystemError.h"

// The record is stored as the launcher's compiler lays it out; the builder
// writes it the same way, which holds on the little-endian machines the
// product runs on.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the record's fields are little-endian");

namespace {

const size_t kMagicSize = sizeof(PackageRecord::magic);
static_assert(sizeof STRATA_PACKAGE_RECORD_MAGIC == kMagicSize, "the magic fills its field");

}  // namespace

bool FindRecordMagic(int fd, uint64_t limit, size_t maxCount, std::vector<uint64_t>* offsets,
                     std::string* error, const char* magic) {
  const size_t kBlock = kRecordSearchBlockSize;
  std::string window;  // the tail of the last block, then the next block
  uint64_t windowStart = 0;
  uint64_t position = 0;
  size_t found = 0;
  std::vector<char> block(kBlock);
  while (position < limit && found < maxCount) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, limit - position));
    size_t got;
    if (!PreadFull(fd, block.data(), want, position, &got)) {
      *error = ErrnoText(errno);
      return false;
    }
    if (got == 0)
      break;
    window.append(block.data(), got);
    position += got;
    size_t from = 0;
    for (;;) {
      const void* hit = memmem(window.data() + from, window.size() - from, magic, kMagicSize);
      if (!hit)
        break;
      size_t at = static_cast<size_t>(static_cast<const char*>(hit) - window.data());
      offsets->push_back(windowStart + at);
      if (++found == maxCount)
        return true;
      from = at + 1;
    }
    // Keep enough of the tail for a magic that straddles two blocks, but
    // none of a match already counted.
    size_t keep = std::min(window.size(), kMagicSize - 1);
    windowStart += window.size() - keep;
    window.erase(0, window.size() - keep);
  }
  return true;
}

std::string FirstLayoutMagic() {
  return std::string("StrataPkg") + "Record" + std::string(1, '\0');
}

bool ReadRecordAt(int fd, uint64_t offset, PackageRecord* record, std::string* error) {
  size_t got;
  if (!PreadFull(fd, record, sizeof *record, offset, &got)) {
    *error = ErrnoText(errno);
    return false;
  }
  if (got != sizeof *record) {
    *error = "the record is cut short";
    return false;
  }
  return true;
}

bool WriteRecordAt(int fd, uint64_t offset, const PackageRecord& record, std::string* error) {
  if (!PwriteAll(fd, &record, sizeof record, offset)) {
    *error = ErrnoText(errno);
    return false;
  }
  return true;
}

bool PiecesFitAfterRecord(const PackageRecord& record, uint64_t offset, uint64_t fileSize) {
  const uint64_t recordEnd = offset + sizeof record;
  if (record.archiveLength <= 0 || record.extractorLength < 0 || recordEnd > fileSize)
    return false;
  return static_cast<uint64_t>(record.archiveLength) +
             static_cast<uint64_t>(record.extractorLength) <=
         fileSize - recordEnd;
}

bool HoldsBuiltInValues(const PackageRecord& record) {
  static const char kType[sizeof record.archiveType] = STRATA_BUILT_IN_ARCHIVE_TYPE;
  static const unsigned char kNoDigest[sizeof record.checksum] = {};
  return record.archiveLength == kBuiltInArchiveLength &&
         record.extractorLength == kBuiltInExtractorLength &&
         memcmp(record.archiveType, kType, sizeof kType) == 0 &&
         record.checksumKind == kChecksumNone &&
         memcmp(record.checksum, kNoDigest, sizeof kNoDigest) == 0 &&
         record.layout == kPackageRecordLayout && record.unpackedSize == 0;
}
