#ifndef STRATA_LAUNCHER_PACKAGEREPORT_H_
#define STRATA_LAUNCHER_PACKAGEREPORT_H_

#include <stdint.h>

#include <string>

#include "package/PackageRecord.h"

// What "--info" shows of a package: its identity, its record, whether its
// pieces check out, and whether a signature lies beside it. Built from facts
// the launcher has gathered; nothing here reads or writes a file.
struct PackageFacts {
  enum Verdict {
    kVerified,     // the pieces give the recorded digest
    kNoChecksum,   // the record has none
    kMismatch,     // they give another one, in actual
    kUnknownKind,  // the record's checksum kind is not one this launcher knows
    kDoesNotFit,   // the file is shorter than the pieces the record describes
    kUnreadable,   // the pieces could not be read, why in actual
  };

  std::string path;  // the package file
  int64_t fileSize = 0;
  PackageRecord record = {};
  Verdict verdict = kNoChecksum;
  std::string actual;
  // What lies at path + ".minisig": nothing, a regular file, or another kind
  // of file (never opened).
  enum Signature { kNoSignature, kSignatureFile, kOtherFile } signature = kNoSignature;

  // Whether the verdict lets the package be unpacked.
  bool Sound() const { return verdict == kVerified || verdict == kNoChecksum; }
};

// The report, one "Name:  value" line each, the values starting in column 15:
// Package, Product, Version, Size, Launcher (when the pieces fit), Decompressor,
// Archive, Unpacked, Type, Checksum, Verified, Signature.
std::string PackageReport(const PackageFacts& facts);

#endif  // STRATA_LAUNCHER_PACKAGEREPORT_H_
