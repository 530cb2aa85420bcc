// Stands in for a launcher of the first package record layout (76 bytes,
// without the layout field and the unpacked size), as launchers built before
// that layout changed carry it: the builder must recognize it and refuse it.
#include <stdint.h>

namespace {

struct FirstLayoutRecord {
  char magic[16];
  int32_t archiveLength;
  int32_t extractorLength;
  char archiveType[16];
  uint32_t checksumKind;
  unsigned char checksum[32];
};
static_assert(sizeof(FirstLayoutRecord) == 76, "the first layout");

}  // namespace

extern const volatile FirstLayoutRecord g_olderRecord;
__attribute__((used)) const volatile FirstLayoutRecord g_olderRecord = {
    "StrataPkgRecord", 11866035, 89741, "bz2", 0, {0}};

int main() {
  return g_olderRecord.archiveLength > 0 ? 0 : 1;
}
