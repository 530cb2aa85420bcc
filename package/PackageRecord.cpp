#include "package/PackageRecord.h"

#include <stddef.h>

// Volatile, so that the compiler reads the values from the file's bytes at
// run time instead of folding the built-in constants into the code.
extern const volatile PackageRecord g_packageRecord;
__attribute__((used)) const volatile PackageRecord g_packageRecord = {
    STRATA_PACKAGE_RECORD_MAGIC,
    kBuiltInArchiveLength,
    kBuiltInExtractorLength,
    STRATA_BUILT_IN_ARCHIVE_TYPE,
    kChecksumNone,
    {0},
    kPackageRecordLayout,
    0,
};

PackageRecord LoadPackageRecord() {
  PackageRecord record;
  const volatile unsigned char* from =
      reinterpret_cast<const volatile unsigned char*>(&g_packageRecord);
  unsigned char* to = reinterpret_cast<unsigned char*>(&record);
  for (size_t i = 0; i < sizeof record; ++i)
    to[i] = from[i];
  record.archiveType[sizeof record.archiveType - 1] = '\0';
  return record;
}
