#ifndef STRATA_COMMON_DIRECTORYLISTING_H_
#define STRATA_COMMON_DIRECTORYLISTING_H_

#include <string>
#include <vector>

// The names in dir but "." and "..", sorted by byte value so that every run
// walks a tree in the same order, appended to *names: true, or false with
// *error ("dir: reason") when dir cannot be read.
bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error);

#endif  // STRATA_COMMON_DIRECTORYLISTING_H_
