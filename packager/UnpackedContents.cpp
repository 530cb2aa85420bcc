#include "packager/UnpackedContents.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <memory>

#include "package/PackageRecord.h"

namespace {

uint64_t AddCapped(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

struct ArchiveReader {
  void operator()(archive* reader) const { archive_read_free(reader); }
};

// Far above any second stage; an archive claiming more is not read into
// memory for it.
const int64_t kMaxSetupProgram = 256 << 20;

}  // namespace

bool UnpackedContents::ReadSetupProgram(archive* reader, archive_entry* entry) {
  m_szSetupProgram.clear();
  if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) > kMaxSetupProgram)
    return true;
  m_szSetupProgram.resize(static_cast<size_t>(archive_entry_size(entry)));
  size_t got = 0;
  while (got < m_szSetupProgram.size()) {
    la_ssize_t n = archive_read_data(reader, &m_szSetupProgram[got], m_szSetupProgram.size() - got);
    if (n < 0)
      return false;
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  m_szSetupProgram.resize(got);
  return true;
}

std::string UnpackedContents::Relative(const std::string& name) {
  size_t start = 0;
  while (name.compare(start, 2, "./") == 0)
    start += 2;
  return name.substr(start);
}

void UnpackedContents::Note(const std::string& name) {
  // The names the launcher tries, in its extraction directory.
  static const char* const kSecondStages[] = {"Bin/setup", "Bin/setup.sh", "Bin/setup.pl",
                                              "Bin/setup.py"};
  const std::string relative = Relative(name);
  for (const char* stage : kSecondStages) {
    if (relative == stage)
      m_bSecondStage = true;
  }
  size_t slash = relative.find('/');
  if (slash != std::string::npos && slash > 0)
    m_topDirectories.insert(relative.substr(0, slash));
}

bool UnpackedContents::HasTopDirectory(const std::string& name) const {
  return m_topDirectories.count(name) != 0;
}

void UnpackedContents::AddFile(const std::string& name, uint64_t size) {
  Note(name);
  uint64_t blocks = size / kUnpackedBlockSize + (size % kUnpackedBlockSize != 0 ? 1 : 0);
  m_nSize = blocks > UINT64_MAX / kUnpackedBlockSize
                ? UINT64_MAX
                : AddCapped(m_nSize, blocks * kUnpackedBlockSize);
}

void UnpackedContents::AddDirectory(const std::string& name) {
  // "./adm_b_db/" counts as the folder of an empty name below it.
  Note(name + "/");
  m_nSize = AddCapped(m_nSize, kUnpackedBlockSize);
}

void UnpackedContents::AddLink(const std::string& name) {
  Note(name);
}

bool UnpackedContents::ReadArchive(int fd, std::string* error) {
  if (lseek(fd, 0, SEEK_SET) != 0) {
    *error = "cannot read it from its start";
    return false;
  }
  std::unique_ptr<archive, ArchiveReader> reader(archive_read_new());
  if (!reader) {
    *error = "out of memory";
    return false;
  }
  archive_read_support_filter_all(reader.get());
  archive_read_support_format_all(reader.get());
  if (archive_read_open_fd(reader.get(), fd, 1 << 20) != ARCHIVE_OK) {
    *error = archive_error_string(reader.get()) ? archive_error_string(reader.get()) : "unreadable";
    return false;
  }
  archive_entry* entry = nullptr;
  int status;
  while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK ||
         status == ARCHIVE_WARN) {
    const char* path = archive_entry_pathname(entry);
    const std::string name = path && *path ? path : ".";
    if (archive_entry_hardlink(entry) != nullptr || archive_entry_filetype(entry) == AE_IFLNK)
      AddLink(name);
    else if (archive_entry_filetype(entry) == AE_IFDIR)
      AddDirectory(name.back() == '/' ? name.substr(0, name.size() - 1) : name);
    else
      AddFile(name, archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0
                        ? static_cast<uint64_t>(archive_entry_size(entry))
                        : 0);
    // Its bytes, for the builder to read its headers from.
    if (archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr &&
        Relative(name) == "Bin/setup" && !ReadSetupProgram(reader.get(), entry))
      break;
    // Reading on to the next header decompresses the data in between, and
    // so finds an archive that is cut short or damaged.
  }
  if (status != ARCHIVE_EOF) {
    *error = archive_error_string(reader.get()) ? archive_error_string(reader.get()) : "unreadable";
    return false;
  }
  return true;
}
