#include "launcher/ExtractionRoom.h"

#include <sys/statvfs.h>

#include "common/Format.h"
#include "common/FreeBytes.h"
#include "package/PackageRecord.h"

namespace {

uint64_t AddCapped(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t InBlocks(int64_t length) {
  if (length <= 0)
    return 0;
  const uint64_t bytes = static_cast<uint64_t>(length);
  return AddCapped(bytes, kUnpackedBlockSize - 1) / kUnpackedBlockSize * kUnpackedBlockSize;
}

}  // namespace

const uint64_t ExtractionRoom::kMegabyte;

ExtractionRoom::ExtractionRoom(int64_t extractorLength, int64_t archiveLength, bool fileMode,
                               uint64_t unpackedSize) {
  uint64_t files = AddCapped(InBlocks(extractorLength), unpackedSize);
  if (fileMode)
    files = AddCapped(files, InBlocks(archiveLength));
  m_nNeeded = AddCapped(AddCapped(files, kMegabyte), files / 64);
}

bool ExtractionRoom::FitsIn(const std::string& dir, std::string* message) const {
  struct statvfs fs;
  if (statvfs(dir.c_str(), &fs) != 0 || fs.f_blocks == 0)
    return true;
  return FitsInFree(dir, FreeBytes(fs, false), message);
}

bool ExtractionRoom::FitsInFree(const std::string& dir, uint64_t freeBytes,
                                std::string* message) const {
  if (m_nNeeded <= freeBytes)
    return true;
  const uint64_t need = m_nNeeded / kMegabyte + (m_nNeeded % kMegabyte != 0 ? 1 : 0);
  *message = FormatText(
      "\nError: not enough free space in %s: the package needs %llu MB, %llu MB are free\n",
      dir.c_str(), static_cast<unsigned long long>(need),
      static_cast<unsigned long long>(freeBytes / kMegabyte));
  return false;
}
