#ifndef STRATA_TESTS_PACKAGERECORDFILE_H_
#define STRATA_TESTS_PACKAGERECORDFILE_H_

#include <string>

#include "launcher/PackageRecord.h"

// Reads and rewrites the package record inside a built package, for tests
// that need a package whose record does not tell the truth. The record is the
// first place in the file that holds the record's magic. Each fails the
// current test and returns false on an error.
bool ReadPackageRecord(const std::string& package, PackageRecord* record);
bool WritePackageRecord(const std::string& package, const PackageRecord& record);

#endif  // STRATA_TESTS_PACKAGERECORDFILE_H_
