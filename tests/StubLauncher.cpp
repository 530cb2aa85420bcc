// Stands in for the launcher in the builder's tests: a program that carries
// one package record and prints what it reads from it, so that a test can
// see a patched record through the program's own eyes.
#include <stdio.h>

#include "package/PackageRecord.h"

int main() {
  PackageRecord record = LoadPackageRecord();
  printf("%d %d %s %u\n", record.archiveLength, record.extractorLength, record.archiveType,
         record.checksumKind);
  return 0;
}
