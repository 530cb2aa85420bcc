#ifndef STRATA_COMMON_REMOVETREE_H_
#define STRATA_COMMON_REMOVETREE_H_

#include <string>

// Removes path and, for a directory (never followed through a symbolic
// link), everything in it; a directory without write or search permission
// for its owner is given them first. True, also when nothing has the name,
// or false with *error ("path: reason") naming the first entry that stayed;
// what could go before it is gone.
bool RemoveTree(const std::string& path, std::string* error);

#endif  // STRATA_COMMON_REMOVETREE_H_
