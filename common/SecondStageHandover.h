#ifndef STRATA_COMMON_SECONDSTAGEHANDOVER_H_
#define STRATA_COMMON_SECONDSTAGEHANDOVER_H_

// What the launcher hands the second stage besides its command line. Both
// sides include this, so that neither can rename its half alone.

// The directory, below the one the user starts the package in, that the
// launcher unpacks into and the second stage runs in and removes. A macro
// too, for the shell commands that name it inside a literal.
#define STRATA_EXTRACTION_DIR_NAME "qzsetup"
inline constexpr char kExtractionDirName[] = STRATA_EXTRACTION_DIR_NAME;

// The package's digest, "kind:hex" or "none"; absent when the second stage
// was started by hand.
inline constexpr char kPackageDigestVariable[] = "STRATA_PACKAGE_DIGEST";
// The package file's absolute path; absent when it could not be resolved.
inline constexpr char kPackageFileVariable[] = "STRATA_PACKAGE_FILE";

#endif  // STRATA_COMMON_SECONDSTAGEHANDOVER_H_
