#ifndef STRATA_TESTS_PACKAGERECORDFILE_H_
#define STRATA_TESTS_PACKAGERECORDFILE_H_

#include <stddef.h>

#include <string>

#include "package/PackageRecord.h"

// The package record inside a launcher or a built package, for tests that
// check what the builder wrote or need a package whose record does not tell
// the truth.

// The record at the only copy of the magic in bytes, and its offset; fails
// the current test and returns false when there is none or more than one.
bool RecordOf(const std::string& bytes, PackageRecord* record, size_t* offset = nullptr);

// Read and rewrite the record of a package file: the first place in the file
// that holds the record's magic. Each fails the current test and returns
// false on an error.
bool ReadPackageRecord(const std::string& package, PackageRecord* record);
bool WritePackageRecord(const std::string& package, const PackageRecord& record);

#endif  // STRATA_TESTS_PACKAGERECORDFILE_H_
