#ifndef STRATA_COMMON_DIRECTORYLISTING_H_
#define STRATA_COMMON_DIRECTORYLISTING_H_

#include <string>
#include <vector>

// The names in dir but "." and "..", sorted by byte value so that every run
// walks a tree in the same order, appended to *names: true, or false with
// *error ("dir: reason") when dir cannot be read.
bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error);

// The same for the directory open at fd (an O_PATH descriptor will do; fd
// itself is left as it was), so that a caller who reached it without
// following links lists that very directory; shown names it in *error.
bool ListDirectoryAt(int fd, const std::string& shown, std::vector<std::string>* names,
                     std::string* error);

#endif  // STRATA_COMMON_DIRECTORYLISTING_H_
