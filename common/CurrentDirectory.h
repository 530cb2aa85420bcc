#ifndef STRATA_COMMON_CURRENTDIRECTORY_H_
#define STRATA_COMMON_CURRENTDIRECTORY_H_

#include <string>

// The absolute path of the working directory, however long, in *dir: true,
// or false with errno set and *dir untouched when it cannot be had (the
// directory was removed, or a part of the path may not be searched).
bool CurrentDirectory(std::string* dir);

#endif  // STRATA_COMMON_CURRENTDIRECTORY_H_
