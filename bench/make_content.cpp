// Writes the benchmark's product tree: make_content SEED BYTES DIR.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "bench/ContentGenerator.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s SEED BYTES DIR\n", argv[0]);
    return 2;
  }
  ContentGenerator generator(strtoull(argv[1], nullptr, 10));
  std::string error;
  if (!generator.Generate(argv[3], strtoull(argv[2], nullptr, 10), &error)) {
    fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  printf("%llu files, %llu bytes\n", static_cast<unsigned long long>(generator.FileCount()),
         static_cast<unsigned long long>(generator.ByteCount()));
  return 0;
}
