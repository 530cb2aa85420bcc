#ifndef STRATA_LAUNCHER_PACKAGEQUERY_H_
#define STRATA_LAUNCHER_PACKAGEQUERY_H_

#include <string>

// What the package is asked to do instead of installing, from its command
// line: "--info" (show the record and check the pieces), "--list" (list the
// archive's members) or "--extract-only DIR" (unpack into DIR and start
// nothing). None of the three is an option of the second stage, and the
// arguments stay in argv as they are.
struct PackageQuery {
  enum Kind { kInstall, kInfo, kList, kExtractOnly };
  Kind kind = kInstall;
  std::string dir;  // for kExtractOnly

  // Reads argv[1] .. argv[argc - 1] (exact matches only). True with *query
  // set; false with *problem, the launcher's error text, when more than one
  // of the three is given or "--extract-only" has no directory after it.
  static bool Find(int argc, char** argv, PackageQuery* query, std::string* problem);
};

#endif  // STRATA_LAUNCHER_PACKAGEQUERY_H_
