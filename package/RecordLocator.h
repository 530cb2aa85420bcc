#ifndef STRATA_PACKAGE_RECORDLOCATOR_H_
#define STRATA_PACKAGE_RECORDLOCATOR_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "package/PackageRecord.h"

// Finding, reading and writing the package record that a launcher carries,
// by the magic text that starts it (all 16 bytes, the NUL included).

// FindRecordMagic reads the file in blocks of this size.
const size_t kRecordSearchBlockSize = 1 << 20;

// Appends to *offsets the file offsets of the first maxCount copies of the
// magic (16 bytes: this layout's by default, another layout's to recognize
// it) in the first limit bytes of fd (read with pread). False with *error
// (the system's text) on a read error.
bool FindRecordMagic(int fd, uint64_t limit, size_t maxCount, std::vector<uint64_t>* offsets,
                     std::string* error, const char* magic = STRATA_PACKAGE_RECORD_MAGIC);

// The 16-byte magic of the first record layout (76 bytes, before the layout
// field and the unpacked size), so that a builder can name a launcher or a
// package of that layout instead of taking it for none. Made at run time,
// so that no program carries it whole where an older builder would look.
std::string FirstLayoutMagic();

// The record stored at offset: true, or false with *error (the system's
// text, or "the record is cut short" at the end of the file).
bool ReadRecordAt(int fd, uint64_t offset, PackageRecord* record, std::string* error);

// Overwrites the record at offset: true, or false with *error (the system's
// text).
bool WriteRecordAt(int fd, uint64_t offset, const PackageRecord& record, std::string* error);

// Whether the record's lengths are those of pieces that a file of fileSize
// bytes holds after the record at offset: an archive of one byte or more,
// and a decompressor of none or more.
bool PiecesFitAfterRecord(const PackageRecord& record, uint64_t offset, uint64_t fileSize);

// Whether the record holds the values compiled into the launcher, with no
// checksum: no builder has filled it in.
bool HoldsBuiltInValues(const PackageRecord& record);

#endif  // STRATA_PACKAGE_RECORDLOCATOR_H_
