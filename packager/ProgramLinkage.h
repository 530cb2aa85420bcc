#ifndef STRATA_PACKAGER_PROGRAMLINKAGE_H_
#define STRATA_PACKAGER_PROGRAMLINKAGE_H_

#include <stdint.h>

#include <string>
#include <vector>

// What an ELF program needs from the system that runs it, read from its
// headers without running it: the program interpreter (PT_INTERP) and the
// shared libraries of its dynamic section (DT_NEEDED), and how many bytes of
// debug information (".debug_*" sections) it carries. A package carries its
// decompressor and its second stage to machines the builder knows nothing
// of, where only a program that needs neither is sure to start.
struct ProgramLinkage {
  bool elf = false;         // the file is an ELF program of a known class
  std::string interpreter;  // "" for none
  std::vector<std::string> libraries;
  uint64_t debugBytes = 0;

  bool Dynamic() const { return !interpreter.empty() || !libraries.empty(); }
  // "libbz2.so.1.0, libc.so.6 and the loader /lib64/ld-linux-x86-64.so.2".
  std::string Needs() const;
};

// Reads the headers of the open file fd. False with *error (the system's
// text) only when reading fails; a file that is not ELF, or whose headers
// are cut short or inconsistent, gives a linkage with elf false.
bool ReadProgramLinkage(int fd, ProgramLinkage* linkage, std::string* error);

#endif  // STRATA_PACKAGER_PROGRAMLINKAGE_H_
