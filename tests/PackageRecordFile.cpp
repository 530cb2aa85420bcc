#include "tests/PackageRecordFile.h"

#include <gtest/gtest.h>
#include <string.h>

#include "tests/TestFiles.h"

namespace {

const std::string kMagic(STRATA_PACKAGE_RECORD_MAGIC, sizeof STRATA_PACKAGE_RECORD_MAGIC);

// Offset of the first whole record in bytes, or npos.
size_t FindRecord(const std::string& bytes) {
  size_t at = bytes.find(kMagic);
  if (at == std::string::npos || at + sizeof(PackageRecord) > bytes.size()) {
    ADD_FAILURE() << "no package record found";
    return std::string::npos;
  }
  return at;
}

}  // namespace

bool RecordOf(const std::string& bytes, PackageRecord* record, size_t* offset) {
  size_t at = FindRecord(bytes);
  if (at == std::string::npos)
    return false;
  if (bytes.find(kMagic, at + 1) != std::string::npos) {
    ADD_FAILURE() << "more than one package record";
    return false;
  }
  memcpy(record, bytes.data() + at, sizeof *record);
  if (offset != nullptr)
    *offset = at;
  return true;
}

bool ReadPackageRecord(const std::string& package, PackageRecord* record) {
  std::string bytes = ReadFile(package);
  size_t at = FindRecord(bytes);
  if (at == std::string::npos)
    return false;
  memcpy(record, bytes.data() + at, sizeof *record);
  return true;
}

bool WritePackageRecord(const std::string& package, const PackageRecord& record) {
  std::string bytes = ReadFile(package);
  size_t at = FindRecord(bytes);
  if (at == std::string::npos)
    return false;
  bytes.replace(at, sizeof record, reinterpret_cast<const char*>(&record), sizeof record);
  return WriteFile(package, bytes, 0755);
}
