// Stage one of an installation package: everything happens in Stage1::Main,
// with the values of the record that the package builder patched into this
// program.
#include "launcher/Stage1.h"
#include "package/PackageRecord.h"

int main(int argc, char** argv) {
  PackageRecord record = LoadPackageRecord();
  // Static, so that the object stays reachable until the process ends inside
  // Main; it is never destroyed.
  static Stage1* stage1 = new Stage1;
  stage1->SetChecksum(record.checksumKind, record.checksum);
  stage1->SetUnpackedSize(record.unpackedSize);
  stage1->Main(record.archiveLength, record.extractorLength, record.archiveType, argc, argv);
}
