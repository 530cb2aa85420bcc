#include "launcher/ExtractionCommand.h"

#include <string.h>

#include "common/Format.h"
#include "common/ShellQuote.h"

bool MakeExtractionCommand(const char* type, const std::string& decompressor, const char* dir,
                           std::string* command, const char** archiveFileName) {
  if (type == nullptr)
    return false;
  // A working directory may hold blanks or shell syntax; it reaches the
  // command only through the decompressor's absolute path.
  const std::string tool = ShellQuoteIfNeeded(decompressor);
  const std::string in = ShellQuoteIfNeeded(dir);
  // Pipe mode: the shell's status is tar's, so the decompressor reports its
  // own on descriptor 3 (see launcher/Sink.h); and tar runs only once it is
  // inside the directory, never in the working directory when the cd fails.
  // A zstd archive ("tzst") goes through its carried decompressor just as a
  // bzip2 one does.
  if (strcmp(type, "bz2") == 0 || strcmp(type, "tzst") == 0) {
    *command =
        FormatText("{ %s -dc; echo $? >&3; } | (cd %s && tar xof -)", tool.c_str(), in.c_str());
    *archiveFileName = nullptr;
  } else if (strcmp(type, "tgz") == 0) {
    *command = FormatText("{ gunzip -c; echo $? >&3; } | (cd %s && tar xof -)", in.c_str());
    *archiveFileName = nullptr;
  } else if (strcmp(type, "tz") == 0) {
    *command = FormatText("{ uncompress; echo $? >&3; } | (cd %s && tar xof -)", in.c_str());
    *archiveFileName = nullptr;
  } else if (strcmp(type, "rzt") == 0) {
    // File mode: each step only after the one before it succeeded, so that
    // the status is the extraction's and nothing runs outside the directory.
    const char* name = "zparchive.rzt";
    *command = FormatText("cd %s && %s -xvf %s && rm -f %s", in.c_str(), tool.c_str(), name, name);
    *archiveFileName = name;
  } else if (strcmp(type, "zip") == 0) {
    const char* name = "zparchive.zip";
    *command = FormatText("cd %s && %s %s && rm -f %s\n", in.c_str(), tool.c_str(), name, name);
    *archiveFileName = name;
  } else {
    return false;
  }
  return true;
}

bool MakeListingCommand(const char* type, const std::string& decompressor, std::string* command) {
  if (type == nullptr)
    return false;
  std::string decompress;
  if (strcmp(type, "bz2") == 0 || strcmp(type, "tzst") == 0)
    decompress = ShellQuoteIfNeeded(decompressor) + " -dc";
  else if (strcmp(type, "tgz") == 0)
    decompress = "gunzip -c";
  else if (strcmp(type, "tz") == 0)
    decompress = "uncompress";
  else
    return false;
  *command = FormatText("{ %s; echo $? >&3; } | tar tvf -", decompress.c_str());
  return true;
}
