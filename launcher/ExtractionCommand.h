#ifndef STRATA_LAUNCHER_EXTRACTIONCOMMAND_H_
#define STRATA_LAUNCHER_EXTRACTIONCOMMAND_H_

#include <string>

// The shell command that unpacks an archive of the given type ("bz2", "tgz",
// "tz", "rzt", "zip", "tzst") into dir, using the decompressor at the given path. On
// success *archiveFileName is null for the pipe-mode types (the archive goes
// to the command's standard input) and the name of the file to write into dir
// for the file-mode types. Returns false, leaving both untouched, for a type
// that is not one of these. A pipe-mode command writes the decompressor's exit
// status and a line feed to its descriptor 3; a file-mode command's own status
// is the extraction's. Neither runs its extraction anywhere but in dir.
bool MakeExtractionCommand(const char* type, const std::string& decompressor, const char* dir,
                           std::string* command, const char** archiveFileName);

// The shell command that lists the members of an archive of a pipe-mode
// type read from its standard input, as "tar tv" shows them, on standard
// output, reporting the decompressor's status on descriptor 3 as the
// extraction does. False, leaving *command untouched, for the file-mode
// types, whose decompressors have no listing of their own that the launcher
// knows, and for unknown types.
bool MakeListingCommand(const char* type, const std::string& decompressor, std::string* command);

#endif  // STRATA_LAUNCHER_EXTRACTIONCOMMAND_H_
