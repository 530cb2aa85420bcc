#ifndef STRATA_COMMON_DIRECTORYLISTING_H_
#define STRATA_COMMON_DIRECTORYLISTING_H_

#include <string>
#include <utility>
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

// The names in the directory open at fd with their kinds as the listing
// gives them (DT_REG, DT_DIR, ...; DT_UNKNOWN where the file system does
// not say), in the listing's order, in *entries: true, or false with
// *error ("shown: reason"). fd is left as it was.
bool ListEntriesAt(int fd, const std::string& shown,
                   std::vector<std::pair<std::string, unsigned char>>* entries, std::string* error);

#endif  // STRATA_COMMON_DIRECTORYLISTING_H_
