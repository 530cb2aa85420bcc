// The second-stage installer's placing step alone, as setup runs it:
// bench_place [--copy] FROM TO puts the product's files from FROM into TO,
// by rename where FROM and TO share a file system, or (--copy) by copying as
// it does between file systems.
#include <stdio.h>
#include <string.h>

#include <string>

#include "driver/installation/ProductFiles.h"

int main(int argc, char** argv) {
  bool copy = argc == 4 && strcmp(argv[1], "--copy") == 0;
  if (argc != (copy ? 4 : 3)) {
    fprintf(stderr, "usage: %s [--copy] FROM TO\n", argv[0]);
    return 2;
  }
  ProductFiles files(argv[argc - 2], argv[argc - 1]);
  files.SetCopyAlways(copy);
  std::string error;
  if (!files.Place(&error)) {
    fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  printf("%d moved, %d copied\n", files.MovedCount(), files.CopiedCount());
  return 0;
}
