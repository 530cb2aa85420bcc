#include "packager/ProgramLinkage.h"

#include <elf.h>
#include <errno.h>
#include <string.h>

#include "common/FileIo.h"
#include "common/SystemError.h"

namespace {

// Reads size bytes at offset; *whole says whether the file had them all.
bool ReadAt(int fd, uint64_t offset, void* data, size_t size, bool* whole, std::string* error) {
  size_t got = 0;
  if (!PreadFull(fd, data, size, offset, &got)) {
    *error = ErrnoText(errno);
    return false;
  }
  *whole = got == size;
  return true;
}

// Text up to a NUL at offset, at most 4 KiB of it.
bool ReadName(int fd, uint64_t offset, std::string* name, std::string* error) {
  std::string buffer(4096, '\0');
  size_t got = 0;
  if (!PreadFull(fd, &buffer[0], buffer.size(), offset, &got)) {
    *error = ErrnoText(errno);
    return false;
  }
  buffer.resize(got);
  *name = buffer.substr(0, buffer.find('\0'));
  return true;
}

// Adds up the sections whose names start ".debug_" or ".zdebug_"
// (compressed), which a stripped program no longer has.
template <typename Ehdr, typename Shdr>
bool ReadDebugBytes(int fd, const Ehdr& header, ProgramLinkage* linkage, std::string* error) {
  // More sections than this is no program's.
  if (header.e_shentsize != sizeof(Shdr) || header.e_shnum == 0 || header.e_shnum > 65535 ||
      header.e_shstrndx >= header.e_shnum)
    return true;
  std::vector<Shdr> sections(header.e_shnum);
  bool whole = false;
  if (!ReadAt(fd, header.e_shoff, sections.data(), sections.size() * sizeof(Shdr), &whole, error))
    return false;
  if (!whole)
    return true;
  const Shdr& names = sections[header.e_shstrndx];
  // A section name table of more than 1 MiB is not a program's.
  if (names.sh_type != SHT_STRTAB || names.sh_size > (1u << 20))
    return true;
  std::string table(names.sh_size, '\0');
  if (!ReadAt(fd, names.sh_offset, &table[0], table.size(), &whole, error))
    return false;
  if (!whole)
    return true;
  for (const Shdr& section : sections) {
    if (section.sh_name >= table.size() || section.sh_type == SHT_NOBITS)
      continue;
    const char* name = table.c_str() + section.sh_name;
    if (strncmp(name, ".debug_", 7) == 0 || strncmp(name, ".zdebug_", 8) == 0)
      linkage->debugBytes += section.sh_size;
  }
  return true;
}

template <typename Ehdr, typename Phdr, typename Dyn, typename Shdr>
bool ReadLinkage(int fd, ProgramLinkage* linkage, std::string* error) {
  Ehdr header;
  bool whole = false;
  if (!ReadAt(fd, 0, &header, sizeof header, &whole, error))
    return false;
  if (!whole || header.e_phentsize != sizeof(Phdr) || header.e_phnum == 0)
    return true;
  std::vector<Phdr> segments(header.e_phnum);
  if (!ReadAt(fd, header.e_phoff, segments.data(), segments.size() * sizeof(Phdr), &whole, error))
    return false;
  if (!whole)
    return true;
  linkage->elf = true;
  if (!ReadDebugBytes<Ehdr, Shdr>(fd, header, linkage, error))
    return false;

  const Phdr* dynamic = nullptr;
  for (const Phdr& segment : segments) {
    if (segment.p_type == PT_INTERP &&
        !ReadName(fd, segment.p_offset, &linkage->interpreter, error))
      return false;
    if (segment.p_type == PT_DYNAMIC)
      dynamic = &segment;
  }
  // A dynamic section of more than 64 Ki entries is not a program's.
  if (dynamic == nullptr || dynamic->p_filesz / sizeof(Dyn) > 65536)
    return true;
  std::vector<Dyn> entries(dynamic->p_filesz / sizeof(Dyn));
  if (!ReadAt(fd, dynamic->p_offset, entries.data(), entries.size() * sizeof(Dyn), &whole, error))
    return false;
  if (!whole)
    return true;
  uint64_t strtab = 0;
  std::vector<uint64_t> needed;
  for (const Dyn& entry : entries) {
    if (entry.d_tag == DT_NULL)
      break;
    if (entry.d_tag == DT_STRTAB)
      strtab = entry.d_un.d_ptr;
    else if (entry.d_tag == DT_NEEDED)
      needed.push_back(entry.d_un.d_val);
  }
  // The string table is named by its address once loaded; the loadable
  // segment that holds that address says where it lies in the file.
  const Phdr* holder = nullptr;
  for (const Phdr& segment : segments) {
    if (segment.p_type == PT_LOAD && strtab >= segment.p_vaddr &&
        strtab < segment.p_vaddr + segment.p_filesz)
      holder = &segment;
  }
  for (uint64_t name : needed) {
    std::string library = "a shared library";
    if (holder != nullptr &&
        !ReadName(fd, holder->p_offset + (strtab - holder->p_vaddr) + name, &library, error))
      return false;
    linkage->libraries.push_back(library);
  }
  return true;
}

}  // namespace

std::string ProgramLinkage::Needs() const {
  std::vector<std::string> parts = libraries;
  if (!interpreter.empty())
    parts.push_back("the loader " + interpreter);
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0)
      text += i + 1 == parts.size() ? " and " : ", ";
    text += parts[i];
  }
  return text;
}

bool ReadProgramLinkage(int fd, ProgramLinkage* linkage, std::string* error) {
  *linkage = ProgramLinkage();
  unsigned char ident[EI_NIDENT];
  bool whole = false;
  if (!ReadAt(fd, 0, ident, sizeof ident, &whole, error))
    return false;
  // Only the byte order of the machines the product runs on is read.
  if (!whole || memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB)
    return true;
  if (ident[EI_CLASS] == ELFCLASS64)
    return ReadLinkage<Elf64_Ehdr, Elf64_Phdr, Elf64_Dyn, Elf64_Shdr>(fd, linkage, error);
  if (ident[EI_CLASS] == ELFCLASS32)
    return ReadLinkage<Elf32_Ehdr, Elf32_Phdr, Elf32_Dyn, Elf32_Shdr>(fd, linkage, error);
  return true;
}
