#ifndef STRATA_PACKAGER_TESTFILES_H_
#define STRATA_PACKAGER_TESTFILES_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "launcher/PackageRecord.h"

// Helpers of the packager's tests: a temporary directory that removes
// itself, whole-file reads and writes, and running real commands.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_szPath; }
  // Path of name inside the directory.
  std::string operator/(const std::string& name) const { return m_szPath + "/" + name; }

 private:
  std::string m_szPath;
};

void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
mode_t ModeOf(const std::string& path);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& path);

// Runs a shell command; returns its exit status and, in *output, what it
// wrote to standard output.
int RunShell(const std::string& command, std::string* output = nullptr);
// Single-quotes text for the shell.
std::string Quote(const std::string& text);

// The record found at the only copy of the magic in the file's bytes;
// fails the calling test (and returns false) when there is none or more.
bool RecordOf(const std::string& bytes, PackageRecord* record, size_t* offset = nullptr);

#endif  // STRATA_PACKAGER_TESTFILES_H_
