#ifndef STRATA_PACKAGE_EXTRACTIONMARK_H_
#define STRATA_PACKAGE_EXTRACTIONMARK_H_

#include <string>

// The mark a package leaves in the extraction directory it makes, so that a
// later package removes or replaces only a directory of that name that a
// package made, never one of the user's. The mark is one file inside the
// directory; whatever removes the whole directory removes the mark with it,
// and whatever moves the directory's entries elsewhere (the second stage
// placing the product) passes over the mark.

// The name of the mark file inside the directory.
extern const char kExtractionMarkName[];

// Creates the mark file in dir, a directory the caller has just made: true,
// or false with *error ("cannot mark DIR: reason"). Never follows a link,
// never writes over an existing file.
bool MarkExtractionDirectory(const std::string& dir, std::string* error);

// Whether path is a directory that holds the mark: a regular file of that
// name (not a link to one) with the mark's text. A link to such a directory
// counts too: removing the link loses nothing of anyone's.
bool IsMarkedExtractionDirectory(const std::string& path);

#endif  // STRATA_PACKAGE_EXTRACTIONMARK_H_
