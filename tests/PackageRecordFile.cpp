#include "tests/PackageRecordFile.h"

#include <gtest/gtest.h>
#include <string.h>

#include "tests/Subprocess.h"

namespace {

// Offset of the record in bytes, or npos.
size_t FindRecord(const std::string& bytes) {
  const std::string magic(STRATA_PACKAGE_RECORD_MAGIC, sizeof STRATA_PACKAGE_RECORD_MAGIC);
  size_t at = bytes.find(magic);
  if (at == std::string::npos || at + sizeof(PackageRecord) > bytes.size()) {
    ADD_FAILURE() << "no package record found";
    return std::string::npos;
  }
  return at;
}

}  // namespace

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
  WriteFile(package, bytes, 0755);
  return true;
}
